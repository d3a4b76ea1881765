#include "ApiBackupFixture.h"

#include "common/BKSNotUtils.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <gtest/gtest.h>

#include <optional>

namespace apitest {
namespace {

const QString Docs = QStringLiteral("docs");
const QString Contacts = QStringLiteral("contacts");
const QString Reader = QStringLiteral("reader");

class TDWApiBackupOperationTest : public ApiBackupTest
{
protected:
    // Marks the service's download counters stale with wrong values, so that
    // a recount shows.
    void spoilCounts(const QString &service)
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
        TDWError error;
        const TDWAccountServiceSetting::Ptr setting = TDWAccount::byUsername(Alice, *moc, &error)->settingForService(service);
        setting->setDownloadCountsUpToDate(false);
        setting->setNumDownloadsPending(99);
        ASSERT_TRUE(moc->save(&error)) << error.description().toStdString();
    }
    TDWAccountServiceSetting::Ptr setting(const QString &service)
    {
        m_moc = TDWMasterStore::shared().newMoc();
        TDWError error;
        return TDWAccount::byUsername(Alice, *m_moc, &error)->settingForService(service);
    }
    void expectRecounted(const QString &service, qint64 pending)
    {
        const TDWAccountServiceSetting::Ptr counted = setting(service);
        EXPECT_TRUE(counted->downloadCountsUpToDate());
        EXPECT_EQ(counted->numDownloadsPending(), pending);
    }

private:
    std::unique_ptr<TDWManagedObjectContext> m_moc;
};

TEST_F(TDWApiBackupOperationTest, DriveListsThenDownloadsMissingThenFailedThenNewRevisionsOneAtATimeAndRecounts)
{
    TDWUserDefaults::standard()->setInteger(1, QStringLiteral("googleDriveSimultaneous"));
    const TDWManagedObjectID newOlder = seed(Docs, TDWDocRev::DownloadPending, 5);
    const TDWManagedObjectID failed = seed(Docs, TDWDocRev::DownloadFailed, 3);
    const TDWManagedObjectID missingOlder = seed(Docs, TDWDocRev::FileMissing, 2);
    const TDWManagedObjectID newNewer = seed(Docs, TDWDocRev::DownloadPending, 8);
    const TDWManagedObjectID missingNewer = seed(Docs, TDWDocRev::FileMissing, 9);
    // Nothing to fetch: backed up, an older revision, a deleted item, another account.
    seed(Docs, TDWDocRev::BackedUp, 12);
    seed(Docs, TDWDocRev::DownloadPending, 13, false);
    seed(Docs, TDWDocRev::DownloadPending, 14, true, true);
    seed(Docs, TDWDocRev::DownloadPending, 15, true, false, Bob);
    spoilCounts(Docs);

    // The first download waits until the monitor has been told what was queued.
    std::optional<TDWActivityMonitorBackupStatus> queued;
    Script::shared().downloadsMayEnd = [&](int, int) {
        if (!queued) {
            const auto record = monitor.indexRetrievalStatusForUsername(Alice, Docs);
            if (record && record->status == TDWActivityMonitor::Downloading)
                queued = record;
        }
        return queued.has_value();
    };
    auto operation = std::make_shared<TDWApiBackupOperation>(Alice, Docs);
    ASSERT_TRUE(runToEnd(operation));

    const QList<Script::ListRun> lists = Script::shared().listRuns();
    ASSERT_EQ(lists.size(), 1);
    EXPECT_EQ(lists.first().username, Alice);
    EXPECT_EQ(lists.first().service, Docs);
    EXPECT_EQ(lists.first().backupIterationId, iterationId);
    EXPECT_NE(lists.first().downloadQueue, nullptr);
    EXPECT_FALSE(lists.first().cancelled);

    EXPECT_EQ(Script::shared().downloaded(), (QList<TDWManagedObjectID>{missingNewer, missingOlder, failed, newNewer, newOlder}));
    EXPECT_EQ(Script::shared().mostAtOnce(), 1);
    ASSERT_TRUE(queued);
    EXPECT_EQ(queued->numQueuedItems, 5);
    EXPECT_FALSE(queued->moreBatches);
    // Queueing, queued, done; the record is gone.
    EXPECT_EQ(statusChangesPosted(Alice, Docs), 3);
    EXPECT_FALSE(monitor.indexRetrievalStatusForUsername(Alice, Docs));
    expectRecounted(Docs, 2);
    EXPECT_FALSE(operation->isCancelled());
}

TEST_F(TDWApiBackupOperationTest, ServicesOtherThanDriveKeepFourDownloadsAtOnce)
{
    TDWUserDefaults::standard()->setInteger(1, QStringLiteral("googleDriveSimultaneous"));
    for (int hour = 1; hour <= 8; ++hour)
        seed(Contacts, TDWDocRev::DownloadPending, hour);
    // The first four wait until four run together, which a narrower queue
    // never reaches and a wider one passes; the rest end at once.
    Script::shared().downloadsMayEnd = [](int running, int started) { return running >= 4 || started > 4; };
    ASSERT_TRUE(runToEnd(std::make_shared<TDWApiBackupOperation>(Alice, Contacts)));
    EXPECT_EQ(Script::shared().downloaded().size(), 8);
    EXPECT_EQ(Script::shared().mostAtOnce(), 4);
}

// How the downloads meet failures: an item's failure (or a cancel) leaves the
// others to run; a refused sign-in or a lost connection, in a download or in
// the list before them, stops every download not yet begun, told in one line.
// What was not downloaded waits for the next run.
TEST_F(TDWApiBackupOperationTest, AnItemsFailureIsSkippedAndTheSignInOrConnectionStopsTheDownloads)
{
    const auto failure = [](TDWError::Scope scope) {
        return TDWError::withDescription(QStringLiteral("TestDomain"), 1, QStringLiteral("the server said no")).withScope(scope);
    };
    const struct {
        const char *name;
        TDWError listFailure;
        std::optional<TDWError::Scope> secondDownloadFails;
        int downloaded;
        bool stopped;
    } cases[] = {
        {"no failure", {}, std::nullopt, 5, false},
        {"an item's failure", {}, TDWError::Scope::Item, 5, false},
        {"a request's failure", {}, TDWError::Scope::Request, 5, false},
        {"a cancelled download", {}, TDWError::Scope::Cancelled, 5, false},
        {"the sign-in refused", {}, TDWError::Scope::SignIn, 2, true},
        {"the connection lost", {}, TDWError::Scope::Connection, 2, true},
        {"the list's sign-in refused", failure(TDWError::Scope::SignIn), std::nullopt, 0, true},
        {"the list's item failure", failure(TDWError::Scope::Item), std::nullopt, 5, false},
    };
    TDWUserDefaults::standard()->setInteger(1, QStringLiteral("googleDriveSimultaneous"));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Script::shared().reset();
        QList<TDWManagedObjectID> ids;
        for (int hour = 1; hour <= 5; ++hour)
            ids << seed(Docs, TDWDocRev::DownloadPending, hour);
        Script::shared().listFailure = c.listFailure;
        if (c.secondDownloadFails) {
            const TDWError second = failure(*c.secondDownloadFails);
            Script::shared().downloadFailure = [second](int started) { return started == 2 ? second : TDWError(); };
        }
        const qsizetype linesBefore = log.size();
        ASSERT_TRUE(runToEnd(std::make_shared<TDWApiBackupOperation>(Alice, Docs)));
        EXPECT_EQ(Script::shared().downloaded().size(), c.downloaded);
        const QStringList stops = log.mid(linesBefore).filter(QStringLiteral("ERROR: Stopped downloading docs items of %1: ").arg(Alice));
        EXPECT_EQ(stops.size(), c.stopped ? 1 : 0) << log.mid(linesBefore).join(u'\n').toStdString();
        if (c.stopped)
            EXPECT_TRUE(stops.first().endsWith(QStringLiteral("the server said no"))) << stops.first().toStdString();
        // Out of the way of the next case.
        for (const TDWManagedObjectID &id : ids) {
            const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
            const auto rev = std::dynamic_pointer_cast<TDWDocRev>(moc->existingObjectWithID(id, nullptr));
            rev->setExportStatus(TDWDocRev::BackedUp);
            ASSERT_TRUE(moc->save(nullptr));
        }
    }
}

TEST_F(TDWApiBackupOperationTest, ReaderRetrievesItsListOnlyAndStillRecounts)
{
    seed(Reader, TDWDocRev::DownloadPending, 3);
    spoilCounts(Reader);
    ASSERT_TRUE(runToEnd(std::make_shared<TDWApiBackupOperation>(Alice, Reader)));
    EXPECT_EQ(Script::shared().listRuns().size(), 1);
    EXPECT_TRUE(Script::shared().downloaded().isEmpty());
    // Done once before the closing steps and once at their end.
    EXPECT_EQ(statusChangesPosted(Alice, Reader), 2);
    expectRecounted(Reader, 1);
}

TEST_F(TDWApiBackupOperationTest, WithExportsTurnedOffNothingIsDownloadedButTheClosingStepsRun)
{
    TDWUserDefaults::standard()->setBool(true, QStringLiteral("DontDoExports"));
    seed(Docs, TDWDocRev::DownloadPending, 3);
    seed(Docs, TDWDocRev::DownloadPending, 4);
    spoilCounts(Docs);
    ASSERT_TRUE(runToEnd(std::make_shared<TDWApiBackupOperation>(Alice, Docs)));
    EXPECT_EQ(Script::shared().listRuns().size(), 1);
    EXPECT_TRUE(Script::shared().downloaded().isEmpty());
    // Only the closing "done".
    EXPECT_EQ(statusChangesPosted(Alice, Docs), 1);
    expectRecounted(Docs, 2);
}

TEST_F(TDWApiBackupOperationTest, TheClosingStepsApplyTheExclusionRulesBeforeTheyCount)
{
    TDWUserDefaults::standard()->setBool(true, QStringLiteral("DontDoExports"));
    TDWUserDefaults::standard()->setString(QStringLiteral("title BEGINSWITH \"Item\""), QStringLiteral("dontbackuppredicate"));
    const TDWManagedObjectID excluded = seed(Docs, TDWDocRev::DownloadPending, 3);
    spoilCounts(Docs);
    ASSERT_TRUE(runToEnd(std::make_shared<TDWApiBackupOperation>(Alice, Docs)));
    EXPECT_EQ(statusOf(excluded), TDWDocRev::ExcludedByRule);
    expectRecounted(Docs, 0);
}

TEST_F(TDWApiBackupOperationTest, WithNothingToDownloadTheMonitorGoesFromQueueingToDone)
{
    seed(Docs, TDWDocRev::BackedUp, 3);
    ASSERT_TRUE(runToEnd(std::make_shared<TDWApiBackupOperation>(Alice, Docs)));
    EXPECT_TRUE(Script::shared().downloaded().isEmpty());
    EXPECT_EQ(statusChangesPosted(Alice, Docs), 2);
    EXPECT_FALSE(monitor.indexRetrievalStatusForUsername(Alice, Docs));
}

TEST_F(TDWApiBackupOperationTest, DisablingTheServiceOrDeletingTheAccountDuringTheListCancelsItAndNothingIsDownloaded)
{
    qint64 pending = 0;
    for (const QString &name : {QStringLiteral("accountUpdate"), QStringLiteral("deletedAccount")}) {
        SCOPED_TRACE(name.toStdString());
        Script::shared().reset();
        setEnabled(Alice, Docs, true);
        seed(Docs, TDWDocRev::DownloadPending, 3);
        ++pending;
        spoilCounts(Docs);
        // Posted from the list's thread, and delivered on the main thread before the list goes on.
        Script::shared().duringList = [this, name] {
            setEnabled(Alice, Docs, false);
            BKSNotUtils::postNotificationName(name, nullptr, {{QStringLiteral("accountUsername"), Alice}}, true);
        };
        auto operation = std::make_shared<TDWApiBackupOperation>(Alice, Docs);
        ASSERT_TRUE(runToEnd(operation));
        EXPECT_TRUE(operation->isCancelled());
        ASSERT_EQ(Script::shared().listRuns().size(), 1);
        EXPECT_TRUE(Script::shared().listRuns().first().cancelled);
        EXPECT_TRUE(Script::shared().downloaded().isEmpty());
        expectRecounted(Docs, pending);
    }
}

TEST_F(TDWApiBackupOperationTest, DisablingTheServiceWhileTheDownloadsAreQueuedStopsTheQueueing)
{
    TDWUserDefaults::standard()->setInteger(1, QStringLiteral("googleDriveSimultaneous"));
    for (int hour = 1; hour <= 5; ++hour)
        seed(Docs, TDWDocRev::DownloadPending, hour);
    // The first download is held, so that nothing but the queueing goes on.
    Script::shared().downloadsMayEnd = [](int, int) { return Script::shared().made() >= 2; };
    Script::shared().downloadMade = [this](int made) {
        if (made != 2)
            return;
        setEnabled(Alice, Docs, false);
        BKSNotUtils::postNotificationName(QStringLiteral("accountUpdate"), nullptr, {{QStringLiteral("accountUsername"), Alice}}, true);
    };
    auto operation = std::make_shared<TDWApiBackupOperation>(Alice, Docs);
    ASSERT_TRUE(runToEnd(operation));
    EXPECT_TRUE(operation->isCancelled());
    // The one made when the cancel came is not queued; none after it is made.
    EXPECT_EQ(Script::shared().made(), 2);
    EXPECT_LE(Script::shared().downloaded().size(), 1);
}

TEST_F(TDWApiBackupOperationTest, ANotificationAboutAnotherAccountChangesNothing)
{
    seed(Docs, TDWDocRev::DownloadPending, 3);
    Script::shared().duringList = [this] {
        setEnabled(Bob, Docs, false);
        BKSNotUtils::postNotificationName(QStringLiteral("accountUpdate"), nullptr, {{QStringLiteral("accountUsername"), Bob}}, true);
        BKSNotUtils::postNotificationName(QStringLiteral("deletedAccount"), nullptr, {{QStringLiteral("accountUsername"), Bob}}, true);
    };
    auto operation = std::make_shared<TDWApiBackupOperation>(Alice, Docs);
    ASSERT_TRUE(runToEnd(operation));
    EXPECT_FALSE(operation->isCancelled());
    EXPECT_FALSE(Script::shared().listRuns().first().cancelled);
    EXPECT_EQ(Script::shared().downloaded().size(), 1);
}

TEST_F(TDWApiBackupOperationTest, AnAccountUpdateThatLeavesTheServiceOnChangesNothing)
{
    seed(Docs, TDWDocRev::DownloadPending, 3);
    Script::shared().duringList = [] {
        BKSNotUtils::postNotificationName(QStringLiteral("accountUpdate"), nullptr, {{QStringLiteral("accountUsername"), Alice}}, true);
    };
    auto operation = std::make_shared<TDWApiBackupOperation>(Alice, Docs);
    ASSERT_TRUE(runToEnd(operation));
    EXPECT_FALSE(operation->isCancelled());
    EXPECT_EQ(Script::shared().downloaded().size(), 1);
}

TEST_F(TDWApiBackupOperationTest, AnAccountGoneByTheQueueingQueuesNothing)
{
    seed(Docs, TDWDocRev::DownloadPending, 3);
    // Removed without a notification, so the operation is not cancelled.
    Script::shared().duringList = [] {
        const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
        TDWError error;
        moc->deleteObject(TDWAccount::byUsername(Alice, *moc, &error));
        ASSERT_TRUE(moc->save(&error)) << error.description().toStdString();
    };
    auto operation = std::make_shared<TDWApiBackupOperation>(Alice, Docs);
    ASSERT_TRUE(runToEnd(operation));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to find account in TDWApiBackupOperation doExports.")));
    EXPECT_TRUE(Script::shared().downloaded().isEmpty());
    // Queueing, then the closing "done".
    EXPECT_EQ(statusChangesPosted(Alice, Docs), 2);
}

TEST_F(TDWApiBackupOperationTest, WithoutAnAccountServiceStoreNothingHappens)
{
    ASSERT_TRUE(runToEnd(std::make_shared<TDWApiBackupOperation>(QStringLiteral("carol@example.com"), Docs)));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to find account/service store.")));
    EXPECT_TRUE(Script::shared().listRuns().isEmpty());
    EXPECT_EQ(statusChangesPosted(QStringLiteral("carol@example.com"), Docs), 0);
}

TEST_F(TDWApiBackupOperationTest, WithoutABackupIterationTheOperationCancelsItself)
{
    seed(Docs, TDWDocRev::DownloadPending, 3);
    spoilCounts(Docs);
    stack.moc->deleteObject(stack.moc->objectWithID(iterationId));
    TDWError error;
    ASSERT_TRUE(stack.moc->save(&error));
    auto operation = std::make_shared<TDWApiBackupOperation>(Alice, Docs);
    ASSERT_TRUE(runToEnd(operation));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to find backup iteration in TDWApiBackupOperation.")));
    EXPECT_TRUE(operation->isCancelled());
    EXPECT_TRUE(Script::shared().listRuns().isEmpty());
    EXPECT_EQ(statusChangesPosted(Alice, Docs), 0);
    EXPECT_FALSE(setting(Docs)->downloadCountsUpToDate());
}

} // namespace
} // namespace apitest
