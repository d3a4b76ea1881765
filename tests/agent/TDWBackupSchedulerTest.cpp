// The backup scheduler on a headless event loop, with a clock and timers the
// test moves by hand, switched reachability, sleep and wake sent by the test,
// and backup runs that execute until the test releases them.
#include "agent/TDWBackupScheduler.h"
#include "agent/TDWBackupOperation.h"
#include "agent/TDWDownloadCountUpdateOperation.h"
#include "agent/TDWRuleUpdateOperation.h"

#include "DataObjectsTestSupport.h"
#include "SchedulerTestSupport.h"
#include "TestSupport.h"
#include "common/TDWFileMgr.h"
#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDataProperty.h"
#include "platform/foundation/TDWBlockOperation.h"
#include "platform/foundation/TDWRunLoopTimer.h"
#include "platform/network/TDWHostReachability.h"
#include "platform/power/TDWLogindSleepWatcher.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "status/TDWActivityMonitor.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <thread>

using namespace schedtest;

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QStringList SchedulerDefaults = {QStringLiteral("SecondsBetweenBackups"), QStringLiteral("DontIgnoreBackupIntervalWhenBackupIncomplete"),
                                       QStringLiteral("restartedWhileBackupInProgress"), TDWSettingsKeys::LatestBackupIterationUrl};

TDWUserDefaults *defaults()
{
    return TDWUserDefaults::standard();
}

class TDWBackupSchedulerTest : public ::testing::Test
{
protected:
    TDWBackupSchedulerTest()
    {
        for (const QString &key : SchedulerDefaults)
            defaults()->removeObjectForKey(key);
    }
    ~TDWBackupSchedulerTest() override
    {
        {
            std::lock_guard lock(mutex);
            holdFirstRuleUpdate = false;
        }
        ruleUpdateLetGo.notify_all();
        for (const std::shared_ptr<HeldRun> &run : runs)
            run->release();
        scheduler.reset();
        for (const QString &key : SchedulerDefaults)
            defaults()->removeObjectForKey(key);
    }

    void makeScheduler(bool online = true)
    {
        TDWBackupSchedulerEnvironment environment;
        auto fakeReachability = std::make_unique<FakeReachability>(online);
        reachability = fakeReachability.get();
        environment.reachability = std::move(fakeReachability);
        auto notices = std::make_unique<TDWSleepNotices>();
        sleepNotices = notices.get();
        environment.sleepNotices = std::move(notices);
        environment.makeTimer = timers.factory();
        environment.makeBackupOperation = [this] {
            auto run = std::make_shared<HeldRun>();
            runs.push_back(run);
            return run;
        };
        environment.makeRuleUpdate = [this](const std::optional<QStringList> &usernames, const QStringList &services) {
            return std::make_shared<TDWBlockOperation>([this, usernames, services] { ruleUpdate(usernames, services); });
        };
        environment.makeDownloadCountUpdate = [this](const QString &username, const QString &service) {
            return std::make_shared<TDWBlockOperation>([this, username, service] { recount(username, service); });
        };
        environment.globalStatus = [this] { return globalStatus.load(); };
        scheduler = std::make_unique<TDWBackupScheduler>(TDWServiceTable::shared().serviceConfigs(), stack.coordinator, std::move(environment));
    }

    // The backup timer, once the scheduler has made one (its first timer is the online check).
    FakeTimer *backupTimer() const { return timers.made > 1 ? timers.latest : nullptr; }
    bool timerArmed() const { return backupTimer() && backupTimer()->isValid(); }
    qint64 secondsToFire() const { return timers.now.secsTo(backupTimer()->fireDate()); }

    TDWBackupIteration::Ptr addIteration(qint64 startedSecondsAgo, bool ended)
    {
        const TDWBackupIteration::Ptr iteration = TDWBackupIteration::newWithMoc(*stack.moc);
        iteration->setIterationStartTime(timers.now.addSecs(-startedSecondsAgo));
        if (ended)
            iteration->setIterationEndTime(timers.now.addSecs(-startedSecondsAgo + 60));
        EXPECT_TRUE(stack.moc->save(nullptr));
        return iteration;
    }

    // The recount the evaluation runs: sets the pending count it is told to.
    void recount(const QString &username, const QString &service)
    {
        {
            std::lock_guard lock(mutex);
            recounts.append(username + QLatin1Char(',') + service);
        }
        TDWManagedObjectContext moc(stack.coordinator);
        const TDWAccountServiceSetting::Ptr setting = TDWAccountServiceSetting::byAccountUsername(username, service, moc);
        setting->setNumDownloadsPending(pendingAfterRecount);
        setting->setDownloadCountsUpToDate(true);
        EXPECT_TRUE(moc.save(nullptr));
    }

    // The rule update: records its arguments and how many run at once; the
    // first one is held until the test lets it go, when holdFirstRuleUpdate is set.
    void ruleUpdate(const std::optional<QStringList> &usernames, const QStringList &services)
    {
        std::unique_lock lock(mutex);
        ruleUpdates.append((usernames ? usernames->join(QLatin1Char('+')) : QStringLiteral("all")) + QLatin1Char('/') + services.join(QLatin1Char('+')));
        ++ruleUpdatesRunning;
        mostRuleUpdatesAtOnce = std::max(mostRuleUpdatesAtOnce, ruleUpdatesRunning);
        if (ruleUpdates.size() == 1)
            ruleUpdateLetGo.wait(lock, [this] { return !holdFirstRuleUpdate; });
        --ruleUpdatesRunning;
    }

    QStringList recorded(const QStringList &list)
    {
        std::lock_guard lock(mutex);
        return list;
    }

    dotest::MetadataStack stack;
    FakeTimers timers;
    FakeReachability *reachability = nullptr;
    TDWSleepNotices *sleepNotices = nullptr;
    std::atomic<int> globalStatus = 1;
    std::vector<std::shared_ptr<HeldRun>> runs;

    std::mutex mutex; // guards what the workers record below
    QStringList recounts;
    QStringList ruleUpdates;
    int ruleUpdatesRunning = 0;
    int mostRuleUpdatesAtOnce = 0;
    bool holdFirstRuleUpdate = false;
    std::condition_variable ruleUpdateLetGo;
    qint64 pendingAfterRecount = 0;

    std::unique_ptr<TDWBackupScheduler> scheduler;
};

TEST_F(TDWBackupSchedulerTest, BackupIntervalRules)
{
    makeScheduler();
    const struct {
        qint64 secondsBetweenBackups; // 0: not set
        bool dontIgnore;
        int globalStatus;
        double expected;
    } cases[] = {
        {0, false, 1, 3600},      {86400, false, 1, 86400}, {86400, false, 2, 3600},   {86400, false, 3, 3600},
        {86400, true, 2, 86400},  {600, false, 2, 3600},    {600, false, 0, 600},      {600, true, 3, 600},
        {3600, false, 2, 3600},   {3600, true, 3, 3600},    {-5, false, 1, 3600},      {0, false, 2, 3600},
    };
    for (const auto &c : cases) {
        if (c.secondsBetweenBackups)
            defaults()->setInteger(c.secondsBetweenBackups, QStringLiteral("SecondsBetweenBackups"));
        else
            defaults()->removeObjectForKey(QStringLiteral("SecondsBetweenBackups"));
        defaults()->setBool(c.dontIgnore, QStringLiteral("DontIgnoreBackupIntervalWhenBackupIncomplete"));
        globalStatus = c.globalStatus;
        EXPECT_EQ(scheduler->getBackupInterval(), c.expected)
            << c.secondsBetweenBackups << " seconds, dontIgnore " << c.dontIgnore << ", global status " << c.globalStatus;
    }
}

TEST_F(TDWBackupSchedulerTest, NextFireRules)
{
    makeScheduler();
    // With no run yet, 30 seconds from now.
    ASSERT_TRUE(timerArmed());
    EXPECT_EQ(secondsToFire(), 30);
    EXPECT_EQ(backupTimer()->interval(), std::chrono::seconds(3600));

    // Each case's run starts later than the one before, so it is the latest.
    const struct {
        qint64 startedSecondsAgo;
        qint64 secondsBetweenBackups;
        int globalStatus;
        qint64 expectedFire;
        qint64 expectedInterval;
    } cases[] = {
        {2 * 3600, 0, 1, 30, 3600},        // overdue: as soon as allowed
        {3590, 0, 1, 30, 3600},            // due in 10 s: not sooner than 30 s
        {600, 0, 1, 3000, 3600},           // one interval after the latest start
        {600, 0, 2, 30, 3600},             // backup incomplete: 30 s regardless
        {300, 86400, 3, 3300, 3600},       // waiting for the mail quota: within the hour
        {200, 86400, 1, 86200, 86400},
    };
    for (const auto &c : cases) {
        addIteration(c.startedSecondsAgo, true);
        if (c.secondsBetweenBackups)
            defaults()->setInteger(c.secondsBetweenBackups, QStringLiteral("SecondsBetweenBackups"));
        globalStatus = c.globalStatus;
        FakeTimer *before = backupTimer();
        scheduler->scheduleNext();
        ASSERT_NE(backupTimer(), before) << "a new timer replaces the old one";
        EXPECT_EQ(secondsToFire(), c.expectedFire) << c.startedSecondsAgo << " s ago, global status " << c.globalStatus;
        EXPECT_EQ(backupTimer()->interval(), std::chrono::seconds(c.expectedInterval)) << c.startedSecondsAgo << " s ago";
    }
}

TEST_F(TDWBackupSchedulerTest, RestartDuringARunStartsAtOnceOnceOnline)
{
    addIteration(60, true);
    defaults()->setBool(true, QStringLiteral("restartedWhileBackupInProgress"));
    makeScheduler(false);
    EXPECT_FALSE(timerArmed());
    // Offline the flag waits for the first schedule that counts.
    EXPECT_TRUE(defaults()->boolForKey(QStringLiteral("restartedWhileBackupInProgress")));

    reachability->set(true);
    ASSERT_TRUE(timerArmed());
    EXPECT_EQ(secondsToFire(), 0);
    EXPECT_FALSE(defaults()->boolForKey(QStringLiteral("restartedWhileBackupInProgress")));
}

TEST_F(TDWBackupSchedulerTest, TimerFiringQueuesARunOnlyWhenSomeServiceIsEnabled)
{
    stack.addAccount(Alice, {});
    makeScheduler();
    timers.advance(30);
    EXPECT_TRUE(runs.empty());

    // A service the table marks disabled still counts.
    stack.addAccount(QStringLiteral("bob@example.com"), {QStringLiteral("reader")});
    timers.advance(3600);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(waitFor([&] { return runs[0]->hasStarted(); }));
    EXPECT_TRUE(scheduler->backupInProgress());

    // The timer firing during the run adds nothing.
    timers.advance(3600);
    EXPECT_EQ(runs.size(), 1u);
}

TEST_F(TDWBackupSchedulerTest, AnAccountFetchErrorQueuesNothingAndIsLogged)
{
    stack.addAccount(Alice);
    makeScheduler();
    // The accounts' table gone from under the scheduler.
    const QString accountTable = dotest::sqlite(TDWFileMgr::dataFilePath(), QStringLiteral("SELECT name FROM sqlite_master WHERE name LIKE '%account' AND type = 'table'"));
    ASSERT_FALSE(accountTable.isEmpty());
    dotest::sqlite(TDWFileMgr::dataFilePath(), QStringLiteral("DROP TABLE %1").arg(accountTable));
    tdwtest::LogCapture log;
    timers.advance(30);
    EXPECT_TRUE(runs.empty());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to determine set of enabled accounts in BackupScheduler startNow -- ")));
}

TEST_F(TDWBackupSchedulerTest, BackUpNowWhileIdleFiresTheTimerAtOnce)
{
    stack.addAccount(Alice);
    makeScheduler();
    scheduler->userRequestedImmediateBackup();
    EXPECT_EQ(secondsToFire(), 0);
    EXPECT_TRUE(runs.empty()) << "the firing, not the request, queues the run";
    timers.advance(0);
    ASSERT_EQ(runs.size(), 1u);
}

TEST_F(TDWBackupSchedulerTest, BackUpNowWithNothingEnabledQueuesNothingUnlessOffline)
{
    makeScheduler();
    scheduler->userRequestedImmediateBackup();
    timers.advance(0);
    EXPECT_TRUE(runs.empty());

    // Offline there is no timer: a run is queued at once and meets the network itself.
    reachability->set(false);
    scheduler->userRequestedImmediateBackup();
    EXPECT_EQ(runs.size(), 1u);
    EXPECT_TRUE(scheduler->backupInProgress());
}

TEST_F(TDWBackupSchedulerTest, BackUpNowDuringARunCancelsItAndQueuesOneFreshRun)
{
    stack.addAccount(Alice);
    makeScheduler();
    timers.advance(30);
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_TRUE(waitFor([&] { return runs[0]->hasStarted(); }));

    scheduler->userRequestedImmediateBackup();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_TRUE(runs[0]->isCancelled());
    EXPECT_FALSE(runs[1]->isCancelled());
    // A second press while both are queued changes nothing.
    scheduler->userRequestedImmediateBackup();
    EXPECT_EQ(runs.size(), 2u);

    // The fresh run starts when the cancelled one has finished.
    runs[0]->release();
    ASSERT_TRUE(waitFor([&] { return runs[1]->hasStarted(); }));
    EXPECT_TRUE(runs[0]->isFinished());
    EXPECT_TRUE(scheduler->backupInProgress());
}

TEST_F(TDWBackupSchedulerTest, BackUpNowFromAnotherThreadIsCarriedOutOnTheMainThread)
{
    makeScheduler(false);
    std::thread caller([this] { scheduler->userRequestedImmediateBackup(); });
    caller.join();
    EXPECT_TRUE(runs.empty());
    ASSERT_TRUE(waitFor([&] { return runs.size() == 1; }));
}

TEST_F(TDWBackupSchedulerTest, ACalendarAccessChangeWhileIdleFiresTheTimer)
{
    stack.addAccount(Alice, {QStringLiteral("calendar")});
    addIteration(600, true);
    makeScheduler();
    ASSERT_EQ(secondsToFire(), 3000);
    TDWNotificationCenter::defaultCenter().post(QStringLiteral("not_changed_calendar_access_settings"));
    EXPECT_EQ(secondsToFire(), 0);
    timers.advance(0);
    EXPECT_EQ(runs.size(), 1u);

    // Behind a cancelled run, the fresh one is left alone: it reads the setting anyway.
    scheduler->userRequestedImmediateBackup();
    ASSERT_EQ(runs.size(), 2u);
    const QDateTime fire = backupTimer()->fireDate();
    scheduler->calendarSettingsChanges();
    EXPECT_EQ(runs.size(), 2u);
    EXPECT_EQ(backupTimer()->fireDate(), fire);
    EXPECT_FALSE(runs[1]->isCancelled());

    // Offline, with no timer and no run, there is nothing to re-run.
    runs[0]->release();
    runs[1]->release();
    ASSERT_TRUE(waitFor([&] { return !scheduler->backupInProgress(); }));
    reachability->set(false);
    scheduler->calendarSettingsChanges();
    EXPECT_EQ(runs.size(), 2u);
}

TEST_F(TDWBackupSchedulerTest, StopCancelsTheRunAndTheNextFiringIsOneIntervalAfterItsEnd)
{
    stack.addAccount(Alice);
    makeScheduler();
    timers.advance(30);
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_TRUE(waitFor([&] { return scheduler->backupInProgress() && runs[0]->hasStarted(); }));

    timers.now = timers.now.addSecs(1200);
    scheduler->userRequestedCancel();
    EXPECT_TRUE(runs[0]->isCancelled());
    runs[0]->release();
    ASSERT_TRUE(waitFor([&] { return !scheduler->backupInProgress(); }));
    EXPECT_EQ(secondsToFire(), 3600);
    EXPECT_TRUE(timerArmed());
}

TEST_F(TDWBackupSchedulerTest, ARunEndingWhileOnlineSetsTheNextFiring)
{
    stack.addAccount(Alice);
    makeScheduler();
    timers.advance(30);
    ASSERT_EQ(runs.size(), 1u);
    timers.now = timers.now.addSecs(5000);
    runs[0]->release();
    ASSERT_TRUE(waitFor([&] { return !scheduler->backupInProgress(); }));
    EXPECT_EQ(secondsToFire(), 3600);
}

TEST_F(TDWBackupSchedulerTest, TheActivityMonitorHearsOfEachBusyAndIdleChangeOnce)
{
    TDWActivityMonitor monitor;
    TDWActivityMonitor::setShared(&monitor);
    QStringList heard;
    TDWNotificationCenter &center = TDWNotificationCenter::defaultCenter();
    const auto began = center.addObserver(QStringLiteral("backupInProgress"), [&](const TDWNotification &note) { heard.append(note.name()); });
    const auto ended = center.addObserver(QStringLiteral("failedBackup"), [&](const TDWNotification &note) { heard.append(note.name()); });

    stack.addAccount(Alice);
    makeScheduler(false);
    // A run, then Back Up Now during it: the queue never empties in between.
    scheduler->userRequestedImmediateBackup();
    ASSERT_TRUE(waitFor([&] { return runs[0]->hasStarted(); }));
    scheduler->userRequestedImmediateBackup();
    runs[0]->release();
    ASSERT_TRUE(waitFor([&] { return runs[1]->hasStarted(); }));
    runs[1]->release();
    ASSERT_TRUE(waitFor([&] { return heard.size() == 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(heard, (QStringList{QStringLiteral("backupInProgress"), QStringLiteral("failedBackup")}));

    center.removeObserver(began);
    center.removeObserver(ended);
    TDWActivityMonitor::setShared(nullptr);
}

TEST_F(TDWBackupSchedulerTest, OfflineAndBackOnline)
{
    stack.addAccount(Alice);
    makeScheduler(false);
    EXPECT_FALSE(backupTimer()) << "no timer while offline";
    scheduler->scheduleNext();
    EXPECT_FALSE(backupTimer());

    // The 60-second check notices the network coming back without a notice.
    reachability->set(true, false);
    timers.advance(59);
    EXPECT_FALSE(backupTimer());
    timers.advance(1);
    ASSERT_TRUE(timerArmed());
    EXPECT_EQ(secondsToFire(), 30);

    // Going offline during a run: the timer goes, the run goes on, and its end leaves the timer alone.
    timers.advance(30);
    ASSERT_EQ(runs.size(), 1u);
    tdwtest::LogCapture log;
    reachability->set(false);
    EXPECT_TRUE(log.contains(QStringLiteral("got offline notice in MyReachabilityCallback")));
    EXPECT_FALSE(timerArmed());
    EXPECT_FALSE(runs[0]->isCancelled());
    // The online check never notices going offline, and changes nothing while offline.
    timers.advance(600);
    EXPECT_FALSE(timerArmed());
    runs[0]->release();
    ASSERT_TRUE(waitFor([&] { return !scheduler->backupInProgress(); }));
    EXPECT_FALSE(timerArmed());

    // Back online: scheduled afresh from the latest run's start.
    addIteration(600, true);
    reachability->set(true);
    ASSERT_TRUE(timerArmed());
    EXPECT_EQ(secondsToFire(), 3000);
}

TEST_F(TDWBackupSchedulerTest, SleepAndWake)
{
    stack.addAccount(Alice);
    makeScheduler();
    timers.advance(30);
    ASSERT_EQ(runs.size(), 1u);

    emit sleepNotices->willSleep();
    EXPECT_FALSE(timerArmed());
    EXPECT_FALSE(runs[0]->isCancelled()) << "a run is neither cancelled nor paused by sleep";

    addIteration(600, true);
    emit sleepNotices->didWake();
    ASSERT_TRUE(timerArmed());
    EXPECT_EQ(secondsToFire(), 3000);

    // Waking offline leaves the timer off until the network is back.
    emit sleepNotices->willSleep();
    reachability->set(false);
    emit sleepNotices->didWake();
    EXPECT_FALSE(timerArmed());
}

TEST_F(TDWBackupSchedulerTest, NoRunStartsDuringAnOutsideOperation)
{
    stack.addAccount(Alice);
    makeScheduler();
    QStringList posted;
    TDWNotificationCenter &center = TDWNotificationCenter::defaultCenter();
    const auto started = center.addObserver(QStringLiteral("outsideopstarted"), [&](const TDWNotification &note) {
        posted.append(note.name());
        EXPECT_EQ(note.object(), scheduler.get());
    });
    const auto finished = center.addObserver(QStringLiteral("outsideopfinished"), [&](const TDWNotification &note) {
        posted.append(note.name());
        EXPECT_EQ(note.object(), scheduler.get());
    });

    scheduler->stopForOutsideOperation();
    EXPECT_EQ(posted, QStringList{QStringLiteral("outsideopstarted")});
    EXPECT_FALSE(timerArmed());

    // Waking, coming back online, the preferences rescheduling: the timer stays off.
    emit sleepNotices->didWake();
    EXPECT_FALSE(timerArmed());
    reachability->set(false);
    reachability->set(true);
    EXPECT_FALSE(timerArmed());
    scheduler->scheduleNext();
    EXPECT_FALSE(timerArmed());
    // Back Up Now waits for the end of the move.
    scheduler->userRequestedImmediateBackup();
    timers.advance(3 * 3600);
    EXPECT_TRUE(runs.empty());

    scheduler->resumeAfterOutsideOperation();
    EXPECT_EQ(posted, (QStringList{QStringLiteral("outsideopstarted"), QStringLiteral("outsideopfinished")}));
    ASSERT_TRUE(timerArmed());
    EXPECT_EQ(secondsToFire(), 0) << "the Back Up Now asked for during the move";
    timers.advance(0);
    EXPECT_EQ(runs.size(), 1u);
    center.removeObserver(started);
    center.removeObserver(finished);
}

TEST_F(TDWBackupSchedulerTest, ResumingWithoutABackUpNowSchedulesAsUsual)
{
    addIteration(600, true);
    makeScheduler();
    scheduler->stopForOutsideOperation();
    scheduler->resumeAfterOutsideOperation();
    ASSERT_TRUE(timerArmed());
    EXPECT_EQ(secondsToFire(), 3000);
}

// The backup-need evaluation, called as the account notifications' workers call it.
TEST_F(TDWBackupSchedulerTest, BackupNeedEvaluation)
{
    makeScheduler();
    const auto needsBackup = [&] {
        scheduler->scheduleNext();
        scheduler->handleAccountUpdates(true);
        return secondsToFire() == 0;
    };

    // No run yet, or the latest never ended.
    EXPECT_TRUE(needsBackup());
    TDWBackupIteration::Ptr latest = addIteration(7200, false);
    EXPECT_TRUE(needsBackup());
    // Ended, but longer ago than the interval; the global-status rule does not apply here.
    latest->setIterationEndTime(timers.now.addSecs(-7000));
    ASSERT_TRUE(stack.moc->save(nullptr));
    EXPECT_TRUE(needsBackup());
    defaults()->setInteger(86400, QStringLiteral("SecondsBetweenBackups"));
    globalStatus = 2;
    EXPECT_FALSE(needsBackup()) << "no account";
    globalStatus = 1;

    // An account whose service the latest run did not list.
    stack.addAccount(Alice, {QStringLiteral("docs"), QStringLiteral("mail")});
    TDWAccount::Ptr alice = TDWAccount::byUsername(Alice, *stack.moc, nullptr);
    EXPECT_TRUE(needsBackup());
    alice->setLastListIteration(latest, QStringLiteral("docs"));
    alice->setLastListIteration(latest, QStringLiteral("mail"));
    for (const QString &service : {QStringLiteral("docs"), QStringLiteral("mail")})
        alice->settingForService(service)->setDownloadCountsUpToDate(true);
    ASSERT_TRUE(stack.moc->save(nullptr));
    EXPECT_FALSE(needsBackup());

    // The Drive limit changed since the run.
    alice->setLimitGoogleDocs(true);
    ASSERT_TRUE(stack.moc->save(nullptr));
    EXPECT_TRUE(needsBackup());
    TDWDataProperty::setPropertyValue(QStringLiteral("1"), QStringLiteral("lastLimited"), stack.store(Alice, QStringLiteral("docs")), *stack.moc);
    ASSERT_TRUE(stack.moc->save(nullptr));
    EXPECT_FALSE(needsBackup());

    // Stale counts are recounted; downloads still due call for a run, except for mail.
    alice->settingForService(QStringLiteral("mail"))->setDownloadCountsUpToDate(false);
    ASSERT_TRUE(stack.moc->save(nullptr));
    pendingAfterRecount = 3;
    EXPECT_FALSE(needsBackup());
    EXPECT_EQ(recorded(recounts), QStringList{Alice + QStringLiteral(",mail")});
    alice->settingForService(QStringLiteral("docs"))->setDownloadCountsUpToDate(false);
    ASSERT_TRUE(stack.moc->save(nullptr));
    EXPECT_TRUE(needsBackup());
    pendingAfterRecount = 0;
    alice->settingForService(QStringLiteral("docs"))->setDownloadCountsUpToDate(false);
    ASSERT_TRUE(stack.moc->save(nullptr));
    EXPECT_FALSE(needsBackup());

    // Nothing is evaluated while a run is queued.
    latest->setIterationEndTime(QDateTime());
    ASSERT_TRUE(stack.moc->save(nullptr));
    reachability->set(false);
    scheduler->userRequestedImmediateBackup();
    ASSERT_EQ(runs.size(), 1u);
    scheduler->handleAccountUpdates(true);
    EXPECT_EQ(runs.size(), 1u);
}

TEST_F(TDWBackupSchedulerTest, ANeedFoundForOneAccountStillRecountsTheOthers)
{
    const TDWBackupIteration::Ptr latest = addIteration(600, true);
    stack.addAccount(Alice, {QStringLiteral("docs")});
    stack.addAccount(QStringLiteral("bob@example.com"), {QStringLiteral("contacts")});
    TDWAccount::Ptr bob = TDWAccount::byUsername(QStringLiteral("bob@example.com"), *stack.moc, nullptr);
    bob->setLastListIteration(latest, QStringLiteral("contacts"));
    ASSERT_TRUE(stack.moc->save(nullptr));
    makeScheduler();
    scheduler->handleAccountUpdates(false);
    EXPECT_EQ(secondsToFire(), 0);
    EXPECT_EQ(recorded(recounts), QStringList{QStringLiteral("bob@example.com,contacts")});
}

TEST_F(TDWBackupSchedulerTest, ANewAccountLeadsToARun)
{
    addIteration(600, true);
    makeScheduler();
    stack.addAccount(Alice, {QStringLiteral("contacts")});
    TDWNotificationCenter::defaultCenter().post(QStringLiteral("newAccount"));
    ASSERT_TRUE(waitFor([&] { return secondsToFire() == 0; }));
    timers.advance(0);
    EXPECT_EQ(runs.size(), 1u);
}

TEST_F(TDWBackupSchedulerTest, RuleAndLabelChangesUpdateTheRulesThenEvaluate)
{
    // An account the latest run did not list: every evaluation asks for a run.
    addIteration(600, true);
    stack.addAccount(Alice, {QStringLiteral("mail")});
    makeScheduler();
    ASSERT_EQ(secondsToFire(), 3000);
    TDWNotificationCenter &center = TDWNotificationCenter::defaultCenter();

    center.post(QStringLiteral("excluderuleschanged"));
    ASSERT_TRUE(waitFor([&] { return secondsToFire() == 0; }));
    EXPECT_EQ(recorded(ruleUpdates), QStringList{QStringLiteral("all/docs+calendar+contacts")});

    scheduler->scheduleNext();
    ASSERT_EQ(secondsToFire(), 3000);
    tdwtest::LogCapture log;
    // A label change that names no account updates nothing.
    center.post(QStringLiteral("mailfolderselectionschanged"));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Mail folder selection changed without an account user name")));
    center.post(QStringLiteral("mailfolderselectionschanged"), nullptr, {{QStringLiteral("accountUsername"), Alice}});
    ASSERT_TRUE(waitFor([&] { return secondsToFire() == 0; }));
    EXPECT_EQ(recorded(ruleUpdates), (QStringList{QStringLiteral("all/docs+calendar+contacts"), Alice + QStringLiteral("/mail")}));
}

TEST_F(TDWBackupSchedulerTest, RuleUpdatesRunOneAtATime)
{
    makeScheduler();
    holdFirstRuleUpdate = true;
    TDWNotificationCenter::defaultCenter().post(QStringLiteral("excluderuleschanged"));
    ASSERT_TRUE(waitFor([&] { return recorded(ruleUpdates).size() == 1; }));
    TDWNotificationCenter::defaultCenter().post(QStringLiteral("mailfolderselectionschanged"), nullptr, {{QStringLiteral("accountUsername"), Alice}});
    // Give a second update, were it started beside the first, the time to begin.
    QDeadlineTimer settle(300);
    while (!settle.hasExpired() && recorded(ruleUpdates).size() < 2)
        QThread::msleep(10);
    {
        std::lock_guard lock(mutex);
        holdFirstRuleUpdate = false;
    }
    ruleUpdateLetGo.notify_all();
    ASSERT_TRUE(waitFor([&] { return recorded(ruleUpdates).size() == 2; }));
    std::lock_guard lock(mutex);
    EXPECT_EQ(mostRuleUpdatesAtOnce, 1);
}

TEST_F(TDWBackupSchedulerTest, ADestroyedSchedulerObservesNothing)
{
    makeScheduler();
    scheduler.reset();
    TDWNotificationCenter &center = TDWNotificationCenter::defaultCenter();
    for (const char *name : {"excluderuleschanged", "mailfolderselectionschanged", "newAccount", "accountUpdate", "not_changed_calendar_access_settings"})
        center.post(QString::fromLatin1(name), nullptr, {{QStringLiteral("accountUsername"), Alice}});
    QCoreApplication::processEvents();
    EXPECT_TRUE(recorded(ruleUpdates).isEmpty());
    EXPECT_TRUE(recorded(recounts).isEmpty());
}

// The program's scheduler stands on the real layers.
TEST(TDWBackupSchedulerEnvironment, TheProgramsEnvironmentIsTheSystems)
{
    TDWBackupSchedulerEnvironment environment = TDWBackupSchedulerEnvironment::standard();
    auto *reachability = dynamic_cast<TDWHostReachability *>(environment.reachability.get());
    ASSERT_TRUE(reachability);
    EXPECT_EQ(reachability->checkedHost(), QStringLiteral("www.google.com"));
    EXPECT_TRUE(dynamic_cast<TDWLogindSleepWatcher *>(environment.sleepNotices.get()));
    const std::unique_ptr<TDWTimer> timer = environment.makeTimer(QDateTime::currentDateTimeUtc().addSecs(3600), std::chrono::seconds(60), [] {});
    EXPECT_TRUE(dynamic_cast<TDWRunLoopTimer *>(timer.get()));
    EXPECT_TRUE(std::dynamic_pointer_cast<TDWBackupOperation>(environment.makeBackupOperation()));
    EXPECT_TRUE(std::dynamic_pointer_cast<TDWRuleUpdateOperation>(environment.makeRuleUpdate(std::nullopt, {QStringLiteral("docs")})));
    EXPECT_TRUE(std::dynamic_pointer_cast<TDWDownloadCountUpdateOperation>(environment.makeDownloadCountUpdate(Alice, QStringLiteral("docs"))));
}

} // namespace
