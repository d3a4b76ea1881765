#include "agent/TDWBackupOperation.h"

#include "accounts/TDWAccessTokenRetriever.h"
#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "agent/TDWBackupOperationClasses.h"
#include "agent/TDWLockUnlockAllBackupFilesOperation.h"
#include "agent/TDWStoreBackups.h"
#include "common/TDWFileMgr.h"
#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/store/TDWContextReset.h"
#include "status/TDWActivityMonitor.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace {

const QString AccountUsernameKey = QStringLiteral("accountUsername");

bool onMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

// Runs the function on the main thread, after the caller has returned.
template <class F>
void laterOnMainThread(F function)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(function), Qt::QueuedConnection);
}

TDWUserDefaults *defaults()
{
    return TDWUserDefaults::standard();
}

} // namespace

TDWBackupOperation::TDWBackupOperation()
    : m_queue(std::make_unique<TDWOperationQueue>())
{
}

TDWBackupOperation::~TDWBackupOperation()
{
    TDWNotificationCenter::defaultCenter().removeObserver(m_newAccountObserver);
    TDWNotificationCenter::defaultCenter().removeObserver(m_accountUpdateObserver);
}

QString TDWBackupOperation::keyForAccountUsername(const QString &username, const QString &service)
{
    return QStringLiteral("%1,%2").arg(username, service);
}

TDWManagedObjectID TDWBackupOperation::backupIterationId() const
{
    std::lock_guard lock(m_mutex);
    return m_backupIterationId;
}

void TDWBackupOperation::main()
{
    if (onMainThread()) {
        startOnMainThread();
        return;
    }
    // Not waited for: the backup queue's thread must never block on the main
    // thread, which may itself be waiting for that queue (at quit).
    laterOnMainThread([self = std::static_pointer_cast<TDWBackupOperation>(shared_from_this())] { self->startOnMainThread(); });
}

void TDWBackupOperation::startOnMainThread()
{
    // Cancelled while the start was on its way here: ended like a run cancelled
    // in the backup queue, without an iteration that would pass for a backup
    // and with "last_cancelled" left as the cancellation set it.
    if (isCancelled()) {
        complete();
        return;
    }
    // Every change of the inner queue's count may complete the run. The test
    // runs on the main thread, so that a queue thread never waits for the
    // run's lock while the queue holds its own (the main thread queues
    // operations under the run's lock).
    connect(m_queue.get(), &TDWOperationQueue::operationCountChanged, m_queue.get(),
            [weak = weak_from_this()](int) {
                laterOnMainThread([weak] {
                    if (const auto self = std::static_pointer_cast<TDWBackupOperation>(weak.lock()))
                        self->checkDone();
                });
            },
            Qt::DirectConnection);
    TDWNotificationCenter &center = TDWNotificationCenter::defaultCenter();
    const auto onAccountChange = [this](const TDWNotification &notification) { handleAccountChangeNotification(notification); };
    m_newAccountObserver = center.addObserver(QStringLiteral("newAccount"), onAccountChange, this);
    m_accountUpdateObserver = center.addObserver(QStringLiteral("accountUpdate"), onAccountChange, this);

    defaults()->setBool(false, TDWSettingsKeys::LastCancelled);
    if (!backupFolderAvailable() || !openIteration()) {
        complete();
        return;
    }
    if (!isCancelled()) {
        if (TDWActivityMonitor *monitor = TDWActivityMonitor::shared())
            monitor->doneGlobal();
    }
    {
        std::lock_guard lock(m_mutex);
        m_queuedAccountServices.clear();
        m_queue->setMaxConcurrentOperationCount(MaxConcurrentServiceOperations);
        m_mainBackupRunning = true;
        requestAccessTokens();
    }
    checkDone();
}

bool TDWBackupOperation::backupFolderAvailable()
{
    const QString chosen = TDWFileMgr::altBackupLocation();
    if (!chosen.isEmpty() && !QFileInfo::exists(chosen)) {
        defaults()->setBool(true, TDWSettingsKeys::BackupDirIsMissing);
        defaults()->synchronize();
        return false;
    }
    if (defaults()->boolForKey(TDWSettingsKeys::BackupDirIsMissing)) {
        defaults()->setBool(false, TDWSettingsKeys::BackupDirIsMissing);
        defaults()->synchronize();
    }
    return true;
}

bool TDWBackupOperation::openIteration()
{
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc) {
        tdwLog(QStringLiteral("ERROR: Unable to save moc in BackupOperation: %1").arg(QStringLiteral("no store is open")));
        return false;
    }
    const TDWContextReset reset{moc.get()};
    const auto iteration = TDWBackupIteration::newWithMoc(*moc);
    iteration->setIterationStartTime(TDWClock::now());
    iteration->setOutdated(false);
    TDWError error;
    if (!moc->save(&error)) {
        tdwLog(QStringLiteral("ERROR: Unable to save moc in BackupOperation: %1").arg(error.localizedDescription()));
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        m_backupIterationId = iteration->objectID();
    }
    defaults()->setString(iteration->objectID().uriRepresentation().toString(), TDWSettingsKeys::LatestBackupIterationUrl);
    defaults()->synchronize();
    return true;
}

void TDWBackupOperation::requestAccessTokens()
{
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc)
        return;
    const TDWContextReset reset{moc.get()};
    TDWError error;
    const auto accounts = TDWAccount::all(*moc, &error);
    if (!accounts) {
        tdwLog(QStringLiteral("ERROR: Unable to fetch the accounts in BackupOperation: %1").arg(error.localizedDescription()));
        return;
    }
    for (const TDWAccount::Ptr &account : *accounts) {
        if (account->enabledForAnyService())
            requestAccessToken(account->username());
    }
    // The locking setting changed since the files were last brought in line with it.
    if (defaults()->integerForKey(TDWSettingsKeys::LockBackupFilesLastChanged)
        != defaults()->integerForKey(TDWSettingsKeys::LockBackupFilesLastPerformed))
        m_queue->addOperation(std::make_shared<TDWLockUnlockAllBackupFilesOperation>());
}

void TDWBackupOperation::requestAccessToken(const QString &username)
{
    auto *retriever = new TDWAccessTokenRetriever(username, this, this);
    retriever->start();
    // A newer request replaces an older one, whose late answer is then ignored.
    if (TDWAccessTokenRetriever *previous = m_accessTokenRetrieversByAccountUsername.value(username))
        previous->deleteLater();
    m_accessTokenRetrieversByAccountUsername.insert(username, retriever);
}

void TDWBackupOperation::accessTokenRetrieverReceivedAccessToken(TDWAccessTokenRetriever *retriever, const QString &)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_mainBackupRunning || m_completing)
            return;
        const QString username = retriever->accountUsername();
        if (m_accessTokenRetrieversByAccountUsername.value(username) == retriever) {
            startBackupsForAccountUsername(username);
            m_haveAccessTokenAccountUsernames.insert(username);
            m_failedAccessTokenAccountUsernames.remove(username);
            const auto credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(username);
            if (credential)
                scheduleRenewal(username, credential->accessTokenExpires());
            else
                tdwLog(QStringLiteral("ERROR: In TDWBackupOperation -- got access token, but could not find it in keychain."));
        }
    }
    // Every answer counts towards the end of the run, or nothing would ever end it.
    checkDone();
}

void TDWBackupOperation::accessTokenRetrieverEncounteredError(TDWAccessTokenRetriever *retriever, const TDWError &)
{
    {
        std::lock_guard lock(m_mutex);
        const QString username = retriever->accountUsername();
        if (m_accessTokenRetrieversByAccountUsername.value(username) == retriever) {
            m_failedAccessTokenAccountUsernames.insert(username);
            m_haveAccessTokenAccountUsernames.remove(username);
        }
    }
    checkDone();
}

void TDWBackupOperation::scheduleRenewal(const QString &username, const QDateTime &expires)
{
    if (QTimer *previous = m_accessTokenTimersByAccountUsername.take(username))
        previous->deleteLater();
    // A token that expires within the lead time (or has no expiry) is renewed
    // after the lead time instead of at once, so a short-lived token cannot
    // make the run ask for tokens without pause.
    const QDateTime now = TDWClock::now();
    qint64 seconds = expires.isValid() ? now.secsTo(expires.addSecs(-RenewalLeadSeconds)) : 0;
    if (seconds <= 0)
        seconds = RenewalLeadSeconds;
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setInterval(TDWClock::duration(std::chrono::seconds(seconds)));
    connect(timer, &QTimer::timeout, this, [this, username] { renewAccessToken(username); });
    m_accessTokenTimersByAccountUsername.insert(username, timer);
    timer->start();
}

void TDWBackupOperation::renewAccessToken(const QString &username)
{
    std::lock_guard lock(m_mutex);
    if (m_completing)
        return;
    // An account whose operations are done needs no fresh token.
    if (hasRunningOperationFor(username))
        requestAccessToken(username);
}

bool TDWBackupOperation::hasRunningOperationFor(const QString &username)
{
    std::erase_if(m_serviceOperations, [](const auto &entry) {
        const auto operation = entry.first.lock();
        return !operation || operation->isFinished();
    });
    return std::any_of(m_serviceOperations.cbegin(), m_serviceOperations.cend(), [&](const auto &entry) { return entry.second == username; });
}

void TDWBackupOperation::handleAccountChangeNotification(const TDWNotification &notification)
{
    const QString username = notification.userInfo().value(AccountUsernameKey).toString();
    if (!onMainThread()) {
        // The retriever answers on the thread that started it: the main thread's.
        laterOnMainThread([self = std::static_pointer_cast<TDWBackupOperation>(shared_from_this()), notification] {
            self->handleAccountChangeNotification(notification);
        });
        return;
    }
    std::lock_guard lock(m_mutex);
    if (m_completing || !m_mainBackupRunning)
        return;
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc)
        return;
    const TDWContextReset reset{moc.get()};
    TDWError error;
    const auto account = TDWAccount::byUsername(username, *moc, &error);
    if (!account || !account->enabledForAnyService())
        return;
    m_haveAccessTokenAccountUsernames.remove(username);
    m_failedAccessTokenAccountUsernames.remove(username);
    requestAccessToken(username);
}

void TDWBackupOperation::startBackupsForAccountUsername(const QString &username)
{
    std::lock_guard lock(m_mutex);
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc)
        return;
    const TDWContextReset reset{moc.get()};
    TDWError error;
    const auto account = TDWAccount::byUsername(username, *moc, &error);
    if (!account)
        return;
    for (const TDWServiceConfig &service : TDWServiceTable::shared().serviceConfigs()) {
        if (isCancelled() || m_completing)
            return;
        if (!account->enabledForService(service.id) || m_queuedAccountServices.contains(keyForAccountUsername(username, service.id)))
            continue;
        if (const auto setting = TDWAccountServiceSetting::byAccountUsername(username, service.id, *moc)) {
            setting->setDownloadCountsUpToDate(false);
            if (!moc->save(&error))
                tdwLog(QStringLiteral("ERROR: Unable to save downloads up to date: %1").arg(error.localizedDescription()));
        }
        m_queuedAccountServices.insert(keyForAccountUsername(username, service.id));
        queueServiceOperation(username, service.id, service.backupOperationClass);
    }
}

void TDWBackupOperation::queueServiceOperation(const QString &username, const QString &service, const QString &className)
{
    std::shared_ptr<TDWOperation> operation = TDWBackupOperationClasses::shared().create(className, username, service);
    if (!operation) {
        tdwLog(QStringLiteral("ERROR: No backup operation \"%1\" for service %2").arg(className, service));
        return;
    }
    m_serviceOperations.emplace_back(operation, username);
    m_queue->addOperation(operation);
}

void TDWBackupOperation::requeueCalendar()
{
    std::lock_guard lock(m_mutex);
    if (m_completing || !m_mainBackupRunning)
        return;
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc)
        return;
    const TDWContextReset reset{moc.get()};
    TDWError error;
    const auto accounts = TDWAccount::all(*moc, &error);
    if (!accounts)
        return;
    for (const TDWAccount::Ptr &account : *accounts) {
        if (!account->enabledForService(TDWServiceIds::Calendar))
            continue;
        m_queuedAccountServices.remove(keyForAccountUsername(account->username(), TDWServiceIds::Calendar));
        startBackupsForAccountUsername(account->username());
    }
}

void TDWBackupOperation::cancel()
{
    // A run that has ended stays as it ended: a late Stop makes no finished run a cancelled one.
    if (isFinished())
        return;
    defaults()->setBool(true, TDWSettingsKeys::LastCancelled);
    TDWOperation::cancel();
    m_queue->cancelAllOperations();
}

bool TDWBackupOperation::isComplete() const
{
    std::lock_guard lock(m_mutex);
    // Before the start sequence has asked for the tokens nothing is complete.
    return m_mainBackupRunning && m_queue->operationCount() == 0
        && m_accessTokenRetrieversByAccountUsername.size()
               == m_haveAccessTokenAccountUsernames.size() + m_failedAccessTokenAccountUsernames.size();
}

void TDWBackupOperation::checkDone()
{
    {
        std::lock_guard lock(m_mutex);
        // Decided under the lock, so that no account's operations can be
        // queued between the test and the end.
        if (!isComplete() || m_completing.exchange(true))
            return;
    }
    if (!onMainThread()) {
        complete();
        return;
    }
    // The store copies may take a while: not on the main thread.
    QThread *worker = QThread::create([self = std::static_pointer_cast<TDWBackupOperation>(shared_from_this())]() mutable {
        self->complete();
        laterOnMainThread([self = std::move(self)] {});
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

void TDWBackupOperation::complete()
{
    m_completing = true;
    if (m_mainBackupRunning)
        TDWStoreBackups::backUpStoresIfNecessary();
    finishBackup();
}

void TDWBackupOperation::finishBackup()
{
    TDWNotificationCenter::defaultCenter().removeObserver(m_newAccountObserver);
    TDWNotificationCenter::defaultCenter().removeObserver(m_accountUpdateObserver);
    stampIterationEndTime();
    if (TDWActivityMonitor *monitor = TDWActivityMonitor::shared())
        monitor->done();
    // The backup queue may let go of the run here; the last reference is then
    // dropped on the main thread, where the run's timers and retrievers live.
    auto self = std::static_pointer_cast<TDWBackupOperation>(shared_from_this());
    finish();
    laterOnMainThread([self = std::move(self)] {
        std::lock_guard lock(self->m_mutex);
        for (QTimer *timer : std::as_const(self->m_accessTokenTimersByAccountUsername))
            timer->stop();
    });
}

void TDWBackupOperation::stampIterationEndTime()
{
    const TDWManagedObjectID iterationId = backupIterationId();
    if (iterationId.isNull())
        return;
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc)
        return;
    const TDWContextReset reset{moc.get()};
    TDWError error;
    const auto iteration = std::dynamic_pointer_cast<TDWBackupIteration>(moc->existingObjectWithID(iterationId, &error));
    if (iteration) {
        iteration->setIterationEndTime(TDWClock::now());
        moc->save(&error);
    }
    if (!iteration || !error.isNull())
        tdwLog(QStringLiteral("ERROR: Unable to save new iteration end time: %1").arg(error.localizedDescription()));
}
