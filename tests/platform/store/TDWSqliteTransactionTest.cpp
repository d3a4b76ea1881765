#include "platform/store/TDWSqliteTransaction.h"

#include "platform/store/TDWSqliteConnection.h"

#include "TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

struct TwoConnections
{
    std::unique_ptr<TDWSqliteConnection> writer;
    std::unique_ptr<TDWSqliteConnection> other;
};

TwoConnections openFile()
{
    const QString path = QDir(tdwtest::freshDir()).filePath(QStringLiteral("t.sqlite"));
    TDWSqliteConnection::Options options;
    options.create = true;
    options.busyTimeoutMs = 0;
    TwoConnections c;
    c.writer = TDWSqliteConnection::open(path, options, nullptr);
    if (c.writer) {
        c.writer->exec(QStringLiteral("PRAGMA journal_mode=WAL;"
                                      "CREATE TABLE parent(id INTEGER PRIMARY KEY);"
                                      "CREATE TABLE child(id INTEGER PRIMARY KEY, parent INTEGER REFERENCES parent(id) DEFERRABLE INITIALLY DEFERRED)"),
                       nullptr);
        c.other = TDWSqliteConnection::open(path, options, nullptr);
    }
    return c;
}

qint64 count(TDWSqliteConnection &connection, const char *table)
{
    TDWSqliteStatement statement = connection.prepare(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table)), nullptr);
    return statement.step(nullptr) == TDWSqliteStatement::Row ? statement.int64At(0) : -1;
}

// Every way out of a transaction's scope but a successful commit undoes it and
// frees the file's write lock for the next writer.
TEST(TDWSqliteTransaction, LeavingTheScopeWithoutACommitRollsBack)
{
    const struct
    {
        const char *name;
        const char *sql;
        bool tryCommit; // a COMMIT that fails leaves the transaction open
    } rows[] = {
        {"no commit", "INSERT INTO parent VALUES (1)", false},
        {"failed commit", "INSERT INTO child VALUES (1, 99)", true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        TwoConnections c = openFile();
        ASSERT_TRUE(c.writer && c.other);
        {
            TDWSqliteTransaction transaction(*c.writer);
            TDWError error;
            ASSERT_TRUE(transaction.begin(&error)) << qPrintable(error.description());
            ASSERT_TRUE(c.writer->exec(QString::fromLatin1(row.sql), &error)) << qPrintable(error.description());
            if (row.tryCommit) {
                EXPECT_FALSE(transaction.commit(&error));
                EXPECT_FALSE(error.isNull());
                EXPECT_TRUE(transaction.isActive());
            }
            // The lock is held while the transaction lives...
            TDWSqliteTransaction blocked(*c.other);
            EXPECT_FALSE(blocked.begin(nullptr));
        }
        EXPECT_FALSE(c.writer->inTransaction());
        EXPECT_EQ(count(*c.writer, "parent") + count(*c.writer, "child"), 0);
        // ...and free once it is gone.
        TDWSqliteTransaction next(*c.other);
        EXPECT_TRUE(next.begin(nullptr));
    }
}

TEST(TDWSqliteTransaction, ACommitKeepsTheChangesAndEndsTheTransaction)
{
    TwoConnections c = openFile();
    ASSERT_TRUE(c.writer && c.other);
    TDWError error;
    {
        TDWSqliteTransaction transaction(*c.writer);
        EXPECT_FALSE(transaction.commit(&error)) << "a commit without begin";
        ASSERT_TRUE(transaction.begin(&error));
        ASSERT_TRUE(c.writer->exec(QStringLiteral("INSERT INTO parent VALUES (1); INSERT INTO child VALUES (1, 1)"), &error));
        ASSERT_TRUE(transaction.commit(&error)) << qPrintable(error.description());
        EXPECT_FALSE(transaction.isActive());
        EXPECT_FALSE(c.writer->inTransaction());
        transaction.rollback(); // nothing left to undo
    }
    EXPECT_EQ(count(*c.other, "parent"), 1);
    EXPECT_EQ(count(*c.other, "child"), 1);
}

} // namespace
