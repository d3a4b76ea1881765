#include "../dataobjects/DataObjectsTestSupport.h"

#include "FakeGoogleTest.h"
#include "TestSupport.h"
#include "accounts/TDWAccessTokenRetriever.h"
#include "accounts/TDWCredential.h"
#include "accounts/TDWGoogleEndpoints.h"
#include "accounts/TDWKeychainMgr.h"
#include "agent/TDWBackupOperation.h"
#include "agent/TDWBackupOperationClasses.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "status/TDWActivityMonitor.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const QDateTime Now(QDate(2026, 6, 15), QTime(12, 0), Qt::UTC);
const QString Docs = QStringLiteral("docs");
const QString Contacts = QStringLiteral("contacts");
const QString Calendar = QStringLiteral("calendar");
const QString Mail = QStringLiteral("mail");

// What the service operations of the runs did. The test's operations stand in
// for the API services' class; the mail class is left unregistered.
class ServiceOperations
{
public:
    static ServiceOperations &shared()
    {
        static ServiceOperations operations;
        return operations;
    }

    void reset(bool hold)
    {
        std::lock_guard lock(m_mutex);
        m_hold = hold;
        m_started.clear();
        m_running.clear();
    }
    // Held operations run until finishAll(); the others finish at once.
    bool hold() const
    {
        std::lock_guard lock(m_mutex);
        return m_hold;
    }
    void started(const std::shared_ptr<TDWOperation> &operation, const QString &key)
    {
        std::lock_guard lock(m_mutex);
        m_started.append(key);
        m_running.push_back(operation);
    }
    // Sorted: the run's operations start on worker threads of their own, in no fixed order.
    QStringList startedKeys() const
    {
        std::lock_guard lock(m_mutex);
        QStringList keys = m_started;
        keys.sort();
        return keys;
    }
    std::vector<std::shared_ptr<TDWOperation>> running() const
    {
        std::lock_guard lock(m_mutex);
        std::vector<std::shared_ptr<TDWOperation>> alive;
        for (const auto &weak : m_running)
            if (auto operation = weak.lock(); operation && !operation->isFinished())
                alive.push_back(operation);
        return alive;
    }
    void finishAll()
    {
        for (const auto &operation : running())
            operation->finish();
    }

private:
    mutable std::mutex m_mutex;
    bool m_hold = false;
    QStringList m_started;
    std::vector<std::weak_ptr<TDWOperation>> m_running;
};

class TestServiceOperation : public TDWOperation
{
public:
    TestServiceOperation(const QString &username, const QString &service)
        : m_key(TDWBackupOperation::keyForAccountUsername(username, service))
    {
    }
    bool isConcurrent() const override { return true; }

protected:
    void main() override
    {
        ServiceOperations::shared().started(shared_from_this(), m_key);
        if (!ServiceOperations::shared().hold())
            finish();
    }

private:
    QString m_key;
};

// Counts the activity monitor's global status changes (the run's start and end).
class GlobalStatusChanges
{
public:
    GlobalStatusChanges()
        : m_token(TDWNotificationCenter::defaultCenter().addObserver(QStringLiteral("NOTIFICATION_GLOBAL_BACKUP_OPERATION_STATUS_CHANGE"),
                                                                     [this](const TDWNotification &) { ++m_count; }))
    {
    }
    ~GlobalStatusChanges() { TDWNotificationCenter::defaultCenter().removeObserver(m_token); }
    int count() const { return m_count; }

private:
    std::atomic<int> m_count = 0;
    TDWNotificationCenter::Token m_token;
};

class TDWBackupOperationTest : public tdwtest::FakeGoogleTest
{
protected:
    static void SetUpTestSuite()
    {
        TDWBackupOperationClasses::shared().registerClass<TestServiceOperation>(QStringLiteral("TDWApiBackupOperation"));
        startFake();
    }

    void SetUp() override
    {
        TDWClock::setNowProvider([] { return Now; });
        TDWKeyring::setBackend(std::make_shared<TDWFileKeyring>(tdwtest::freshDir(QStringLiteral("keyring"))));
        TDWActivityMonitor::setShared(&monitor);
        ServiceOperations::shared().reset(false);
        defaults()->removeObjectForKey(QStringLiteral("altbackuploc"));
        setScenario(3600);
    }

    void TearDown() override
    {
        // Whatever a failed test left running ends before the next one.
        ServiceOperations::shared().finishAll();
        if (run && !run->isFinished()) {
            run->cancel();
            tdwtest::waitUntil([this] { return run->isFinished(); });
        }
        backupQueue.waitUntilAllOperationsAreFinished();
        QCoreApplication::processEvents();
        TDWActivityMonitor::setShared(nullptr);
        TDWKeyring::setBackend(nullptr);
        TDWClock::setDurationScale(1.0);
        TDWClock::setNowProvider({});
    }

    static TDWUserDefaults *defaults() { return TDWUserDefaults::standard(); }

    // A user name of this test alone: the keychain manager's cache lives for the whole process.
    static QString user(const QString &tag)
    {
        const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
        return QStringLiteral("%1.%2@example.com").arg(QString::fromUtf8(test->name()), tag).toLower();
    }
    // Free of characters that a form body escapes.
    static QString refreshTokenOf(const QString &username)
    {
        return QStringLiteral("rt-") + QString(username).replace(QLatin1Char('@'), QLatin1Char('-')).replace(QLatin1Char('.'), QLatin1Char('-'));
    }

    void setScenario(int tokenLifetime)
    {
        m_scenario = QJsonObject{{QStringLiteral("token_lifetime"), tokenLifetime},
                                 {QStringLiteral("clients"), QJsonObject{{TDWGoogleEndpoints::clientId(), TDWGoogleEndpoints::clientSecret()}}},
                                 {QStringLiteral("accounts"), QJsonArray{}}};
        s_fake->control(QStringLiteral("scenario"), QJsonDocument(m_scenario));
    }

    // An account with a stored credential; Google knows its refresh token unless told otherwise.
    void addAccount(const QString &username, const QStringList &services, bool googleKnowsIt = true)
    {
        stack.addAccount(username, services);
        auto credential = std::make_shared<TDWCredential>();
        credential->setRefreshToken(refreshTokenOf(username));
        ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, username, true));
        if (googleKnowsIt)
            s_fake->addAccount(QJsonObject{{QStringLiteral("email"), username}, {QStringLiteral("refresh_token"), refreshTokenOf(username)}});
    }

    int tokenRequestsFor(const QString &username) const
    {
        int count = 0;
        for (const QJsonValue &request : s_fake->requestsTo(QStringLiteral("/o/oauth2/token")))
            if (request[QStringLiteral("body")].toString().contains(QStringLiteral("refresh_token=") + refreshTokenOf(username)))
                ++count;
        return count;
    }

    void startRun()
    {
        run = std::make_shared<TDWBackupOperation>();
        QObject::connect(run.get(), &TDWOperation::finishedChanged, run.get(), [this](bool) { ++finishes; }, Qt::DirectConnection);
        backupQueue.setMaxConcurrentOperationCount(1);
        ASSERT_TRUE(backupQueue.addOperation(run));
    }

    bool waitForStarted(int count)
    {
        return tdwtest::waitUntil([count] { return ServiceOperations::shared().startedKeys().size() >= count; });
    }

    bool waitForFinish()
    {
        return tdwtest::waitUntil([this] { return run->isFinished(); });
    }

    TDWBackupIteration::Ptr iteration()
    {
        stack.moc->reset();
        return TDWBackupIteration::latestBackupIteration(*stack.moc, nullptr);
    }

    QStringList snapshots() const
    {
        return QDir(QDir(TDWFileMgr::appSupportDir()).filePath(QStringLiteral("Store Backups"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    }

    static QStringList errorsIn(const tdwtest::LogCapture &log)
    {
        QStringList errors;
        for (const QString &line : log.lines())
            if (line.startsWith(QStringLiteral("ERROR: ")))
                errors.append(line);
        return errors;
    }

    dotest::MetadataStack stack;
    TDWActivityMonitor monitor;
    GlobalStatusChanges globalStatusChanges;
    TDWOperationQueue backupQueue;
    std::shared_ptr<TDWBackupOperation> run;
    std::atomic<int> finishes = 0;
    QJsonObject m_scenario;
};

} // namespace

TEST_F(TDWBackupOperationTest, ARunWithoutEnabledAccountsOpensAndClosesAnIterationAndTakesASnapshot)
{
    addAccount(user(QStringLiteral("idle")), {});
    defaults()->setBool(true, QStringLiteral("last_cancelled"));
    tdwtest::LogCapture log;

    startRun();
    ASSERT_TRUE(waitForFinish());
    QCoreApplication::processEvents();

    EXPECT_EQ(finishes, 1);
    EXPECT_TRUE(s_fake->requestsTo(QStringLiteral("/o/oauth2/token")).isEmpty());
    EXPECT_TRUE(ServiceOperations::shared().startedKeys().isEmpty());
    const auto opened = iteration();
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->objectID(), run->backupIterationId());
    EXPECT_EQ(opened->iterationStartTime(), Now);
    EXPECT_EQ(opened->iterationEndTime(), Now);
    EXPECT_FALSE(opened->outdated());
    EXPECT_FALSE(defaults()->boolForKey(QStringLiteral("last_cancelled")));
    EXPECT_EQ(snapshots().size(), 1);
    EXPECT_EQ(globalStatusChanges.count(), 2); // told at the start and at the end
    EXPECT_EQ(errorsIn(log), QStringList());
    // Stop pressed just too late changes nothing.
    run->cancel();
    EXPECT_FALSE(defaults()->boolForKey(QStringLiteral("last_cancelled")));
}

TEST_F(TDWBackupOperationTest, AChangedLockingSettingIsAppliedWithinTheRun)
{
    defaults()->setInteger(3, QStringLiteral("lockBackupFilesLastChanged"));
    defaults()->setInteger(2, QStringLiteral("lockBackupFilesLastPerformed"));

    startRun();
    ASSERT_TRUE(waitForFinish());

    EXPECT_EQ(defaults()->integerForKey(QStringLiteral("lockBackupFilesLastPerformed")), 3);
    EXPECT_EQ(iteration()->iterationEndTime(), Now);
}

TEST_F(TDWBackupOperationTest, ARunNotYetStartedIsNotComplete)
{
    const auto waiting = std::make_shared<TDWBackupOperation>();
    waiting->checkDone();
    QCoreApplication::processEvents();
    EXPECT_FALSE(waiting->isFinished());
    EXPECT_TRUE(snapshots().isEmpty());
}

TEST_F(TDWBackupOperationTest, AMissingBackupFolderEndsTheRunAtOnceWithoutAnIteration)
{
    addAccount(user(QStringLiteral("a")), {Docs});
    defaults()->setString(QDir(tdwtest::freshDir()).filePath(QStringLiteral("unplugged")), QStringLiteral("altbackuploc"));

    startRun();
    ASSERT_TRUE(waitForFinish());

    EXPECT_TRUE(defaults()->boolForKey(QStringLiteral("backupdirismissing")));
    EXPECT_TRUE(run->backupIterationId().isNull());
    EXPECT_FALSE(iteration());
    EXPECT_TRUE(s_fake->requestsTo(QStringLiteral("/o/oauth2/token")).isEmpty());
    EXPECT_TRUE(snapshots().isEmpty());
    defaults()->removeObjectForKey(QStringLiteral("altbackuploc"));

    // The folder back: the flag goes.
    startRun();
    ASSERT_TRUE(waitForFinish());
    EXPECT_FALSE(defaults()->boolForKey(QStringLiteral("backupdirismissing")));
    EXPECT_TRUE(iteration());
}

TEST_F(TDWBackupOperationTest, OnlyTheAccountWhoseTokenArrivedIsBackedUpAndTheRunWaitsForItsOperations)
{
    const QString alice = user(QStringLiteral("alice"));
    const QString bob = user(QStringLiteral("bob"));
    addAccount(alice, {Docs, Contacts, Mail});
    addAccount(bob, {Docs}, false);
    ServiceOperations::shared().reset(true);
    tdwtest::LogCapture log;

    startRun();
    ASSERT_TRUE(waitForStarted(2));
    // Bob's refresh token is refused: he is answered, without operations.
    ASSERT_TRUE(tdwtest::waitUntil([&] { return TDWKeychainMgr::keychainMgr()->credentialForUsername(bob)->refreshTokenInvalid(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(run->isFinished());
    EXPECT_EQ(ServiceOperations::shared().startedKeys(),
              (QStringList{TDWBackupOperation::keyForAccountUsername(alice, Contacts), TDWBackupOperation::keyForAccountUsername(alice, Docs)}));
    for (const QString &service : {Docs, Contacts})
        EXPECT_FALSE(TDWAccountServiceSetting::byAccountUsername(alice, service, *stack.moc)->downloadCountsUpToDate()) << service.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: No backup operation \"TDWMailBackupOperation\" for service mail")));
    EXPECT_FALSE(iteration()->iterationEndTime().isValid());

    ServiceOperations::shared().finishAll();
    ASSERT_TRUE(waitForFinish());
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(ServiceOperations::shared().startedKeys().size(), 2);
    EXPECT_EQ(iteration()->iterationEndTime(), Now);
    EXPECT_EQ(tokenRequestsFor(bob), 1);
}

TEST_F(TDWBackupOperationTest, ATokenIsRenewedBeforeItExpiresOnlyWhileItsAccountHasOperationsRunning)
{
    // Tokens that live a second past the renewal lead, on a clock sped up five times.
    setScenario(TDWBackupOperation::RenewalLeadSeconds + 1);
    TDWClock::setDurationScale(0.2);
    const QString busy = user(QStringLiteral("busy"));
    const QString idle = user(QStringLiteral("idle"));
    addAccount(busy, {Docs});
    addAccount(idle, {Mail}); // nothing of its own runs
    ServiceOperations::shared().reset(true);

    startRun();
    ASSERT_TRUE(waitForStarted(1));
    ASSERT_TRUE(tdwtest::waitUntil([&] { return tokenRequestsFor(busy) >= 3; }))
        << QJsonDocument(s_fake->requestsTo(QStringLiteral("/o/oauth2/token"))).toJson().toStdString();
    EXPECT_EQ(tokenRequestsFor(idle), 1);
    EXPECT_EQ(ServiceOperations::shared().startedKeys(), QStringList{TDWBackupOperation::keyForAccountUsername(busy, Docs)});
    EXPECT_FALSE(run->isFinished());
    // Every renewed token is in the keychain, where the operations read it.
    EXPECT_EQ(TDWKeychainMgr::keychainMgr()->credentialForUsername(busy)->accessTokenExpires(),
              Now.addSecs(TDWBackupOperation::RenewalLeadSeconds + 1));

    ServiceOperations::shared().finishAll();
    ASSERT_TRUE(waitForFinish());
    EXPECT_EQ(finishes, 1);
}

TEST_F(TDWBackupOperationTest, TheRenewalTimerIsSetTheLeadBeforeExpiryAndNeverSooner)
{
    const struct
    {
        int tokenLifetime;
        qint64 renewalAfter;
    } cases[] = {
        {3600, 3600 - TDWBackupOperation::RenewalLeadSeconds},
        {TDWBackupOperation::RenewalLeadSeconds + 60, 60},
        // A token shorter-lived than the lead would otherwise be renewed without pause.
        {200, TDWBackupOperation::RenewalLeadSeconds},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tokenLifetime);
        setScenario(c.tokenLifetime);
        const QString username = user(QString::number(c.tokenLifetime));
        addAccount(username, {Docs});
        ServiceOperations::shared().reset(true);

        startRun();
        ASSERT_TRUE(waitForStarted(1));
        ASSERT_TRUE(tdwtest::waitUntil([this] { return !run->findChildren<QTimer *>().isEmpty(); }));
        const QList<QTimer *> timers = run->findChildren<QTimer *>();
        ASSERT_EQ(timers.size(), 1);
        EXPECT_TRUE(timers[0]->isActive());
        EXPECT_TRUE(timers[0]->isSingleShot());
        EXPECT_EQ(std::chrono::milliseconds(timers[0]->interval()), TDWClock::duration(std::chrono::seconds(c.renewalAfter)));

        ServiceOperations::shared().finishAll();
        ASSERT_TRUE(waitForFinish());
        // The account is not backed up again by the next case's run.
        const auto account = TDWAccount::byUsername(username, *stack.moc, nullptr);
        account->setEnabled(false, Docs);
        ASSERT_TRUE(stack.moc->save(nullptr));
    }
}

TEST_F(TDWBackupOperationTest, ARunCancelledBeforeItsStartReachesTheMainThreadEndsWithoutAnIteration)
{
    addAccount(user(QStringLiteral("alice")), {Docs});

    startRun();
    // The backup queue's thread has handed the start to the main thread, which
    // has not run it yet.
    while (!run->isExecuting())
        std::this_thread::yield();
    run->cancel();
    ASSERT_TRUE(waitForFinish());

    EXPECT_EQ(finishes, 1);
    EXPECT_TRUE(defaults()->boolForKey(QStringLiteral("last_cancelled")));
    EXPECT_TRUE(run->backupIterationId().isNull());
    EXPECT_FALSE(iteration());
    EXPECT_TRUE(s_fake->requestsTo(QStringLiteral("/o/oauth2/token")).isEmpty());
    EXPECT_TRUE(ServiceOperations::shared().startedKeys().isEmpty());
}

TEST_F(TDWBackupOperationTest, ACancelledRunQueuesNothingMoreAndEndsOnceItsOperationsHaveLeft)
{
    const QString alice = user(QStringLiteral("alice"));
    addAccount(alice, {Docs, Contacts});
    ServiceOperations::shared().reset(true);

    startRun();
    ASSERT_TRUE(waitForStarted(2));
    run->cancel();
    EXPECT_TRUE(defaults()->boolForKey(QStringLiteral("last_cancelled")));
    const auto running = ServiceOperations::shared().running();
    ASSERT_EQ(running.size(), 2u);
    for (const auto &operation : running)
        EXPECT_TRUE(operation->isCancelled());

    // Calendar turned on, the calendar access changed: nothing more is queued.
    {
        const auto account = TDWAccount::byUsername(alice, *stack.moc, nullptr);
        account->setEnabled(true, Calendar);
        ASSERT_TRUE(stack.moc->save(nullptr));
    }
    run->requeueCalendar();
    run->startBackupsForAccountUsername(alice);
    QCoreApplication::processEvents();
    EXPECT_FALSE(run->isFinished());
    EXPECT_EQ(ServiceOperations::shared().startedKeys().size(), 2);

    ServiceOperations::shared().finishAll();
    ASSERT_TRUE(waitForFinish());
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(iteration()->iterationEndTime(), Now);
    EXPECT_TRUE(defaults()->boolForKey(QStringLiteral("last_cancelled")));
}

TEST_F(TDWBackupOperationTest, ACalendarRequeueAndAnAccountUpdateQueueWhatIsNewInTheSameRun)
{
    const QString alice = user(QStringLiteral("alice"));
    addAccount(alice, {Docs, Calendar});
    ServiceOperations::shared().reset(true);

    startRun();
    ASSERT_TRUE(waitForStarted(2));
    run->requeueCalendar();
    ASSERT_TRUE(waitForStarted(3));

    // Contacts turned on during the run: a new token request, then its operation.
    {
        const auto account = TDWAccount::byUsername(alice, *stack.moc, nullptr);
        account->setEnabled(true, Contacts);
        ASSERT_TRUE(stack.moc->save(nullptr));
    }
    TDWNotificationCenter::defaultCenter().post(QStringLiteral("accountUpdate"), nullptr, {{QStringLiteral("accountUsername"), alice}});
    ASSERT_TRUE(waitForStarted(4));
    EXPECT_EQ(tokenRequestsFor(alice), 2);
    const auto key = [&](const QString &service) { return TDWBackupOperation::keyForAccountUsername(alice, service); };
    EXPECT_EQ(ServiceOperations::shared().startedKeys(), (QStringList{key(Calendar), key(Calendar), key(Contacts), key(Docs)}));

    ServiceOperations::shared().finishAll();
    ASSERT_TRUE(waitForFinish());
    EXPECT_EQ(ServiceOperations::shared().startedKeys().size(), 4);
}

TEST_F(TDWBackupOperationTest, TheRunFinishesOnceWhenTwoThreadsFindItCompleteTogether)
{
    addAccount(user(QStringLiteral("alice")), {Docs});
    ServiceOperations::shared().reset(true);
    tdwtest::LogCapture log;

    startRun();
    ASSERT_TRUE(waitForStarted(1));
    QCoreApplication::processEvents();
    // The operation leaves the queue; before the main thread gets to its own
    // test, two threads test at the same moment.
    ServiceOperations::shared().finishAll();
    std::barrier together(2);
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&] {
            together.arrive_and_wait();
            run->checkDone();
        });
    for (std::thread &thread : threads)
        thread.join();
    ASSERT_TRUE(waitForFinish());
    QCoreApplication::processEvents();

    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(globalStatusChanges.count(), 2);
    EXPECT_EQ(snapshots().size(), 1);
    EXPECT_EQ(errorsIn(log), QStringList());
}

TEST_F(TDWBackupOperationTest, ATokenThatArrivesWithoutAStoredCredentialStillLetsTheRunEnd)
{
    const QString dave = user(QStringLiteral("dave"));
    addAccount(dave, {Mail}); // nothing is queued for him
    s_fake->addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/o/oauth2/token")}, {QStringLiteral("stall"), 30}});
    tdwtest::LogCapture log;

    startRun();
    ASSERT_TRUE(tdwtest::waitUntil([&] { return tokenRequestsFor(dave) == 1; }));
    auto *retriever = run->findChild<TDWAccessTokenRetriever *>();
    ASSERT_TRUE(retriever);
    // The credential went between the save and the answer.
    TDWKeychainMgr::keychainMgr()->deleteCredentialForUsername(dave);
    run->accessTokenRetrieverReceivedAccessToken(retriever, QStringLiteral("at-1"));

    ASSERT_TRUE(waitForFinish());
    EXPECT_EQ(finishes, 1);
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: In TDWBackupOperation -- got access token, but could not find it in keychain.")));
    EXPECT_EQ(iteration()->iterationEndTime(), Now);
}
