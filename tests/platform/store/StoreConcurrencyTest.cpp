#include "StoreTestModel.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

using namespace storetest;

namespace {

constexpr int Iterations = 120;

// Threads, each with its own context, insert, change, delete and page through the
// same two stores at once. One of them works through a second coordinator on the
// same files, so it does not share this process's writer queue and meets SQLite's
// file locks instead, as another program would. No call may fail ("database is
// locked" or otherwise), and each thread's changes of its own property of a shared
// row must all survive.
TEST(StoreConcurrency, ThreadsWithTheirOwnContextsShareStoresWithoutFailures)
{
    Stack stack;
    TDWManagedObjectID sharedID;
    {
        auto context = stack.newContext();
        TDWManagedObjectPtr shared = addItem(*context, stack.libraryA, QStringLiteral("shared"), QStringLiteral("t"));
        ASSERT_TRUE(context->save(nullptr));
        sharedID = shared->objectID();
    }
    auto secondOpener = std::make_shared<TDWPersistentStoreCoordinator>(model());
    ASSERT_TRUE(secondOpener->addPersistentStore(QStringLiteral("library"), stack.libraryA->path(), {}, nullptr));
    ASSERT_TRUE(secondOpener->addPersistentStore(QStringLiteral("library"), stack.libraryB->path(), {}, nullptr));

    std::mutex mutex;
    QStringList failures;
    auto fail = [&](int worker, const char *what, const TDWError &error) {
        std::lock_guard lock(mutex);
        failures.append(QStringLiteral("worker %1 %2: %3").arg(worker).arg(QLatin1String(what), error.description()));
    };
    // Worker w sets its own key of the shared item: 0 "size", 1 "title", 2 "kind".
    const QStringList ownKeys{QStringLiteral("size"), QStringLiteral("title"), QStringLiteral("kind")};
    auto work = [&](int worker, std::shared_ptr<TDWPersistentStoreCoordinator> coordinator) {
        TDWManagedObjectContext context(coordinator);
        const QList<TDWPersistentStorePtr> stores = coordinator->persistentStoresForEntity(*model()->entity(QStringLiteral("Item")));
        TDWError error;
        TDWManagedObjectPtr shared = context.existingObjectWithID(
            TDWManagedObjectID::permanent(sharedID.storeIdentifier(), QStringLiteral("Item"), sharedID.rowId()), &error);
        if (!shared)
            return fail(worker, "load", error);
        QList<TDWManagedObjectPtr> mine;
        for (int i = 0; i < Iterations; ++i) {
            // Alternate the order of the stores, so saves lock them in both orders.
            for (int s = 0; s < stores.size(); ++s)
                mine.append(addItem(context, stores[(s + i + worker) % stores.size()], QStringLiteral("w%1-%2-%3").arg(worker).arg(i).arg(s),
                                    QStringLiteral("title %1").arg(i % 9)));
            context.refreshObject(shared, true);
            shared->setValue(ownKeys[worker], worker == 0 ? QVariant(i) : QVariant(QStringLiteral("v%1").arg(i)));
            if (i % 10 == 9)
                context.deleteObject(mine.takeFirst());
            if (!context.save(&error))
                return fail(worker, "save", error);
            TDWFetchRequest page(QStringLiteral("Item"));
            page.setSortDescriptors({TDWSortDescriptor(QStringLiteral("title"), true, TDWSortDescriptor::CaseInsensitive)});
            page.setFetchOffset(i);
            page.setFetchLimit(10);
            if (!context.executeFetchRequest(page, &error))
                return fail(worker, "fetch", error);
            if (context.countForFetchRequest(page, &error) == TDWManagedObjectContext::NotFound)
                return fail(worker, "count", error);
        }
    };
    std::thread first(work, 0, stack.coordinator);
    std::thread second(work, 1, stack.coordinator);
    std::thread third(work, 2, secondOpener);
    first.join();
    second.join();
    third.join();
    EXPECT_TRUE(failures.isEmpty()) << failures.join(QLatin1Char('\n')).toStdString();

    auto context = stack.newContext();
    // Each worker added two items per round and deleted one every ten rounds.
    EXPECT_EQ(context->countForFetchRequest(TDWFetchRequest(QStringLiteral("Item")), nullptr), 1 + 3 * (2 * Iterations - Iterations / 10));
    TDWManagedObjectPtr shared = context->existingObjectWithID(sharedID, nullptr);
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->integerValue(QStringLiteral("size")), Iterations - 1);
    EXPECT_EQ(shared->stringValue(QStringLiteral("title")), QStringLiteral("v%1").arg(Iterations - 1));
    EXPECT_EQ(shared->stringValue(QStringLiteral("kind")), QStringLiteral("v%1").arg(Iterations - 1));
    for (const TDWPersistentStorePtr &store : {stack.libraryA, stack.libraryB})
        EXPECT_EQ(sqliteShell(store->path(), QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
}

} // namespace
