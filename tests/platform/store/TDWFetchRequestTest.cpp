#include "StoreTestModel.h"

#include "platform/store/TDWStoreError.h"

#include <QDateTime>
#include <QLocale>
#include <QScopeGuard>

#include <gtest/gtest.h>

using namespace storetest;

namespace {

TDWManagedObjectPtr version(TDWManagedObjectContext &context, const TDWPersistentStorePtr &store, const QString &label)
{
    TDWManagedObjectPtr object = context.insertNewObject(QStringLiteral("Version"), store);
    object->setValue(QStringLiteral("label"), label);
    return object;
}

QStringList values(const QList<TDWManagedObjectPtr> &objects, const QString &key)
{
    QStringList result;
    for (const TDWManagedObjectPtr &object : objects)
        result.append(object->value(key).toString());
    return result;
}

QStringList codes(const std::optional<QList<TDWManagedObjectPtr>> &objects)
{
    return objects ? values(*objects, QStringLiteral("code")) : QStringList{QStringLiteral("<failed>")};
}

struct SortCase
{
    const char *name;
    TDWSortDescriptor::Comparison comparison;
    bool ascending;
    QStringList expected;
};

void PrintTo(const SortCase &value, std::ostream *out)
{
    *out << value.name;
}

class SortOrder : public ::testing::TestWithParam<SortCase>
{
};

// The same titles, once in one store (one SQL query) and once spread over two stores
// with some of them unsaved (merged in memory): both must give the same order.
TEST_P(SortOrder, IsTheSameFromOneStoreOrMerged)
{
    // Localized order depends on the locale; the test fixes one.
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    auto restore = qScopeGuard([&] { QLocale::setDefault(saved); });
    const QStringList titles{QStringLiteral("delta"), QStringLiteral("Bravo"), QStringLiteral("alpha"), QStringLiteral("écho"),
                             QStringLiteral("Charlie"), QStringLiteral("epsilon"), QStringLiteral("bravo")};
    for (int layout = 0; layout < 2; ++layout) {
        Stack stack;
        auto context = stack.newContext();
        for (int i = 0; i < titles.size(); ++i) {
            const TDWPersistentStorePtr store = layout == 0 || i % 2 ? stack.libraryA : stack.libraryB;
            addItem(*context, store, titles[i], titles[i]);
            if (layout == 0 || i < 5) {
                ASSERT_TRUE(context->save(nullptr));
            }
        }
        TDWFetchRequest request(QStringLiteral("Item"));
        request.setSortDescriptors({TDWSortDescriptor(QStringLiteral("title"), GetParam().ascending, GetParam().comparison)});
        TDWError error;
        EXPECT_EQ(codes(context->executeFetchRequest(request, &error)), GetParam().expected) << "layout " << layout;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Comparisons, SortOrder,
    ::testing::Values(
        SortCase{"CodePoints", TDWSortDescriptor::Compare, true,
                 {"Bravo", "Charlie", "alpha", "bravo", "delta", "epsilon", "écho"}},
        SortCase{"CodePointsDescending", TDWSortDescriptor::Compare, false,
                 {"écho", "epsilon", "delta", "bravo", "alpha", "Charlie", "Bravo"}},
        // Ties (Bravo, bravo) keep row order whatever the direction.
        SortCase{"CaseInsensitive", TDWSortDescriptor::CaseInsensitive, true,
                 {"alpha", "Bravo", "bravo", "Charlie", "delta", "epsilon", "écho"}},
        SortCase{"CaseInsensitiveDescending", TDWSortDescriptor::CaseInsensitive, false,
                 {"écho", "epsilon", "delta", "Charlie", "Bravo", "bravo", "alpha"}},
        SortCase{"LocalizedCaseInsensitive", TDWSortDescriptor::LocalizedCaseInsensitive, true,
                 {"alpha", "Bravo", "bravo", "Charlie", "delta", "écho", "epsilon"}}),
    [](const ::testing::TestParamInfo<SortCase> &info) { return std::string(info.param.name); });

// Forty items over two stores, with unsaved inserts and deletes on top: every window
// of the merged order is the matching slice of the full order.
TEST(FetchRequest, WindowsOfAMergedOrderTileTheFullOrder)
{
    Stack stack;
    auto context = stack.newContext();
    for (int i = 0; i < 40; ++i) {
        TDWManagedObjectPtr item = addItem(*context, i % 3 ? stack.libraryA : stack.libraryB, QStringLiteral("c%1").arg(i, 2, 10, QLatin1Char('0')),
                                           i % 2 ? QStringLiteral("Title %1").arg(i % 7) : QStringLiteral("title %1").arg(i % 5));
        item->setValue(QStringLiteral("size"), (i * 7) % 6);
    }
    ASSERT_TRUE(context->save(nullptr));
    for (const char *code : {"c05", "c12"})
        context->deleteObject(context->executeFetchRequest([&] {
            TDWFetchRequest r(QStringLiteral("Item"));
            r.setSqlCondition(QStringLiteral("t.code = ?"), {QString::fromLatin1(code)});
            return r;
        }(), nullptr)->first());
    for (int i = 0; i < 3; ++i)
        addItem(*context, i ? stack.libraryB : nullptr, QStringLiteral("new%1").arg(i), QStringLiteral("title 3"))->setValue(QStringLiteral("size"), i);

    TDWFetchRequest request(QStringLiteral("Item"));
    request.setSortDescriptors({TDWSortDescriptor(QStringLiteral("size"), false),
                                TDWSortDescriptor(QStringLiteral("title"), true, TDWSortDescriptor::CaseInsensitive)});
    auto all = context->executeFetchRequest(request, nullptr);
    ASSERT_TRUE(all);
    ASSERT_EQ(all->size(), 41);
    EXPECT_FALSE(codes(all).contains(QStringLiteral("c05")));
    EXPECT_TRUE(codes(all).contains(QStringLiteral("new0")));
    for (int i = 1; i < all->size(); ++i) {
        const qint64 before = all->at(i - 1)->integerValue(QStringLiteral("size"));
        const qint64 after = all->at(i)->integerValue(QStringLiteral("size"));
        ASSERT_GE(before, after);
        if (before == after) {
            ASSERT_LE(all->at(i - 1)->stringValue(QStringLiteral("title")).toCaseFolded(), all->at(i)->stringValue(QStringLiteral("title")).toCaseFolded());
        }
    }
    EXPECT_EQ(context->countForFetchRequest(request, nullptr), 41);

    const QStringList full = codes(all);
    for (int limit : {1, 7, 41}) {
        for (int offset = 0; offset <= 42; offset += 5) {
            request.setFetchLimit(limit);
            request.setFetchOffset(offset);
            EXPECT_EQ(codes(context->executeFetchRequest(request, nullptr)), full.mid(offset, limit)) << limit << "@" << offset;
            auto ids = context->executeIDFetchRequest(request, nullptr);
            ASSERT_TRUE(ids);
            QStringList idCodes;
            for (const TDWManagedObjectID &id : *ids)
                idCodes.append(context->objectWithID(id)->stringValue(QStringLiteral("code")));
            EXPECT_EQ(idCodes, full.mid(offset, limit));
            EXPECT_EQ(context->countForFetchRequest(request, nullptr), full.mid(offset, limit).size());
        }
    }

    // One store and nothing unsaved: a window past the first rows is read as row ids first.
    auto fresh = stack.newContext();
    request.setAffectedStores({stack.libraryA});
    request.setFetchLimit(0);
    request.setFetchOffset(0);
    const QStringList storeOrder = codes(fresh->executeFetchRequest(request, nullptr));
    ASSERT_EQ(storeOrder.size(), 26);
    request.setFetchLimit(7);
    for (int offset = 1; offset <= 27; offset += 4) {
        request.setFetchOffset(offset);
        EXPECT_EQ(codes(fresh->executeFetchRequest(request, nullptr)), storeOrder.mid(offset, 7)) << offset;
    }
}

TEST(FetchRequest, AffectedStoresRestrictTheSearch)
{
    Stack stack;
    auto context = stack.newContext();
    addItem(*context, stack.libraryA, QStringLiteral("a"), QStringLiteral("t"));
    addItem(*context, stack.libraryB, QStringLiteral("b"), QStringLiteral("t"));
    ASSERT_TRUE(context->save(nullptr));
    TDWFetchRequest request(QStringLiteral("Item"));
    request.setAffectedStores({stack.libraryB});
    EXPECT_EQ(codes(context->executeFetchRequest(request, nullptr)), QStringList{QStringLiteral("b")});
    // A store that cannot hold the entity contributes nothing.
    request.setAffectedStores({stack.main});
    EXPECT_EQ(context->countForFetchRequest(request, nullptr), 0);
    request.setAffectedStores({});
    EXPECT_EQ(context->countForFetchRequest(request, nullptr), 2);
}

TEST(FetchRequest, SortsThroughToOneKeyPaths)
{
    Stack stack;
    auto context = stack.newContext();
    for (const char *code : {"m", "z", "a"})
        addItem(*context, stack.libraryA, QString::fromLatin1(code), QStringLiteral("t"));
    version(*context, stack.libraryA, QStringLiteral("orphan")); // no item: sorts first
    ASSERT_TRUE(context->save(nullptr));
    TDWFetchRequest request(QStringLiteral("Version"));
    request.setSortDescriptors({TDWSortDescriptor(QStringLiteral("item.code"))});
    auto versions = context->executeFetchRequest(request, nullptr);
    ASSERT_TRUE(versions);
    EXPECT_EQ(values(*versions, QStringLiteral("label")), (QStringList{QStringLiteral("orphan"), QStringLiteral("t"), QStringLiteral("t"), QStringLiteral("t")}));
    QStringList itemCodes;
    for (int i = 1; i < versions->size(); ++i)
        itemCodes.append(versions->at(i)->objectValue(QStringLiteral("item"))->stringValue(QStringLiteral("code")));
    EXPECT_EQ(itemCodes, (QStringList{QStringLiteral("a"), QStringLiteral("m"), QStringLiteral("z")}));
}

TEST(FetchRequest, DictionariesCarryTheChosenProperties)
{
    Stack stack;
    auto context = stack.newContext();
    const QDateTime seen = QDateTime::fromString(QStringLiteral("2014-01-02T03:04:05Z"), Qt::ISODate);
    TDWManagedObjectPtr item = addItem(*context, stack.libraryA, QStringLiteral("a"), QStringLiteral("t"));
    ASSERT_TRUE(context->save(nullptr));
    TDWManagedObjectPtr pending = version(*context, stack.libraryA, QStringLiteral("pending"));
    pending->setValue(QStringLiteral("seen"), seen);
    TDWFetchRequest request(QStringLiteral("Version"));
    request.setPropertiesToFetch({QStringLiteral("label"), QStringLiteral("item"), QStringLiteral("seen")});
    request.setSortDescriptors({TDWSortDescriptor(QStringLiteral("label"))});
    auto rows = context->executeDictionaryFetchRequest(request, nullptr);
    ASSERT_TRUE(rows && rows->size() == 2);
    EXPECT_EQ(rows->at(0).value(QStringLiteral("label")).toString(), QStringLiteral("pending"));
    EXPECT_EQ(rows->at(0).value(QStringLiteral("seen")).toDateTime(), seen);
    EXPECT_EQ(rows->at(1).value(QStringLiteral("item")).value<TDWManagedObjectID>(), item->objectID());
    EXPECT_TRUE(rows->at(1).value(QStringLiteral("seen")).isNull());
    EXPECT_EQ(rows->at(1).keys().size(), 3);

    request.setPropertiesToFetch({QStringLiteral("versions")});
    TDWError error;
    EXPECT_FALSE(context->executeDictionaryFetchRequest(request, &error));
    EXPECT_EQ(error.code(), TDWStoreError::InvalidArgument);
}

TEST(FetchRequest, DictionariesCarryEachRowsIdentifierUnderObjectID)
{
    Stack stack;
    auto context = stack.newContext();
    const TDWManagedObjectPtr inA = version(*context, stack.libraryA, QStringLiteral("a"));
    const TDWManagedObjectPtr inB = version(*context, stack.libraryB, QStringLiteral("b"));
    ASSERT_TRUE(context->save(nullptr));
    const TDWManagedObjectPtr pending = version(*context, stack.libraryA, QStringLiteral("c"));
    TDWFetchRequest request(QStringLiteral("Version"));
    request.setPropertiesToFetch({TDWFetchRequest::ObjectIDKey, QStringLiteral("label")});
    request.setSortDescriptors({TDWSortDescriptor(QStringLiteral("label"))});
    for (const QList<TDWPersistentStorePtr> &stores : {QList<TDWPersistentStorePtr>{}, QList<TDWPersistentStorePtr>{stack.libraryB}}) {
        request.setAffectedStores(stores);
        auto rows = context->executeDictionaryFetchRequest(request, nullptr);
        ASSERT_TRUE(rows);
        QList<TDWManagedObjectID> ids;
        for (const QVariantMap &row : *rows)
            ids.append(row.value(TDWFetchRequest::ObjectIDKey).value<TDWManagedObjectID>());
        if (stores.isEmpty())
            EXPECT_EQ(ids, (QList<TDWManagedObjectID>{inA->objectID(), inB->objectID(), pending->objectID()}));
        else
            EXPECT_EQ(ids, QList<TDWManagedObjectID>{inB->objectID()});
    }
}

TEST(FetchRequest, HandWrittenConditionsSeeStoredRowsOnly)
{
    Stack stack;
    auto context = stack.newContext();
    const QDateTime cut = QDateTime::fromString(QStringLiteral("2015-06-01T00:00:00Z"), Qt::ISODate);
    for (int day = 0; day < 4; ++day)
        version(*context, stack.libraryA, QString::number(day))->setValue(QStringLiteral("seen"), cut.addDays(day - 2));
    ASSERT_TRUE(context->save(nullptr));
    version(*context, stack.libraryA, QStringLiteral("unsaved"))->setValue(QStringLiteral("seen"), cut.addDays(5));
    TDWFetchRequest request(QStringLiteral("Version"));
    request.setSqlCondition(QStringLiteral("t.seen >= ?"), {cut});
    request.setSortDescriptors({TDWSortDescriptor(QStringLiteral("seen"), false)});
    auto found = context->executeFetchRequest(request, nullptr);
    ASSERT_TRUE(found);
    EXPECT_EQ(values(*found, QStringLiteral("label")), (QStringList{QStringLiteral("3"), QStringLiteral("2")}));
    // Without a condition the unsaved one counts too.
    EXPECT_EQ(context->countForFetchRequest(TDWFetchRequest(QStringLiteral("Version")), nullptr), 5);
}

TEST(FetchRequest, BadRequestsFailWithAnError)
{
    Stack stack;
    auto context = stack.newContext();
    const QList<std::pair<TDWFetchRequest, qint64>> requests = [] {
        QList<std::pair<TDWFetchRequest, qint64>> list;
        list.append({TDWFetchRequest(QStringLiteral("Nope")), TDWStoreError::InvalidArgument});
        TDWFetchRequest toMany(QStringLiteral("Item"));
        toMany.setSortDescriptors({TDWSortDescriptor(QStringLiteral("versions.label"))});
        list.append({toMany, TDWStoreError::InvalidArgument});
        TDWFetchRequest unknownKey(QStringLiteral("Item"));
        unknownKey.setSortDescriptors({TDWSortDescriptor(QStringLiteral("colour"))});
        list.append({unknownKey, TDWStoreError::InvalidArgument});
        TDWFetchRequest badSql(QStringLiteral("Item"));
        badSql.setSqlCondition(QStringLiteral("t.colour = 1"));
        list.append({badSql, TDWStoreError::Sqlite});
        return list;
    }();
    for (const auto &[request, code] : requests) {
        TDWError error;
        EXPECT_FALSE(context->executeFetchRequest(request, &error));
        EXPECT_EQ(error.code(), code) << request.entityName().toStdString();
        EXPECT_EQ(context->countForFetchRequest(request, nullptr), TDWManagedObjectContext::NotFound);
    }
}

} // namespace
