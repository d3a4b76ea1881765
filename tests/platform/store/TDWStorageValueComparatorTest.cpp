#include "StoreTestModel.h"

#include "platform/store/TDWSqliteConnection.h"
#include "platform/store/TDWStorageValueComparator.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Merging the results of several stores relies on ordering values in memory exactly
// as SQLite orders them; SQLite itself is the reference here.
TEST(StorageValueComparator, OrdersValuesAsSqliteDoes)
{
    const QVariantList values{
        QVariant(), qlonglong(3), 2.5, qlonglong(-7), 1e300, QStringLiteral("b"), QStringLiteral("B"), QStringLiteral("a"),
        QStringLiteral("É"), QStringLiteral("é"), QStringLiteral("e"), QStringLiteral("\U0001F600 emoji"), QStringLiteral("\uFFFD replacement"),
        QStringLiteral("\uE000 private"), QStringLiteral("STRASSE"), QStringLiteral("straße"), QStringLiteral(""), QByteArray("\x01\x02", 2),
        QByteArray("\x01", 1), QByteArray(), qlonglong(3),
    };
    TDWError error;
    TDWSqliteConnection::Options options;
    options.create = true;
    auto connection = TDWSqliteConnection::open(QStringLiteral(":memory:"), options, &error);
    ASSERT_TRUE(connection) << error.description().toStdString();
    ASSERT_TRUE(connection->exec(QStringLiteral("CREATE TABLE v (i INTEGER, x)"), &error));
    for (int i = 0; i < values.size(); ++i) {
        TDWSqliteStatement insert = connection->prepare(QStringLiteral("INSERT INTO v VALUES (?, ?)"), &error);
        insert.bindInt64(1, i);
        insert.bindValue(2, values[i]);
        ASSERT_TRUE(insert.execute(&error));
    }
    const QList<std::pair<TDWSortDescriptor::Comparison, QString>> comparisons{
        {TDWSortDescriptor::Compare, QString()},
        {TDWSortDescriptor::CaseInsensitive, QStringLiteral(" COLLATE TDW_NOCASE")},
        {TDWSortDescriptor::LocalizedCaseInsensitive, QStringLiteral(" COLLATE TDW_LOCALIZED_NOCASE")},
    };
    TDWStorageValueComparator comparator;
    for (const auto &[comparison, collation] : comparisons) {
        for (bool ascending : {true, false}) {
            QList<qint64> bySqlite;
            TDWSqliteStatement select = connection->prepare(
                QStringLiteral("SELECT i FROM v ORDER BY x%1 %2, i").arg(collation, ascending ? QStringLiteral("ASC") : QStringLiteral("DESC")), &error);
            while (select.step(&error) == TDWSqliteStatement::Row)
                bySqlite.append(select.int64At(0));
            QList<qint64> inMemory;
            for (int i = 0; i < values.size(); ++i)
                inMemory.append(i);
            std::stable_sort(inMemory.begin(), inMemory.end(), [&](qint64 a, qint64 b) {
                const int result = comparator.compare(values[a], values[b], comparison);
                return ascending ? result < 0 : result > 0;
            });
            EXPECT_EQ(inMemory, bySqlite) << "comparison " << comparison << (ascending ? " ascending" : " descending");
        }
    }
}

} // namespace
