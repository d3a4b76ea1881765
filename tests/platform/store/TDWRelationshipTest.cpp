#include "StoreTestModel.h"

#include "platform/store/TDWStoreError.h"

#include <gtest/gtest.h>

using namespace storetest;

namespace {

QStringList labels(const QList<TDWManagedObjectPtr> &versions)
{
    QStringList result;
    for (const TDWManagedObjectPtr &version : versions)
        result.append(version->stringValue(QStringLiteral("label")));
    return result;
}

TDWManagedObjectPtr version(TDWManagedObjectContext &context, const TDWPersistentStorePtr &store, const QString &label)
{
    TDWManagedObjectPtr object = context.insertNewObject(QStringLiteral("Version"), store);
    object->setValue(QStringLiteral("label"), label);
    return object;
}

qint64 count(const Stack &stack, const QString &entity)
{
    return stack.newContext()->countForFetchRequest(TDWFetchRequest(entity), nullptr);
}

TEST(Relationships, ToManySideFollowsItsInverseBeforeAndAfterSave)
{
    Stack stack;
    auto context = stack.newContext();
    TDWManagedObjectPtr first = context->insertNewObject(QStringLiteral("Item"), stack.libraryA);
    TDWManagedObjectPtr second = context->insertNewObject(QStringLiteral("Item"), stack.libraryA);
    TDWManagedObjectPtr v1 = version(*context, stack.libraryA, QStringLiteral("v1"));
    TDWManagedObjectPtr v2 = version(*context, stack.libraryA, QStringLiteral("v2"));
    v1->setObjectValue(QStringLiteral("item"), first);
    first->addObject(QStringLiteral("versions"), v2);
    EXPECT_EQ(v2->objectValue(QStringLiteral("item")), first);
    EXPECT_EQ(labels(first->objectsValue(QStringLiteral("versions"))), (QStringList{QStringLiteral("v1"), QStringLiteral("v2")}));
    ASSERT_TRUE(context->save(nullptr));

    auto other = stack.newContext();
    TDWManagedObjectPtr storedFirst = other->existingObjectWithID(first->objectID(), nullptr);
    TDWManagedObjectPtr storedSecond = other->existingObjectWithID(second->objectID(), nullptr);
    QList<TDWManagedObjectPtr> versions = storedFirst->objectsValue(QStringLiteral("versions"));
    EXPECT_EQ(labels(versions), (QStringList{QStringLiteral("v1"), QStringLiteral("v2")}));
    // Moving a stored version moves it between the two sets at once, before any save.
    versions.first()->setObjectValue(QStringLiteral("item"), storedSecond);
    EXPECT_EQ(labels(storedFirst->objectsValue(QStringLiteral("versions"))), QStringList{QStringLiteral("v2")});
    EXPECT_EQ(labels(storedSecond->objectsValue(QStringLiteral("versions"))), QStringList{QStringLiteral("v1")});
    storedFirst->removeObject(QStringLiteral("versions"), versions.last());
    EXPECT_TRUE(storedFirst->objectsValue(QStringLiteral("versions")).isEmpty());
    EXPECT_FALSE(versions.last()->objectValue(QStringLiteral("item")));
    ASSERT_TRUE(other->save(nullptr));
    EXPECT_EQ(sqliteShell(stack.libraryA->path(), QStringLiteral("SELECT label || ':' || ifnull(item, 'null') FROM Version ORDER BY label")),
              QStringLiteral("v1:%1\nv2:null").arg(second->objectID().rowId()));
}

TEST(Relationships, CascadeDeletesTheDestinations)
{
    Stack stack;
    auto context = stack.newContext();
    TDWManagedObjectPtr item = addItem(*context, stack.libraryA, QStringLiteral("a"), QStringLiteral("A"));
    version(*context, stack.libraryA, QStringLiteral("second"))->setObjectValue(QStringLiteral("item"), item);
    addItem(*context, stack.libraryA, QStringLiteral("b"), QStringLiteral("B"));
    ASSERT_TRUE(context->save(nullptr));
    QList<TDWManagedObjectPtr> versions = item->objectsValue(QStringLiteral("versions"));
    context->deleteObject(item);
    for (const TDWManagedObjectPtr &v : versions)
        EXPECT_TRUE(v->isDeleted());
    ASSERT_TRUE(context->save(nullptr));
    EXPECT_EQ(count(stack, QStringLiteral("Item")), 1);
    EXPECT_EQ(count(stack, QStringLiteral("Version")), 1);
}

TEST(Relationships, NullifyClearsTheLinksThatPointedAtTheDeletedObject)
{
    Stack stack;
    auto context = stack.newContext();
    TDWManagedObjectPtr child = context->insertNewObject(QStringLiteral("Item"), stack.libraryA);
    TDWManagedObjectPtr parent = context->insertNewObject(QStringLiteral("Item"), stack.libraryA);
    TDWManagedObjectPtr link = context->insertNewObject(QStringLiteral("Link"), stack.libraryA);
    link->setObjectValue(QStringLiteral("child"), child);
    link->setObjectValue(QStringLiteral("parent"), parent);
    ASSERT_TRUE(context->save(nullptr));
    context->deleteObject(child);
    EXPECT_FALSE(link->objectValue(QStringLiteral("child")));
    EXPECT_TRUE(link->isUpdated());
    TDWError error;
    ASSERT_TRUE(context->save(&error)) << error.description().toStdString();
    EXPECT_EQ(sqliteShell(stack.libraryA->path(), QStringLiteral("SELECT ifnull(child, 'null') || ':' || parent FROM Link")),
              QStringLiteral("null:%1").arg(parent->objectID().rowId()));
}

TEST(Relationships, DenyRefusesTheSaveWhileTheRelationshipIsInUse)
{
    Stack stack;
    auto context = stack.newContext();
    TDWManagedObjectPtr parent = context->insertNewObject(QStringLiteral("Item"), stack.libraryA);
    TDWManagedObjectPtr link = context->insertNewObject(QStringLiteral("Link"), stack.libraryA);
    link->setObjectValue(QStringLiteral("parent"), parent);
    ASSERT_TRUE(context->save(nullptr));
    context->deleteObject(parent);
    TDWError error;
    EXPECT_FALSE(context->save(&error));
    EXPECT_EQ(error.code(), TDWStoreError::Validation);
    EXPECT_EQ(count(stack, QStringLiteral("Item")), 1);
    context->deleteObject(link);
    ASSERT_TRUE(context->save(&error)) << error.description().toStdString();
    EXPECT_EQ(count(stack, QStringLiteral("Item")), 0);
}

TEST(Relationships, ObjectsOfDifferentStoresNeverPointAtEachOther)
{
    Stack stack;
    auto context = stack.newContext();
    TDWManagedObjectPtr item = context->insertNewObject(QStringLiteral("Item"), stack.libraryA);
    version(*context, stack.libraryB, QStringLiteral("v"))->setObjectValue(QStringLiteral("item"), item);
    TDWError error;
    EXPECT_FALSE(context->save(&error));
    EXPECT_EQ(error.code(), TDWStoreError::Validation);
    EXPECT_EQ(count(stack, QStringLiteral("Item")), 0);
}

TEST(Relationships, UnassignedInsertsGoWhereTheirLinksAre)
{
    Stack stack;
    auto context = stack.newContext();
    TDWManagedObjectPtr item = context->insertNewObject(QStringLiteral("Item"), stack.libraryB);
    TDWManagedObjectPtr linked = version(*context, nullptr, QStringLiteral("v"));
    linked->setObjectValue(QStringLiteral("item"), item);
    TDWManagedObjectPtr owner = context->insertNewObject(QStringLiteral("Owner"));
    TDWManagedObjectPtr loose = context->insertNewObject(QStringLiteral("Item"));
    TDWError error;
    ASSERT_TRUE(context->save(&error)) << error.description().toStdString();
    EXPECT_EQ(linked->persistentStore(), stack.libraryB);
    EXPECT_EQ(owner->persistentStore(), stack.main);
    EXPECT_EQ(loose->persistentStore(), stack.libraryA); // the first store that holds items
    EXPECT_FALSE(context->assignObjectToStore(context->insertNewObject(QStringLiteral("Owner")), stack.libraryA, &error));
    EXPECT_EQ(error.code(), TDWStoreError::StoreNotFound);
}

TEST(Relationships, ToOneTargetsLoadLazilyOrAllAtOnceWhenPrefetched)
{
    Stack stack;
    {
        auto context = stack.newContext();
        for (int i = 0; i < 4; ++i)
            addItem(*context, stack.libraryA, QString::number(i), QStringLiteral("t"));
        ASSERT_TRUE(context->save(nullptr));
    }
    for (bool prefetching : {false, true}) {
        auto context = stack.newContext();
        TDWFetchRequest request(QStringLiteral("Version"));
        if (prefetching)
            request.setRelationshipKeyPathsForPrefetching({QStringLiteral("item")});
        auto versions = context->executeFetchRequest(request, nullptr);
        ASSERT_TRUE(versions && versions->size() == 4);
        for (const TDWManagedObjectPtr &v : *versions) {
            TDWManagedObjectPtr item = v->objectValue(QStringLiteral("item"));
            ASSERT_TRUE(item);
            EXPECT_EQ(item->isFault(), !prefetching);
            EXPECT_EQ(item->stringValue(QStringLiteral("title")), QStringLiteral("t"));
        }
    }
}

TEST(Relationships, LinkToARowDeletedByAnotherContextFailsTheWholeSave)
{
    Stack stack;
    TDWManagedObjectID itemID;
    {
        auto context = stack.newContext();
        TDWManagedObjectPtr item = addItem(*context, stack.libraryA, QStringLiteral("a"), QStringLiteral("A"));
        ASSERT_TRUE(context->save(nullptr));
        itemID = item->objectID();
    }
    auto stale = stack.newContext();
    TDWManagedObjectPtr item = stale->existingObjectWithID(itemID, nullptr);
    ASSERT_TRUE(item);
    {
        auto other = stack.newContext();
        other->deleteObject(other->existingObjectWithID(itemID, nullptr));
        ASSERT_TRUE(other->save(nullptr));
    }
    version(*stale, stack.libraryA, QStringLiteral("orphan"))->setObjectValue(QStringLiteral("item"), item);
    addItem(*stale, stack.libraryB, QStringLiteral("elsewhere"), QStringLiteral("B"));
    TDWError error;
    EXPECT_FALSE(stale->save(&error));
    EXPECT_EQ(error.code(), TDWStoreError::Validation);
    EXPECT_EQ(count(stack, QStringLiteral("Version")), 0);
    EXPECT_EQ(count(stack, QStringLiteral("Item")), 0) << "no store of the failed save was written";
}

} // namespace
