#include "DataObjectsTestSupport.h"

#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWEvent.h"
#include "dataobjects/TDWMasterStore.h"
#include "services/TDWCalendarEventStore.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace {

const QString Bob = QStringLiteral("bob@example.com");

class CalendarEventStoreTest : public ::testing::Test
{
protected:
    void SetUp() override { stack.addAccount(Bob, {QStringLiteral("calendar")}); }

    TDWDoc::Ptr addCalendar(TDWManagedObjectContext &moc, const QString &docId)
    {
        auto doc = TDWDoc::newWithMoc(moc, stack.store(Bob, QStringLiteral("calendar")));
        doc->setDocId(docId);
        doc->setService(QStringLiteral("calendar"));
        doc->setAccountUsername(Bob);
        EXPECT_TRUE(moc.save(nullptr));
        return doc;
    }

    dotest::MetadataStack stack;
};

TEST_F(CalendarEventStoreTest, TheFirstOpenSavesANewPathInTheAccountsFolderAndMakesTheFile)
{
    const TDWDoc::Ptr doc = addCalendar(*stack.moc, QStringLiteral("c1"));
    TDWCalendarEventStore store(Bob);
    const auto first = store.getCalendarEventMoc(doc);
    ASSERT_TRUE(first);
    const QString relative = doc->databaseFilePath();
    EXPECT_TRUE(relative.startsWith(QLatin1String("bob at example dot com/")) && relative.endsWith(QLatin1String(".sqlite3")));
    EXPECT_FALSE(doc->hasChanges()) << "the path is saved before the store is used";
    EXPECT_TRUE(QFileInfo::exists(TDWCalendarEventStore::absolutePath(relative)));

    // A second context on the same open store, independent of the first.
    const auto second = store.getCalendarEventMoc(doc);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->persistentStoreCoordinator(), first->persistentStoreCoordinator());
    first->insertNew<TDWEvent>(QStringLiteral("Event"))->setEventId(QStringLiteral("e1"));
    EXPECT_FALSE(TDWEvent::byEventId(QStringLiteral("e1"), *second));
    ASSERT_TRUE(first->save(nullptr));
    EXPECT_TRUE(TDWEvent::byEventId(QStringLiteral("e1"), *second));
    EXPECT_EQ(dotest::sqlite(TDWCalendarEventStore::absolutePath(relative), QStringLiteral("SELECT eventId FROM Event")), QStringLiteral("e1"));

    // Closed and deleted behind its back while the item keeps the path: made again, empty, there.
    store.close();
    ASSERT_TRUE(TDWPersistentStoreCoordinator::deleteStoreFiles(TDWCalendarEventStore::absolutePath(relative), nullptr));
    const auto again = store.getCalendarEventMoc(doc);
    ASSERT_TRUE(again);
    EXPECT_EQ(doc->databaseFilePath(), relative);
    EXPECT_FALSE(TDWEvent::byEventId(QStringLiteral("e1"), *again));
}

TEST_F(CalendarEventStoreTest, CalendarsOfOneAccountOpenedAtOnceShareTheAccountsFolder)
{
    constexpr int Calendars = 4;
    QList<TDWManagedObjectID> ids;
    for (int n = 0; n < Calendars; ++n)
        ids << addCalendar(*stack.moc, QStringLiteral("cal%1").arg(n))->objectID();
    std::vector<std::thread> threads;
    std::atomic<int> opened = 0;
    for (const TDWManagedObjectID &id : ids) {
        threads.emplace_back([&opened, id] {
            auto moc = TDWMasterStore::shared().newMoc();
            auto doc = std::dynamic_pointer_cast<TDWDoc>(moc->existingObjectWithID(id, nullptr));
            TDWCalendarEventStore store(Bob);
            if (doc && store.getCalendarEventMoc(doc))
                ++opened;
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(opened, Calendars);
    stack.moc->reset();
    QSet<QString> paths;
    for (const TDWManagedObjectID &id : ids) {
        const auto doc = std::dynamic_pointer_cast<TDWDoc>(stack.moc->existingObjectWithID(id, nullptr));
        EXPECT_TRUE(QFileInfo::exists(TDWCalendarEventStore::absolutePath(doc->databaseFilePath())));
        EXPECT_EQ(QFileInfo(doc->databaseFilePath()).path(), QStringLiteral("bob at example dot com"));
        paths.insert(doc->databaseFilePath());
    }
    EXPECT_EQ(paths.size(), Calendars);
}

} // namespace
