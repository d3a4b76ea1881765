#include "agent/TDWBackupScheduler.h"

#include "agent/TDWBackupOperation.h"
#include "common/BKSNotUtils.h"
#include "common/TDWServiceIds.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDataProperty.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "status/TDWActivityMonitor.h"

#include <QThread>

using namespace std::chrono_literals;

namespace {

constexpr qint64 OneHour = 3600;
constexpr qint64 EarliestFireSeconds = 30;
constexpr std::chrono::seconds OnlineCheckInterval = 60s;
// Global statuses that mean the last backup is incomplete.
constexpr int GlobalStatusNotBackedUp = 2;
constexpr int GlobalStatusMailQuotaWaiting = 3;

TDWUserDefaults *defaults()
{
    return TDWUserDefaults::standard();
}

QStringList serviceIdsOf(const QList<TDWServiceConfig> &services)
{
    QStringList ids;
    for (const TDWServiceConfig &service : services)
        ids.append(service.id);
    return ids;
}

// "SecondsBetweenBackups"; unset (or not a positive number) is one hour.
qint64 secondsBetweenBackups()
{
    const qint64 seconds = defaults()->integerForKey(TDWSettingsKeys::SecondsBetweenBackups);
    return seconds > 0 ? seconds : OneHour;
}

} // namespace

TDWBackupScheduler::TDWBackupScheduler(const QList<TDWServiceConfig> &services, std::shared_ptr<TDWPersistentStoreCoordinator> coordinator,
                                       TDWBackupSchedulerEnvironment environment)
    : m_serviceIds(serviceIdsOf(services))
    , m_coordinator(std::move(coordinator))
    , m_environment(std::move(environment))
    , m_backupOperationQueue(std::make_unique<TDWOperationQueue>())
    , m_ruleUpdateOperationQueue(std::make_unique<TDWOperationQueue>())
    , m_evaluationQueue(std::make_unique<TDWOperationQueue>())
{
    m_offlineCheckTimer = m_environment.makeTimer(TDWClock::now().addSecs(OnlineCheckInterval.count()), OnlineCheckInterval,
                                                  [this] { autoOnlineCheck(); });

    m_backupOperationQueue->setMaxConcurrentOperationCount(1);
    // Counts change on the thread that adds or finishes an operation; the
    // handler runs here and reads the count afresh, so late deliveries agree.
    connect(m_backupOperationQueue.get(), &TDWOperationQueue::operationCountChanged, this, &TDWBackupScheduler::backupQueueCountChanged);
    m_ruleUpdateOperationQueue->setMaxConcurrentOperationCount(1);

    m_online = isOnline();
    scheduleNext();

    connect(m_environment.sleepNotices.get(), &TDWSleepNotices::didWake, this, &TDWBackupScheduler::receiveWakeNote);
    connect(m_environment.sleepNotices.get(), &TDWSleepNotices::willSleep, this, &TDWBackupScheduler::receiveSleepNote);
    observeNotifications();
    connect(m_environment.reachability.get(), &TDWReachability::changed, this, &TDWBackupScheduler::reachabilityChanged);
}

TDWBackupScheduler::~TDWBackupScheduler()
{
    disconnect(m_backupOperationQueue.get(), nullptr, this, nullptr);
    // Their workers use this object: they end first.
    m_ruleUpdateOperationQueue.reset();
    m_evaluationQueue.reset();
    m_backupOperationQueue.reset();
}

void TDWBackupScheduler::observeNotifications()
{
    TDWNotificationCenter &center = TDWNotificationCenter::defaultCenter();
    const auto evaluateOnAWorker = [this](const TDWNotification &) { m_evaluationQueue->addOperation([this] { handleAccountUpdates(true); }); };
    center.addObserver(QStringLiteral("newAccount"), evaluateOnAWorker, this);
    center.addObserver(QStringLiteral("accountUpdate"), evaluateOnAWorker, this);
    center.addObserver(QStringLiteral("excluderuleschanged"), [this](const TDWNotification &) { handleRulesChange(); }, this);
    center.addObserver(QStringLiteral("not_changed_calendar_access_settings"), [this](const TDWNotification &) { calendarSettingsChanges(); }, this);
    center.addObserver(
        QStringLiteral("mailfolderselectionschanged"),
        [this](const TDWNotification &note) { handleMailFolderSelectionChange(note.userInfo().value(QStringLiteral("accountUsername")).toString()); },
        this);
}

std::unique_ptr<TDWManagedObjectContext> TDWBackupScheduler::newMoc() const
{
    return m_coordinator ? std::make_unique<TDWManagedObjectContext>(m_coordinator) : nullptr;
}

double TDWBackupScheduler::getBackupInterval() const
{
    const qint64 seconds = secondsBetweenBackups();
    if (defaults()->boolForKey(TDWSettingsKeys::DontIgnoreBackupIntervalWhenBackupIncomplete) || seconds == OneHour)
        return double(seconds);
    // While the last backup is incomplete, the next run comes within the hour.
    const int status = m_environment.globalStatus();
    if (status == GlobalStatusNotBackedUp || status == GlobalStatusMailQuotaWaiting)
        return double(OneHour);
    return double(seconds);
}

bool TDWBackupScheduler::isOnline()
{
    return m_environment.reachability->isOnline();
}

bool TDWBackupScheduler::timerIsValid() const
{
    return m_backupTimer && m_backupTimer->isValid();
}

void TDWBackupScheduler::invalidateBackupTimer()
{
    if (m_backupTimer)
        m_backupTimer->invalidate();
}

void TDWBackupScheduler::scheduleNext()
{
    // Offline, the next online notice schedules afresh; during a move of the
    // backup folder, its end does.
    if (!m_online || m_outsideOperationHappening)
        return;
    invalidateBackupTimer();
    const qint64 interval = qint64(getBackupInterval());
    const QDateTime fire = nextFireDate(interval, m_environment.globalStatus());
    m_backupTimer = m_environment.makeTimer(fire, std::chrono::seconds(interval), [this] { startNow(); });
}

// One interval after the start of the latest run, but never sooner than 30
// seconds from now; 30 seconds from now while the backup is incomplete, and at
// once after a restart that interrupted a run.
QDateTime TDWBackupScheduler::nextFireDate(qint64 interval, int globalStatus)
{
    const QDateTime now = TDWClock::now();
    const QDateTime floor = now.addSecs(EarliestFireSeconds);
    if (defaults()->boolForKey(TDWSettingsKeys::RestartedWhileBackupInProgress)) {
        defaults()->setBool(false, TDWSettingsKeys::RestartedWhileBackupInProgress);
        return now;
    }
    const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
    if (!moc)
        return floor;
    QDateTime fire = floor;
    TDWError error;
    const TDWBackupIteration::Ptr latest = TDWBackupIteration::latestBackupIteration(*moc, &error);
    if (!error.isNull())
        tdwLog(QStringLiteral("ERROR: Exception finding last backup iteration -- assuming need to back up immediately: %1").arg(error.description()));
    else if (latest && latest->iterationStartTime().isValid() && globalStatus != GlobalStatusNotBackedUp)
        fire = std::max(latest->iterationStartTime().addSecs(interval), floor);
    moc->reset();
    return fire;
}

void TDWBackupScheduler::startNow()
{
    if (m_backupOperationQueue->operationCount() > 0)
        return;
    if (someAccountHasAnEnabledService())
        queueBackup();
}

// Services marked "serviceDisabled" count too.
bool TDWBackupScheduler::someAccountHasAnEnabledService()
{
    const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
    if (!moc)
        return false;
    TDWError error;
    const auto accounts = TDWAccount::all(*moc, &error);
    if (!accounts) {
        tdwLog(QStringLiteral("ERROR: Unable to determine set of enabled accounts in BackupScheduler startNow -- %1").arg(error.localizedDescription()));
        return false;
    }
    bool enabled = false;
    for (const QString &service : m_serviceIds) {
        for (const TDWAccount::Ptr &account : *accounts)
            enabled = enabled || account->enabledForService(service);
    }
    moc->reset();
    return enabled;
}

void TDWBackupScheduler::queueBackup()
{
    m_backupOperationQueue->addOperation(m_environment.makeBackupOperation());
}

void TDWBackupScheduler::backupQueueCountChanged()
{
    const bool busy = m_backupOperationQueue->operationCount() > 0;
    if (busy == m_backupInProgress)
        return;
    m_backupInProgress = busy;
    if (TDWActivityMonitor *monitor = TDWActivityMonitor::shared()) {
        if (busy)
            monitor->beganBackupCycle();
        else
            monitor->endedBackupCycle();
    }
    // The next run comes one interval after the end of this one.
    if (!busy && m_online && m_backupTimer)
        m_backupTimer->setFireDate(TDWClock::now().addSecs(qint64(getBackupInterval())));
}

void TDWBackupScheduler::userRequestedImmediateBackup()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this] { userRequestedImmediateBackup(); }, Qt::QueuedConnection);
        return;
    }
    if (m_outsideOperationHappening) {
        m_backupAskedDuringOutsideOperation = true;
        return;
    }
    const int queued = m_backupOperationQueue->operationCount();
    if (queued == 0 && timerIsValid()) {
        // The firing decides, through startNow, whether there is anything to back up.
        m_backupTimer->setFireDate(TDWClock::now());
        return;
    }
    // Offline (no timer), or during a run: a fresh run after the cancelled
    // one. With a cancelled run and a fresh one queued, nothing more.
    if (queued < 2) {
        m_backupOperationQueue->cancelAllOperations();
        queueBackup();
    }
}

void TDWBackupScheduler::calendarSettingsChanges()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this] { calendarSettingsChanges(); }, Qt::QueuedConnection);
        return;
    }
    const QList<std::shared_ptr<TDWOperation>> queued = m_backupOperationQueue->operations();
    if (queued.isEmpty() && timerIsValid()) {
        m_backupTimer->setFireDate(TDWClock::now());
        return;
    }
    // Behind a cancelled run, the fresh one reads the new setting anyway.
    if (queued.size() == 1) {
        if (const auto run = std::dynamic_pointer_cast<TDWBackupOperation>(queued.first()))
            run->requeueCalendar();
    }
}

void TDWBackupScheduler::userRequestedCancel()
{
    m_backupOperationQueue->cancelAllOperations();
}

void TDWBackupScheduler::stopForOutsideOperation()
{
    m_outsideOperationHappening = true;
    invalidateBackupTimer();
    BKSNotUtils::postNotificationName(QStringLiteral("outsideopstarted"), this);
}

void TDWBackupScheduler::resumeAfterOutsideOperation()
{
    m_outsideOperationHappening = false;
    BKSNotUtils::postNotificationName(QStringLiteral("outsideopfinished"), this);
    scheduleNext();
    if (m_backupAskedDuringOutsideOperation) {
        m_backupAskedDuringOutsideOperation = false;
        userRequestedImmediateBackup();
    }
}

void TDWBackupScheduler::reachabilityChanged()
{
    if (isOnline()) {
        handleOnlineNotice();
    } else {
        tdwLog(QStringLiteral("got offline notice in MyReachabilityCallback"));
        handleOfflineNotice();
    }
}

// Going offline is noticed by the watcher only.
void TDWBackupScheduler::autoOnlineCheck()
{
    if (!m_online && isOnline())
        handleOnlineNotice();
}

void TDWBackupScheduler::handleOnlineNotice()
{
    if (m_online)
        return;
    m_online = true;
    wakeOrReconnect();
}

void TDWBackupScheduler::handleOfflineNotice()
{
    if (!m_online)
        return;
    m_online = false;
    sleepOrDisconnect();
}

void TDWBackupScheduler::receiveWakeNote()
{
    if (m_online)
        wakeOrReconnect();
}

void TDWBackupScheduler::receiveSleepNote()
{
    sleepOrDisconnect();
}

void TDWBackupScheduler::wakeOrReconnect()
{
    scheduleNext();
}

// A run under way goes on.
void TDWBackupScheduler::sleepOrDisconnect()
{
    invalidateBackupTimer();
}

void TDWBackupScheduler::handleRulesChange()
{
    queueRuleUpdate(std::nullopt, {TDWServiceIds::Docs, TDWServiceIds::Calendar, TDWServiceIds::Contacts});
}

void TDWBackupScheduler::handleMailFolderSelectionChange(const QString &accountUsername)
{
    if (accountUsername.isEmpty()) {
        tdwLog(QStringLiteral("ERROR: Mail folder selection changed without an account user name"));
        return;
    }
    queueRuleUpdate(QStringList{accountUsername}, {TDWServiceIds::Mail});
}

void TDWBackupScheduler::queueRuleUpdate(const std::optional<QStringList> &usernames, const QStringList &services)
{
    m_ruleUpdateOperationQueue->addOperation([this, usernames, services] {
        m_environment.makeRuleUpdate(usernames, services)->start();
        handleAccountUpdates(false);
    });
}

void TDWBackupScheduler::handleAccountUpdates(bool)
{
    if (m_backupOperationQueue->operationCount() > 0)
        return;
    const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
    if (!moc)
        return;
    TDWError ignored;
    const QList<TDWAccount::Ptr> accounts = TDWAccount::all(*moc, &ignored).value_or(QList<TDWAccount::Ptr>());
    const TDWBackupIteration::Ptr latest = TDWBackupIteration::latestBackupIteration(*moc, &ignored);

    // An unfinished last run, or one longer ago than the interval (without
    // the global-status rule).
    bool need = !latest || !latest->iterationEndTime().isValid() || latest->iterationStartTime().secsTo(TDWClock::now()) > secondsBetweenBackups();
    if (!need) {
        const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
        // A need found for one account still lets the others be recounted.
        for (const TDWAccount::Ptr &account : accounts) {
            for (const QString &service : m_serviceIds) {
                if (accountServiceNeedsBackup(*moc, *account, service, latest, storeMgr)) {
                    need = true;
                    break;
                }
            }
        }
    }
    moc->reset();
    if (need)
        userRequestedImmediateBackup();
}

// Whether one service of the account calls for a run: enabled, and not listed
// by the latest run, listed under another Drive limit, or with downloads
// still due after a recount.
bool TDWBackupScheduler::accountServiceNeedsBackup(TDWManagedObjectContext &moc, TDWAccount &account, const QString &service,
                                                   const TDWBackupIteration::Ptr &latest, const std::shared_ptr<TDWStoreMgr> &storeMgr)
{
    const QString username = account.username();
    TDWAccountServiceSetting::Ptr setting = TDWAccountServiceSetting::byAccountUsername(username, service, moc);
    if (!setting || !setting->enabled())
        return false;
    const std::shared_ptr<TDWBackupIteration> last = account.lastListIterationForService(service);
    if (!last || last->objectID() != latest->objectID())
        return true;
    if (service == TDWServiceIds::Docs) {
        const TDWPersistentStorePtr store = storeMgr ? storeMgr->storeForAccountUsername(username, service) : nullptr;
        const bool lastLimited = store && TDWDataProperty::propertyValueForName(QStringLiteral("lastLimited"), store, moc).toInt() != 0;
        if (account.limitGoogleDocs() != lastLimited)
            return true;
    }
    if (setting->downloadCountsUpToDate())
        return false;
    m_environment.makeDownloadCountUpdate(username, service)->start();
    // Mail counts are not complete before the mail backup's own pass.
    if (service == TDWServiceIds::Mail)
        return false;
    moc.refreshObject(setting, false);
    setting = TDWAccountServiceSetting::byAccountUsername(username, service, moc);
    return setting && setting->numDownloadsFailed() + setting->numDownloadsMissing() + setting->numDownloadsPending() != 0;
}
