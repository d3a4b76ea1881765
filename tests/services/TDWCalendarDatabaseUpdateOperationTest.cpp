#include "CalendarFixture.h"

#include "TestSupport.h"
#include "accounts/TDWKeychainMgr.h"
#include "dataobjects/TDWDoc.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/json/TDWJsonReader.h"
#include "services/TDWCalendarDatabaseUpdate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QThread>
#include <QTimeZone>
#include <QUrlQuery>

namespace {

using namespace caltest;
using dotest::at;

// As the client sends it, the calendar id percent-encoded.
const QString EventsPath = QStringLiteral("/calendar/v3/calendars/alice%40example.com/events");
const QString AllEvents = QStringLiteral("holiday newyork paris weekly weekly_20120313T140000Z weekly_20120320T140000Z");

class CalendarSyncTest : public CalendarFixture
{
protected:
    // The queries of the events requests so far, in order.
    QStringList eventQueries()
    {
        QStringList queries;
        for (const QJsonValue &request : server.requestsTo(EventsPath))
            queries << request.toObject().value(QStringLiteral("query")).toString();
        return queries;
    }

    // A first, full synchronisation; then the fake's next run of changes, a second apart so that
    // the changes lie after the last-update time (which the request carries in whole seconds).
    TDWManagedObjectID syncFullThenChange(qint64 exportStatusAfterFirst)
    {
        const TDWManagedObjectID revId = seedCalendar(TDWDocRev::DownloadPending);
        EXPECT_TRUE(synchronise(revId, at(1)));
        revision(revId)->setExportStatus(exportStatusAfterFirst);
        EXPECT_TRUE(stack.moc->save(nullptr));
        QThread::msleep(1100);
        server.nextRun();
        server.clearRequests();
        return revId;
    }

    // An incremental pass with changes for a written calendar, stopped after it
    // saved its events and before it saved the calendar's item (the program
    // killed between the two saves): that save is undone here, the item's
    // last-update time back and the new revision gone, as the kill leaves them.
    TDWManagedObjectID passStoppedBetweenItsSaves()
    {
        const TDWManagedObjectID revId = syncFullThenChange(TDWDocRev::BackedUp);
        const QDateTime lastUpdate = calendarDoc()->databaseLastUpdatedTime();
        EXPECT_TRUE(synchronise(revId, at(2)));
        const TDWDocRev::Ptr made = latestRevision();
        EXPECT_NE(made->objectID(), revId);
        QDir(QFileInfo(backupFilePath(made)).path()).removeRecursively();
        stack.moc->deleteObject(made);
        const TDWDocRev::Ptr old = revision(revId);
        old->setLatest(true);
        old->setObsoletedDate(QDateTime());
        old->setLastSeenDate(at(1));
        calendarDoc()->setDatabaseLastUpdatedTime(lastUpdate);
        EXPECT_TRUE(stack.moc->save(nullptr));
        EXPECT_EQ(storedEventIds(), QStringLiteral("added holiday paris weekly weekly_20120313T140000Z weekly_20120320T140000Z"));
        server.clearRequests();
        return revId;
    }

    // The latest revision is the one the stopped pass should have made, still
    // to be written, and its file, written from the store, holds the changes.
    void expectTheStoppedPassesRevision(const TDWManagedObjectID &revId)
    {
        const TDWDocRev::Ptr fresh = latestRevision();
        ASSERT_TRUE(fresh);
        ASSERT_NE(fresh->objectID(), revId);
        EXPECT_EQ(fresh->dirPath(), QStringLiteral("Alice/2"));
        EXPECT_EQ(fresh->exportStatus(), TDWDocRev::DownloadPending);
        EXPECT_FALSE(revision(revId)->latest());
        EXPECT_EQ(calendarDoc()->docRevs().size(), 2);
        exportCalendar(fresh->objectID());
        QFile file(backupFilePath(latestRevision()));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        const QByteArray ics = file.readAll();
        EXPECT_TRUE(ics.contains("SUMMARY:Standup moved")) << ics.constData();
        EXPECT_TRUE(ics.contains("SUMMARY:Added")) << ics.constData();
        EXPECT_EQ(latestRevision()->exportStatus(), TDWDocRev::BackedUp);
    }
};

TEST_F(CalendarSyncTest, FullPassPagesIntoANewStoreWithoutANewRevisionForAnUnwrittenFile)
{
    const TDWManagedObjectID revId = seedCalendar(TDWDocRev::DownloadPending);
    const QDateTime before = TDWClock::now();
    ASSERT_TRUE(synchronise(revId, at(1)));

    // Six events in pages of two: the events URL alone, then with a page token each time.
    const QStringList queries = eventQueries();
    ASSERT_EQ(queries.size(), 3);
    EXPECT_EQ(queries.first(), QString());
    EXPECT_TRUE(queries[1].startsWith(QLatin1String("pageToken=")) && queries[2].startsWith(QLatin1String("pageToken="))) << queries.join(u',').toStdString();

    const TDWDoc::Ptr doc = calendarDoc();
    EXPECT_TRUE(doc->databaseFilePath().startsWith(QLatin1String("alice at example dot com/")));
    EXPECT_TRUE(doc->databaseFilePath().endsWith(QLatin1String(".sqlite3")));
    EXPECT_GE(doc->databaseLastUpdatedTime(), before.addMSecs(-1));
    EXPECT_LE(doc->databaseLastUpdatedTime(), TDWClock::now());
    EXPECT_EQ(storedEventIds(), AllEvents);
    EXPECT_EQ(dotest::sqlite(eventStorePath(), QStringLiteral("SELECT defaultTimeZone, recurringEventId FROM Event WHERE eventId = "
                                                              "'weekly_20120320T140000Z'")),
              QStringLiteral("Europe/Paris|weekly"));
    EXPECT_EQ(dotest::sqlite(eventStorePath(), QStringLiteral("SELECT count(*) FROM Event WHERE recurringEventId IS NULL")), QStringLiteral("4"));

    const TDWDocRev::Ptr rev = revision(revId);
    EXPECT_TRUE(rev->latest());
    EXPECT_EQ(rev->timeZone(), QStringLiteral("Europe/Paris"));
    EXPECT_EQ(rev->defaultReminders().toList().size(), 2);
    EXPECT_EQ(latestRevision()->objectID(), revId);
}

TEST_F(CalendarSyncTest, IncrementalPassStoresChangesAndGivesAWrittenCalendarANewRevisionWithItsReminders)
{
    const TDWManagedObjectID revId = syncFullThenChange(TDWDocRev::BackedUp);
    const QString storePath = eventStorePath();
    ASSERT_TRUE(synchronise(revId, at(2)));

    // Three changes in pages of two.
    const QStringList queries = eventQueries();
    ASSERT_EQ(queries.size(), 2);
    const QUrlQuery query(queries.first());
    EXPECT_EQ(query.queryItemValue(QStringLiteral("showDeleted")), QStringLiteral("true"));
    EXPECT_TRUE(query.queryItemValue(QStringLiteral("updatedMin"), QUrl::FullyDecoded).endsWith(u'Z'));

    // The store stays where it was: the deleted event is gone, the changed and the new one are there.
    EXPECT_EQ(eventStorePath(), storePath);
    EXPECT_EQ(storedEventIds(), QStringLiteral("added holiday paris weekly weekly_20120313T140000Z weekly_20120320T140000Z"));
    EXPECT_EQ(dotest::sqlite(storePath, QStringLiteral("SELECT title FROM Event WHERE eventId = 'paris'")), QStringLiteral("Standup moved"));

    const TDWDocRev::Ptr old = revision(revId);
    EXPECT_FALSE(old->latest());
    EXPECT_EQ(old->obsoletedDate(), at(2));
    EXPECT_EQ(old->lastSeenDate(), at(2).addSecs(-1));
    const TDWDocRev::Ptr fresh = latestRevision();
    ASSERT_TRUE(fresh);
    ASSERT_NE(fresh->objectID(), revId);
    EXPECT_EQ(fresh->exportStatus(), TDWDocRev::DownloadPending);
    EXPECT_EQ(fresh->dirPath(), QStringLiteral("Alice/2"));
    EXPECT_EQ(fresh->filePath(), QStringLiteral("Alice/2/Alice.ics"));
    EXPECT_EQ((QList<QDateTime>{fresh->firstSeenDate(), fresh->lastSeenDate(), fresh->lastModifiedDate()}), (QList<QDateTime>(3, at(2))));
    EXPECT_EQ(fresh->title(), QStringLiteral("Alice"));
    EXPECT_EQ(fresh->accessRole(), QStringLiteral("owner"));
    EXPECT_EQ(fresh->timeZone(), QStringLiteral("Europe/Paris"));
    // The calendar's default reminders and the fix flags come along, so the file keeps its alarms
    // and the revision is not replaced again by the next listing.
    EXPECT_EQ(fresh->defaultReminders(), old->defaultReminders());
    EXPECT_EQ(fresh->defaultReminders().toList().size(), 2);
    EXPECT_TRUE(fresh->keyValue(QStringLiteral("has216fix")).toBool());
    EXPECT_TRUE(fresh->keyValue(QStringLiteral("has252calendarfix")).toBool());
    EXPECT_EQ(dotest::sqlite(stack.store(Alice, QStringLiteral("calendar"))->path(),
                             QStringLiteral("SELECT count(*) FROM DocRev WHERE latest = 1")),
              QStringLiteral("1"));
}

TEST_F(CalendarSyncTest, IncrementalPassWithoutChangesOrForAnUnwrittenFileMakesNoRevision)
{
    const TDWManagedObjectID revId = seedCalendar(TDWDocRev::DownloadPending);
    ASSERT_TRUE(synchronise(revId, at(1)));
    revision(revId)->setExportStatus(TDWDocRev::BackedUp);
    ASSERT_TRUE(stack.moc->save(nullptr));
    const QDateTime firstUpdate = calendarDoc()->databaseLastUpdatedTime();
    QThread::msleep(1100);
    ASSERT_TRUE(synchronise(revId, at(2)));
    EXPECT_GT(calendarDoc()->databaseLastUpdatedTime(), firstUpdate);
    EXPECT_EQ(latestRevision()->objectID(), revId);

    // Changed events, but the file of the revision was never written: it is still to be written.
    revision(revId)->setExportStatus(TDWDocRev::DownloadFailed);
    ASSERT_TRUE(stack.moc->save(nullptr));
    QThread::msleep(1100);
    server.nextRun();
    ASSERT_TRUE(synchronise(revId, at(3)));
    EXPECT_EQ(latestRevision()->objectID(), revId);
    EXPECT_EQ(storedEventIds(), QStringLiteral("added holiday paris weekly weekly_20120313T140000Z weekly_20120320T140000Z"));
}

// The server sends the stopped pass's changes again, unchanged: only the event
// store knows they are in no revision yet.
TEST_F(CalendarSyncTest, APassStoppedBetweenItsTwoSavesIsFinishedByTheNextFromTheEventStore)
{
    const TDWManagedObjectID revId = passStoppedBetweenItsSaves();
    ASSERT_TRUE(synchronise(revId, at(3)));
    expectTheStoppedPassesRevision(revId);
    if (HasFatalFailure())
        return;

    // Finished once: the next pass, with nothing new, makes no further revision.
    const TDWManagedObjectID madeId = latestRevision()->objectID();
    QThread::msleep(1100);
    ASSERT_TRUE(synchronise(madeId, at(4)));
    EXPECT_EQ(latestRevision()->objectID(), madeId);
    EXPECT_EQ(calendarDoc()->docRevs().size(), 2);
}

TEST_F(CalendarSyncTest, APassStoppedBetweenItsTwoSavesIsFinishedEvenWhenTheNextCannotReachTheServer)
{
    const TDWManagedObjectID revId = passStoppedBetweenItsSaves();
    TDWClock::setDurationScale(0.05);
    server.addFault(QJsonObject{{QStringLiteral("path"), EventsPath}, {QStringLiteral("status"), 503}, {QStringLiteral("times"), -1}});
    EXPECT_FALSE(synchronise(revId, at(3)));
    expectTheStoppedPassesRevision(revId);
}

TEST_F(CalendarSyncTest, EventsSentAgainUnchangedGiveAWrittenCalendarNoNewRevision)
{
    const TDWManagedObjectID revId = seedCalendar(TDWDocRev::DownloadPending);
    ASSERT_TRUE(synchronise(revId, at(1)));
    revision(revId)->setExportStatus(TDWDocRev::BackedUp);
    // The last pass began in the second the events were updated in (at 07.123), after their
    // update: the request carries 05:06:07 and the server sends every one of them again, as they are.
    calendarDoc()->setDatabaseLastUpdatedTime(QDateTime(QDate(2012, 3, 4), QTime(5, 6, 7, 500), QTimeZone::utc()));
    ASSERT_TRUE(stack.moc->save(nullptr));
    // The event store's markers of that pass, which it saved with the events.
    dotest::sqlite(eventStorePath(), QStringLiteral("UPDATE tdw_metadata SET value = '2012-03-04T05:06:07.500Z' "
                                                    "WHERE key IN ('lastStoredPass', 'lastChangingPass')"));
    server.clearRequests();
    ASSERT_TRUE(synchronise(revId, at(2)));

    const QStringList queries = eventQueries();
    ASSERT_EQ(queries.size(), 3);
    EXPECT_EQ(QUrlQuery(queries.first()).queryItemValue(QStringLiteral("updatedMin"), QUrl::FullyDecoded), QStringLiteral("2012-03-04T05:06:07Z"));
    EXPECT_EQ(storedEventIds(), AllEvents);
    const TDWDocRev::Ptr rev = revision(revId);
    EXPECT_TRUE(rev->latest());
    EXPECT_EQ(rev->exportStatus(), TDWDocRev::BackedUp);
    EXPECT_EQ(latestRevision()->objectID(), revId);
}

TEST_F(CalendarSyncTest, GoneInMidPassStartsAFullPassIntoAStoreAtANewPath)
{
    const TDWManagedObjectID revId = syncFullThenChange(TDWDocRev::BackedUp);
    server.nextRun(); // five changed events: three pages
    const QString oldStore = eventStorePath();
    server.addFault(QJsonObject{{QStringLiteral("path"), EventsPath}, {QStringLiteral("status"), 410}, {QStringLiteral("skip"), 1}});
    ASSERT_TRUE(synchronise(revId, at(2)));

    const QStringList queries = eventQueries();
    ASSERT_EQ(queries.size(), 2 + 3);
    EXPECT_TRUE(queries[0].startsWith(QLatin1String("updatedMin=")));
    EXPECT_TRUE(queries[1].startsWith(QLatin1String("updatedMin=")) && queries[1].contains(QLatin1String("&pageToken=")));
    EXPECT_EQ(queries[2], QString());
    EXPECT_FALSE(QFileInfo::exists(oldStore));
    EXPECT_NE(eventStorePath(), oldStore);
    EXPECT_EQ(storedEventIds(), QStringLiteral("added holiday paris weekly weekly_20120313T140000Z weekly_20120320T140000Z"));
    EXPECT_TRUE(calendarDoc()->databaseLastUpdatedTime().isValid());
    EXPECT_EQ(latestRevision()->dirPath(), QStringLiteral("Alice/2"));
}

TEST_F(CalendarSyncTest, ServerErrorsAreRetriedUntilTheBackOffGivesUp)
{
    // Back-off pauses of up to 16 seconds pass in a twentieth (the time-outs too, which stay ample).
    TDWClock::setDurationScale(0.05);
    const TDWManagedObjectID revId = seedCalendar(TDWDocRev::DownloadPending);
    server.addFault(QJsonObject{{QStringLiteral("path"), EventsPath}, {QStringLiteral("status"), 503}, {QStringLiteral("times"), 2},
                                {QStringLiteral("skip"), 1}});
    ASSERT_TRUE(synchronise(revId, at(1)));
    EXPECT_EQ(eventQueries().size(), 3 + 2);
    EXPECT_EQ(storedEventIds(), AllEvents);

    const QDateTime lastUpdate = calendarDoc()->databaseLastUpdatedTime();
    server.clearRequests();
    server.addFault(QJsonObject{{QStringLiteral("path"), EventsPath}, {QStringLiteral("status"), 503}, {QStringLiteral("times"), -1}});
    tdwtest::LogCapture log;
    EXPECT_FALSE(synchronise(revId, at(2)));
    EXPECT_EQ(eventQueries().size(), 6);
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unexpected status code (503) when retrieving calendar event data for calendar alice@example.com.")));
    EXPECT_EQ(calendarDoc()->databaseLastUpdatedTime(), lastUpdate);
}

// Answers that must end the pass unsuccessful, with the last-update time where it was.
TEST_F(CalendarSyncTest, RefusedAnswersFailThePassAndKeepTheLastUpdateTime)
{
    const TDWManagedObjectID revId = seedCalendar(TDWDocRev::DownloadPending);
    ASSERT_TRUE(synchronise(revId, at(1)));
    const QDateTime lastUpdate = calendarDoc()->databaseLastUpdatedTime();
    struct Case
    {
        const char *name;
        QJsonObject fault;
        QString logged;
    };
    const QList<Case> cases{
        {"a 200 that is no JSON", {{QStringLiteral("body"), QStringLiteral("{not json")}}, QStringLiteral("ERROR processing response")},
        {"a 200 that is a JSON array", {{QStringLiteral("body"), QJsonArray{1, 2}}}, QStringLiteral("ERROR processing response")},
        // Pages the JSON reader refuses as it refuses every server answer.
        {"a page nesting too deep",
         {{QStringLiteral("body"), QStringLiteral(R"({"items": [], "x": %1})")
                                       .arg(QString(TDWJsonReader::MaxDepth, u'[') + QString(TDWJsonReader::MaxDepth, u']'))}},
         QStringLiteral("ERROR processing response of calendar event request: The response nests deeper than")},
        {"an event with an integer beyond 64 bits", {{QStringLiteral("body"), QStringLiteral(R"({"items": [{"id": "e", "sequence": 123456789012345678901234}]})")}},
         QStringLiteral("ERROR processing response of calendar event request: The response is not valid JSON")},
        {"an event with a lone surrogate", {{QStringLiteral("body"), QStringLiteral(R"({"items": [{"id": "e", "summary": "\ud800"}]})")}},
         QStringLiteral("ERROR processing response of calendar event request: The response is not valid JSON")},
        {"items that are no array", {{QStringLiteral("body"), QJsonObject{{QStringLiteral("items"), 7}}}},
         QStringLiteral("ERROR: Unable to update calendar events")},
        {"a 404", {{QStringLiteral("status"), 404}}, QStringLiteral("Unexpected status code (404)")},
        {"a 410 to a full request", {{QStringLiteral("status"), 410}}, QStringLiteral("Should not have been a partial request.")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QJsonObject fault = c.fault;
        fault.insert(QStringLiteral("path"), EventsPath);
        server.addFault(fault);
        // A calendar no pass has stored yet: the request is a full one.
        if (c.logged.contains(QLatin1String("partial"))) {
            calendarDoc()->setDatabaseFilePath(QString());
            calendarDoc()->setDatabaseLastUpdatedTime(QDateTime());
            ASSERT_TRUE(stack.moc->save(nullptr));
        }
        tdwtest::LogCapture log;
        EXPECT_FALSE(synchronise(revId, at(2)));
        EXPECT_TRUE(log.contains(c.logged)) << log.lines().join(u'\n').toStdString();
        if (!c.logged.contains(QLatin1String("partial"))) {
            EXPECT_EQ(calendarDoc()->databaseLastUpdatedTime(), lastUpdate);
        }
    }
}

TEST_F(CalendarSyncTest, ARequestRefusedBeforeSendingStillEndsTheOperationUnsuccessful)
{
    const TDWManagedObjectID revId = seedCalendar(TDWDocRev::DownloadPending);
    TDWKeychainMgr::keychainMgr()->deleteCredentialForUsername(Alice);
    TDWOperationQueue queue;
    const std::shared_ptr<TDWCalendarDatabaseUpdate> operation(
        TDWCalendarUpdateClasses::shared().create(TDWCalendarDatabaseUpdate::ClassName, revId, Alice, at(1)));
    ASSERT_TRUE(operation);
    ASSERT_TRUE(queue.addOperation(operation));
    ASSERT_TRUE(tdwtest::waitUntil([&] { return operation->isFinished(); }));
    EXPECT_FALSE(operation->successful());
    EXPECT_TRUE(server.requestsTo(EventsPath).isEmpty());
}

TEST_F(CalendarSyncTest, TheTokenFollowsRedirectsOnlyToGoogleHttpsHosts)
{
    const TDWManagedObjectID revId = seedCalendar(TDWDocRev::DownloadPending);
    const QString plainTarget = QStringLiteral("http://www.googleapis.com/calendar/v3/calendars/elsewhere/events");
    server.addFault(QJsonObject{{QStringLiteral("path"), EventsPath}, {QStringLiteral("status"), 302}, {QStringLiteral("location"), plainTarget}});
    EXPECT_FALSE(synchronise(revId, at(1)));
    const QJsonArray redirected = server.requestsTo(QStringLiteral("/calendar/v3/calendars/elsewhere/events"));
    ASSERT_EQ(redirected.size(), 1);
    EXPECT_EQ(redirected.first().toObject().value(QStringLiteral("scheme")).toString(), QStringLiteral("http"));
    EXPECT_FALSE(redirected.first().toObject().value(QStringLiteral("headers")).toObject().contains(QStringLiteral("authorization")));
    const QJsonArray first = server.requestsTo(EventsPath);
    ASSERT_EQ(first.size(), 1);
    EXPECT_EQ(first.first().toObject().value(QStringLiteral("headers")).toObject().value(QStringLiteral("authorization")).toString(),
              QStringLiteral("Bearer at-alice"));
}

TEST_F(CalendarSyncTest, AChangedAccessRoleOrAVanishedStoreFetchesEverythingAgain)
{
    const TDWManagedObjectID writtenId = syncFullThenChange(TDWDocRev::BackedUp);
    const QString storePath = eventStorePath();
    // The listing saw the new role and made a revision still to be written.
    const TDWDocRev::Ptr written = revision(writtenId);
    written->setLatest(false);
    const TDWDocRev::Ptr reader = TDWDocRev::newWithMoc(*stack.moc, stack.store(Alice, QStringLiteral("calendar")));
    reader->setDoc(written->doc());
    reader->setTitle(written->title());
    reader->setAccessRole(QStringLiteral("reader"));
    reader->setDirPath(QStringLiteral("Alice/2"));
    reader->setFilePath(QStringLiteral("Alice/2/Alice.ics"));
    reader->setExportStatus(TDWDocRev::DownloadPending);
    reader->setLatest(true);
    reader->setFirstSeenDate(at(2));
    ASSERT_TRUE(stack.moc->save(nullptr));
    const TDWManagedObjectID revId = reader->objectID();
    tdwtest::LogCapture log;
    ASSERT_TRUE(synchronise(revId, at(2)));
    EXPECT_TRUE(log.contains(QStringLiteral("Access role changed from owner to reader. Downloading all events.")));
    EXPECT_EQ(eventQueries().value(0), QString());
    // Made again, empty, at the same path, and filled in full.
    EXPECT_EQ(eventStorePath(), storePath);
    EXPECT_EQ(storedEventIds(), QStringLiteral("added holiday paris weekly weekly_20120313T140000Z weekly_20120320T140000Z"));

    ASSERT_TRUE(QFile::remove(storePath));
    server.clearRequests();
    ASSERT_TRUE(synchronise(latestRevision()->objectID(), at(3)));
    EXPECT_EQ(eventQueries().value(0), QString());
    EXPECT_NE(eventStorePath(), storePath);
    EXPECT_EQ(storedEventIds(), QStringLiteral("added holiday paris weekly weekly_20120313T140000Z weekly_20120320T140000Z"));
}

TEST_F(CalendarSyncTest, AFullPassAfterOneThatFailedMidwayStartsFromAFreshStore)
{
    const TDWManagedObjectID revId = seedCalendar(TDWDocRev::DownloadPending);
    server.addFault(QJsonObject{{QStringLiteral("path"), EventsPath}, {QStringLiteral("body"), QStringLiteral("{not json")},
                                {QStringLiteral("skip"), 1}});
    ASSERT_FALSE(synchronise(revId, at(1)));
    const QString unfinished = eventStorePath();
    ASSERT_EQ(storedEventIds(), QStringLiteral("newyork paris"));
    EXPECT_FALSE(calendarDoc()->databaseLastUpdatedTime().isValid());

    // Deleted at Google before the next pass, which lists only the live events.
    server.nextRun();
    ASSERT_TRUE(synchronise(revId, at(2)));
    EXPECT_FALSE(QFileInfo::exists(unfinished));
    EXPECT_EQ(storedEventIds(), QStringLiteral("added holiday paris weekly weekly_20120313T140000Z weekly_20120320T140000Z"));
}

TEST_F(CalendarSyncTest, AnItemIdInFeedFormIsRequestedByItsLastSegment)
{
    const TDWManagedObjectID revId =
        seedCalendar(TDWDocRev::DownloadPending, QStringLiteral("https://www.google.com/calendar/feeds/default/allcalendars/full/alice%40example.com"));
    ASSERT_TRUE(synchronise(revId, at(1)));
    EXPECT_EQ(storedEventIds(), AllEvents);
}

} // namespace
