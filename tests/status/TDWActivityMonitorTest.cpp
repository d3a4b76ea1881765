#include "../dataobjects/DataObjectsTestSupport.h"

#include "TestSupport.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "status/TDWActivityMonitor.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QString Bob = QStringLiteral("bob@example.com");
const QString Docs = QStringLiteral("docs");
const QString Contacts = QStringLiteral("contacts");
const QString StatusChange = QStringLiteral("indexretrievalstatuschange");

struct Delivered
{
    QString name;
    QObject *object = nullptr;
    QVariantMap userInfo;
    bool onMainThread = false;
};

// Records every notification that reaches the default centre.
class NotificationLog
{
public:
    NotificationLog()
        : m_token(TDWNotificationCenter::defaultCenter().addObserver({}, [this](const TDWNotification &notification) {
            std::lock_guard lock(m_mutex);
            m_delivered.push_back({notification.name(), notification.object(), notification.userInfo(),
                                   QThread::currentThread() == QCoreApplication::instance()->thread()});
        }))
    {
    }
    ~NotificationLog() { TDWNotificationCenter::defaultCenter().removeObserver(m_token); }

    std::vector<Delivered> delivered()
    {
        std::lock_guard lock(m_mutex);
        return m_delivered;
    }
    // Lets the main thread deliver what was queued for it, then hands it over.
    std::vector<Delivered> deliverQueued()
    {
        QCoreApplication::sendPostedEvents();
        std::lock_guard lock(m_mutex);
        return std::exchange(m_delivered, {});
    }

private:
    std::mutex m_mutex;
    std::vector<Delivered> m_delivered;
    TDWNotificationCenter::Token m_token;
};

QVariantMap accountInfo(const QString &username, const QString &service)
{
    return {{QStringLiteral("accountUsername"), username}, {QStringLiteral("service"), service}};
}

class TDWActivityMonitorTest : public ::testing::Test
{
protected:
    TDWActivityMonitor monitor;
    NotificationLog log;
};

struct ReportCase
{
    const char *label;
    std::function<void(TDWActivityMonitor &)> before;
    std::function<void(TDWActivityMonitor &)> report;
    bool recordExpected;
    TDWActivityMonitorBackupStatus expected; // the fields compared below
    QString notification;
};

TDWActivityMonitorBackupStatus record(qint64 status, qint64 items = 0, bool initial = false, qint64 queued = 0,
                                      qint64 processed = 0, bool moreBatches = false)
{
    TDWActivityMonitorBackupStatus value;
    value.accountUsername = Alice;
    value.service = Docs;
    value.status = status;
    value.numItemsRetrieved = items;
    value.initial = initial;
    value.numQueuedItems = queued;
    value.numQueuedItemsProcessed = processed;
    value.moreBatches = moreBatches;
    return value;
}

void nothing(TDWActivityMonitor &) {}

} // namespace

TEST_F(TDWActivityMonitorTest, EachReportSetsTheRecordAndPostsItsNotificationOnTheMainThread)
{
    const auto queued = [](TDWActivityMonitor &m) { m.queuedIndividualItemBackupsForAccountUsername(Alice, Docs, 9, true); };
    const auto started = [](TDWActivityMonitor &m) { m.startedRetrievingApiListForAccountUsername(Alice, Docs, true); };
    const ReportCase cases[] = {
        {"list started", nothing, started, true, record(1, 0, true), StatusChange},
        {"list restarted resets the count", [](TDWActivityMonitor &m) { m.updateApiListForAccountUsername(Alice, Docs, 40); },
         [](TDWActivityMonitor &m) { m.startedRetrievingApiListForAccountUsername(Alice, Docs, false); }, true, record(1, 0, false),
         StatusChange},
        {"count without a record creates one at status 0", nothing,
         [](TDWActivityMonitor &m) { m.updateApiListForAccountUsername(Alice, Docs, 25); }, true, record(0, 25), StatusChange},
        {"count keeps the status", started, [](TDWActivityMonitor &m) { m.updateApiListForAccountUsername(Alice, Docs, 7); }, true,
         record(1, 7, true), StatusChange},
        {"list done leaves the record", started,
         [](TDWActivityMonitor &m) { m.doneRetrievingListForAccountUsername(Alice, Docs, 0); }, true, record(1, 0, true),
         QStringLiteral("NOTIFICATION_INDEXRETRIEVAL_SUCCEEDED")},
        {"list done without a record makes none", nothing,
         [](TDWActivityMonitor &m) { m.doneRetrievingListForAccountUsername(Alice, Docs, 0); }, false, {},
         QStringLiteral("NOTIFICATION_INDEXRETRIEVAL_SUCCEEDED")},
        {"list cancelled fails the record", started,
         [](TDWActivityMonitor &m) { m.doneRetrievingListForAccountUsername(Alice, Docs, 1); }, true, record(3, 0, true), StatusChange},
        {"list failed without a record creates one", nothing,
         [](TDWActivityMonitor &m) { m.doneRetrievingListForAccountUsername(Alice, Docs, 2); }, true, record(3), StatusChange},
        {"validating clears initial", started,
         [](TDWActivityMonitor &m) { m.startedValidatingBackupsForAccountUsername(Alice, Docs); }, true, record(12, 0, false),
         StatusChange},
        {"queueing downloads", nothing,
         [](TDWActivityMonitor &m) { m.queueingIndividualItemBackupsForAccountUsername(Alice, Docs); }, true, record(6),
         StatusChange},
        {"downloads queued", nothing, queued, true, record(7, 0, false, 9, 0, true), StatusChange},
        {"backing up done removes the record", queued,
         [](TDWActivityMonitor &m) { m.doneBackingUpAccountUsername(Alice, Docs); }, false, {}, StatusChange},
        {"backing up done without a record", nothing,
         [](TDWActivityMonitor &m) { m.doneBackingUpAccountUsername(Alice, Docs); }, false, {}, StatusChange},
    };
    for (const ReportCase &c : cases) {
        SCOPED_TRACE(c.label);
        TDWActivityMonitor fresh;
        c.before(fresh);
        log.deliverQueued();

        c.report(fresh);
        EXPECT_TRUE(log.delivered().empty()) << "delivered before the main thread went back to its event loop";
        const auto delivered = log.deliverQueued();
        ASSERT_EQ(delivered.size(), 1u);
        EXPECT_EQ(delivered[0].name, c.notification);
        EXPECT_EQ(delivered[0].object, &fresh);
        EXPECT_EQ(delivered[0].userInfo, accountInfo(Alice, Docs));
        EXPECT_TRUE(delivered[0].onMainThread);

        const auto found = fresh.indexRetrievalStatusForUsername(Alice, Docs);
        ASSERT_EQ(found.has_value(), c.recordExpected);
        EXPECT_EQ(fresh.currentStatusValues().size(), c.recordExpected ? 1 : 0);
        if (!found)
            continue;
        EXPECT_EQ(found->accountUsername, Alice);
        EXPECT_EQ(found->service, Docs);
        EXPECT_EQ(found->status, c.expected.status);
        EXPECT_EQ(found->numItemsRetrieved, c.expected.numItemsRetrieved);
        EXPECT_EQ(found->initial, c.expected.initial);
        EXPECT_EQ(found->numQueuedItems, c.expected.numQueuedItems);
        EXPECT_EQ(found->numQueuedItemsProcessed, c.expected.numQueuedItemsProcessed);
        EXPECT_EQ(found->moreBatches, c.expected.moreBatches);
    }
}

TEST_F(TDWActivityMonitorTest, RecordsKeepTheOrderOfTheirFirstReportAndACycleClearsThem)
{
    monitor.startedRetrievingApiListForAccountUsername(Bob, Contacts, false);
    monitor.startedRetrievingApiListForAccountUsername(Alice, Docs, false);
    monitor.updateApiListForAccountUsername(Bob, Contacts, 3);
    auto order = [this] {
        QStringList keys;
        for (const auto &value : monitor.currentStatusValues())
            keys.append(value.accountUsername + QLatin1Char('/') + value.service);
        return keys;
    };
    EXPECT_EQ(order(), (QStringList{QStringLiteral("bob@example.com/contacts"), QStringLiteral("alice@example.com/docs")}));

    monitor.doneBackingUpAccountUsername(Bob, Contacts);
    monitor.queueingIndividualItemBackupsForAccountUsername(Bob, Contacts);
    EXPECT_EQ(order(), (QStringList{QStringLiteral("alice@example.com/docs"), QStringLiteral("bob@example.com/contacts")}));
    log.deliverQueued();

    monitor.beganBackupCycle();
    EXPECT_TRUE(monitor.currentStatusValues().isEmpty());
    EXPECT_FALSE(monitor.indexRetrievalStatusForUsername(Alice, Docs));
    monitor.endedBackupCycle();
    const auto delivered = log.deliverQueued();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].name, QStringLiteral("backupInProgress"));
    EXPECT_EQ(delivered[1].name, QStringLiteral("failedBackup"));
    for (const Delivered &d : delivered) {
        EXPECT_EQ(d.object, &monitor);
        EXPECT_TRUE(d.userInfo.isEmpty());
    }
}

TEST_F(TDWActivityMonitorTest, DoneGlobalAndDoneEachPostTheGlobalStatusChange)
{
    for (auto report : {&TDWActivityMonitor::doneGlobal, &TDWActivityMonitor::done}) {
        (monitor.*report)();
        EXPECT_FALSE(monitor.globalOperationStatus());
        const auto delivered = log.deliverQueued();
        ASSERT_EQ(delivered.size(), 1u);
        EXPECT_EQ(delivered[0].name, QStringLiteral("NOTIFICATION_GLOBAL_BACKUP_OPERATION_STATUS_CHANGE"));
        EXPECT_TRUE(delivered[0].userInfo.isEmpty());
    }
}

TEST_F(TDWActivityMonitorTest, MailListReportsSetTheMailRecordAndItsFraction)
{
    const QString Mail = QStringLiteral("mail");
    monitor.startedRetrievingMailListForAccountUsername(Alice, true);
    auto found = monitor.indexRetrievalStatusForUsername(Alice, Mail);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->status, TDWActivityMonitor::RetrievingList);
    EXPECT_TRUE(found->initial);
    EXPECT_EQ(found->pctComplete, 0.0);
    const TDWActivityMonitorBackupStatus before = *found;

    monitor.updateRetrievingAllMailListForAccountUsername(Alice, 10, 110, 60);
    found = monitor.indexRetrievalStatusForUsername(Alice, Mail);
    EXPECT_EQ(found->pctComplete, 0.5);
    EXPECT_TRUE(found->initial);
    EXPECT_EQ(before.pctComplete, 0.0) << "a record handed out earlier changed with the monitor's";
    EXPECT_EQ(before.compareKey(*found), 0);

    // A restart of the list keeps the fraction reached.
    monitor.doneRetrievingListForAccountUsername(Alice, Mail, 2);
    EXPECT_EQ(monitor.indexRetrievalStatusForUsername(Alice, Mail)->status, TDWActivityMonitor::ListRetrievalFailed);
    monitor.startedRetrievingMailListForAccountUsername(Alice, false);
    found = monitor.indexRetrievalStatusForUsername(Alice, Mail);
    EXPECT_EQ(found->status, TDWActivityMonitor::RetrievingList);
    EXPECT_FALSE(found->initial);
    EXPECT_EQ(found->pctComplete, 0.5);

    // A progress report without a start creates the record.
    monitor.updateRetrievingAllMailListForAccountUsername(Bob, 1, 2001, 1001);
    found = monitor.indexRetrievalStatusForUsername(Bob, Mail);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->status, TDWActivityMonitor::RetrievingList);
    EXPECT_EQ(found->pctComplete, 0.5);

    const auto delivered = log.deliverQueued();
    ASSERT_EQ(delivered.size(), 5u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(delivered[i].userInfo, accountInfo(Alice, Mail));
    EXPECT_EQ(delivered[4].userInfo, accountInfo(Bob, Mail));
    for (const Delivered &d : delivered)
        EXPECT_EQ(d.name, StatusChange);
}

TEST_F(TDWActivityMonitorTest, TheFractionIsZeroForNothingDoneAndOneForNothingToDo)
{
    struct Case
    {
        qint64 numerator, denominator;
        double expected;
    };
    for (const Case c : {Case{0, 0, 0.0}, Case{0, 100, 0.0}, Case{5, 0, 1.0}, Case{50, 100, 0.5}, Case{-10, 100, -0.1},
                         Case{150, 100, 1.5}}) {
        SCOPED_TRACE(testing::Message() << c.numerator << "/" << c.denominator);
        EXPECT_DOUBLE_EQ(TDWActivityMonitor::getPctWithNumerator(c.numerator, c.denominator), c.expected);
    }
}

TEST_F(TDWActivityMonitorTest, RecordsCompareByUsernameThenService)
{
    TDWActivityMonitorBackupStatus aliceDocs = record(1);
    TDWActivityMonitorBackupStatus aliceContacts = record(1);
    aliceContacts.service = Contacts;
    TDWActivityMonitorBackupStatus bobContacts = aliceContacts;
    bobContacts.accountUsername = Bob;
    EXPECT_GT(aliceDocs.compareKey(aliceContacts), 0);
    EXPECT_LT(aliceContacts.compareKey(aliceDocs), 0);
    EXPECT_LT(aliceDocs.compareKey(bobContacts), 0);
    EXPECT_EQ(aliceDocs.compareKey(record(7)), 0);
}

TEST_F(TDWActivityMonitorTest, TheGlobalRecordFollowsRulesAndStatusCacheWork)
{
    monitor.startedRetrievingApiListForAccountUsername(Alice, Docs, false);
    monitor.startedCheckingRules();
    auto global = monitor.globalOperationStatus();
    ASSERT_TRUE(global);
    EXPECT_EQ(global->status, TDWActivityMonitor::CheckingRules);
    EXPECT_TRUE(global->accountUsername.isNull());
    EXPECT_TRUE(global->service.isNull());
    monitor.startedStatusCache();
    EXPECT_EQ(monitor.globalOperationStatus()->status, TDWActivityMonitor::UpdatingStatusCache);
    const auto values = monitor.currentStatusValues();
    ASSERT_EQ(values.size(), 2);
    EXPECT_EQ(values[1].status, TDWActivityMonitor::UpdatingStatusCache);
    EXPECT_FALSE(monitor.indexRetrievalStatusForUsername(QString(), QString()));
    monitor.doneGlobal();
    EXPECT_FALSE(monitor.globalOperationStatus());
    EXPECT_EQ(monitor.currentStatusValues().size(), 1);

    const auto delivered = log.deliverQueued();
    ASSERT_EQ(delivered.size(), 4u);
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(delivered[i].name, QStringLiteral("NOTIFICATION_GLOBAL_BACKUP_OPERATION_STATUS_CHANGE"));
        EXPECT_TRUE(delivered[i].userInfo.isEmpty());
    }
}

TEST_F(TDWActivityMonitorTest, ReportsFromWorkerThreadsAreDeliveredOnTheMainThreadAndNoneIsLost)
{
    constexpr int Threads = 4;
    constexpr int ReportsEach = 200;
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t)
        workers.emplace_back([this, t] {
            const QString username = QStringLiteral("user%1@example.com").arg(t);
            for (int i = 1; i <= ReportsEach; ++i)
                monitor.updateApiListForAccountUsername(username, Docs, i);
        });
    for (std::thread &worker : workers)
        worker.join();

    EXPECT_TRUE(log.delivered().empty());
    const auto delivered = log.deliverQueued();
    EXPECT_EQ(delivered.size(), size_t(Threads * ReportsEach));
    for (const Delivered &d : delivered)
        ASSERT_TRUE(d.onMainThread);
    const auto values = monitor.currentStatusValues();
    ASSERT_EQ(values.size(), Threads);
    for (const auto &value : values)
        EXPECT_EQ(value.numItemsRetrieved, ReportsEach);
}

class TDWActivityMonitorDownloadTest : public TDWActivityMonitorTest
{
protected:
    void SetUp() override
    {
        stack.addAccount(Alice, {Docs});
        auto doc = TDWDoc::newWithMoc(*stack.moc, stack.store(Alice, Docs));
        doc->setDocId(QStringLiteral("doc-1"));
        doc->setAccountUsername(Alice);
        doc->setService(Docs);
        auto revision = TDWDocRev::newWithMoc(*stack.moc, doc->persistentStore());
        revision->setDoc(doc);
        revision->setExportStatus(TDWDocRev::BackedUp);
        TDWError error;
        ASSERT_TRUE(stack.moc->save(&error)) << error.description().toStdString();
        revisionId = revision->objectID();
    }

    QVariantMap downloadInfo() const
    {
        QVariantMap info = accountInfo(Alice, Docs);
        info.insert(QStringLiteral("docrev_docid"), QStringLiteral("doc-1"));
        info.insert(QStringLiteral("docrevobjectid"), QVariant::fromValue(revisionId));
        return info;
    }

    dotest::MetadataStack stack;
    TDWManagedObjectID revisionId;
};

TEST_F(TDWActivityMonitorDownloadTest, ABeganDownloadOutlivesTheCycleAndCountsWhenItStopsForGood)
{
    monitor.queuedIndividualItemBackupsForAccountUsername(Alice, Docs, 2, false);
    log.deliverQueued();

    monitor.downloadBeganForDocRevObjectId(revisionId);
    EXPECT_TRUE(monitor.docRevExportRetrievalInProgress(revisionId));
    auto delivered = log.deliverQueued();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].name, QStringLiteral("retrievalstarted"));
    EXPECT_EQ(delivered[0].userInfo, downloadInfo());

    monitor.downloadStoppedForDocRevObjectId(revisionId, 1, true);
    EXPECT_FALSE(monitor.docRevExportRetrievalInProgress(revisionId));
    EXPECT_EQ(monitor.indexRetrievalStatusForUsername(Alice, Docs)->numQueuedItemsProcessed, 0);
    monitor.downloadBeganForDocRevObjectId(revisionId);
    monitor.beganBackupCycle();
    EXPECT_TRUE(monitor.docRevExportRetrievalInProgress(revisionId));
    monitor.queuedIndividualItemBackupsForAccountUsername(Alice, Docs, 2, false);
    log.deliverQueued();

    monitor.downloadStoppedForDocRevObjectId(revisionId, 0, false);
    EXPECT_EQ(monitor.indexRetrievalStatusForUsername(Alice, Docs)->numQueuedItemsProcessed, 1);
    delivered = log.deliverQueued();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].name, QStringLiteral("retrievalattempted"));
    QVariantMap expected = downloadInfo();
    expected.insert(QStringLiteral("docrev_status"), qint64(TDWDocRev::BackedUp));
    EXPECT_EQ(delivered[0].userInfo, expected);
}

TEST_F(TDWActivityMonitorDownloadTest, AnUnknownRevisionIsLoggedAndPostsNothing)
{
    TDWManagedObjectID unknown = revisionId;
    {
        auto revision = stack.moc->existingObjectWithID(revisionId, nullptr);
        stack.moc->deleteObject(revision);
        ASSERT_TRUE(stack.moc->save(nullptr));
    }
    tdwtest::LogCapture logged;
    monitor.downloadBeganForDocRevObjectId(unknown);
    monitor.downloadStoppedForDocRevObjectId(unknown, 1, false);
    EXPECT_TRUE(logged.contains(QStringLiteral("ERROR: Unexpected number of results for fetch request in downloadBeganForDocRevObjectId: 0")));
    EXPECT_TRUE(logged.contains(
        QStringLiteral("ERROR: Called TDWActivityMonitor downloadStoppedForDocRevObjectId with Object ID that could not be found.")));
    EXPECT_FALSE(monitor.docRevExportRetrievalInProgress(unknown));
    EXPECT_TRUE(log.deliverQueued().empty());
}

TEST_F(TDWActivityMonitorDownloadTest, SeveralBeganDownloadsPostUpToTheFirstUnknownOneAndAllStayInTheSet)
{
    TDWManagedObjectID gone;
    {
        auto doc = TDWDoc::newWithMoc(*stack.moc, stack.store(Alice, Docs));
        doc->setDocId(QStringLiteral("doc-2"));
        auto revision = TDWDocRev::newWithMoc(*stack.moc, doc->persistentStore());
        revision->setDoc(doc);
        ASSERT_TRUE(stack.moc->save(nullptr));
        gone = revision->objectID();
        stack.moc->deleteObject(revision);
        ASSERT_TRUE(stack.moc->save(nullptr));
    }
    tdwtest::LogCapture logged;
    monitor.downloadBeganForDocRevObjectIds({revisionId, gone, revisionId});
    EXPECT_TRUE(monitor.docRevExportRetrievalInProgress(revisionId));
    EXPECT_TRUE(monitor.docRevExportRetrievalInProgress(gone));
    EXPECT_TRUE(logged.contains(
        QStringLiteral("ERROR: Called TDWActivityMonitor downloadBeganForDocRevObjectId with Object ID that could not be found.")));
    const auto delivered = log.deliverQueued();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].name, QStringLiteral("retrievalstarted"));
    EXPECT_EQ(delivered[0].userInfo, downloadInfo());
}
