#pragma once

#include "agent/TDWBackupSchedulerEnvironment.h"
#include "common/TDWServiceConfig.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QList>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>

class TDWAccount;
class TDWBackupIteration;
class TDWStoreMgr;

// Decides when a backup run starts. Made once, on the main thread, after the
// status evaluator, over the whole service table and the shared coordinator;
// lives until the application quits.
//
// It owns the serial backup queue (one run executing, at most one more
// waiting), the repeating backup timer, the 60-second online check, and the
// reactions to network changes, sleep and wake, Back Up Now and Stop, moves of
// the backup folder, and changes of accounts, exclusion rules, Gmail label
// selections and the calendar access setting.
//
// Its state belongs to the main thread: calls that may come from other
// threads (Back Up Now, the rule and account reactions) hand their work on
// and return. Rule updates run one at a time on a queue of their own; each
// account change is evaluated on a worker of its own.
class TDWBackupScheduler : public QObject
{
    Q_OBJECT

public:
    TDWBackupScheduler(const QList<TDWServiceConfig> &services, std::shared_ptr<TDWPersistentStoreCoordinator> coordinator,
                       TDWBackupSchedulerEnvironment environment);
    // Waits for the rule updates and evaluations under way; a backup run is
    // cancelled with the queue.
    ~TDWBackupScheduler() override;

    // Recomputes the backup timer; nothing while offline or while the backup
    // folder is being moved.
    void scheduleNext();
    // Each firing of the backup timer: queues a run when none is queued and
    // some account has an enabled service.
    void startNow();
    // Back Up Now; from any thread.
    void userRequestedImmediateBackup();
    // Stop: cancels every run of the backup queue.
    void userRequestedCancel();
    // Whether the backup queue holds a run; from any thread.
    bool backupInProgress() const { return m_backupInProgress; }

    // "excluderuleschanged": rule update of contacts, calendar and Drive for
    // every account, then the backup-need evaluation; from any thread.
    void handleRulesChange();
    // "mailfolderselectionschanged": rule update of one account's mail, then
    // the evaluation; from any thread.
    void handleMailFolderSelectionChange(const QString &accountUsername);
    // The backup-need evaluation, on the caller's (background) thread; asks
    // for Back Up Now when a run is due. The flag is not used.
    void handleAccountUpdates(bool accountsChanged);
    // "not_changed_calendar_access_settings": re-runs the calendar backups,
    // at once when idle, within the run when one is under way.
    void calendarSettingsChanges();

    // Bracket a move, relink or reset of the backup folder: no run starts
    // in between, and Back Up Now asked for meanwhile waits for the end.
    void stopForOutsideOperation();
    void resumeAfterOutsideOperation();

    // The backup interval in seconds.
    double getBackupInterval() const;
    bool isOnline();

private:
    std::unique_ptr<TDWManagedObjectContext> newMoc() const;
    bool someAccountHasAnEnabledService();
    QDateTime nextFireDate(qint64 interval, int globalStatus);
    bool timerIsValid() const;
    void invalidateBackupTimer();
    void queueBackup();
    void backupQueueCountChanged();
    void queueRuleUpdate(const std::optional<QStringList> &usernames, const QStringList &services);
    bool accountServiceNeedsBackup(TDWManagedObjectContext &moc, TDWAccount &account, const QString &service,
                                   const std::shared_ptr<TDWBackupIteration> &latest, const std::shared_ptr<TDWStoreMgr> &storeMgr);
    void observeNotifications();

    void autoOnlineCheck();
    void reachabilityChanged();
    void handleOnlineNotice();
    void handleOfflineNotice();
    void receiveWakeNote();
    void receiveSleepNote();
    void wakeOrReconnect();
    void sleepOrDisconnect();

    // The ids of the service table's services, in its order.
    const QStringList m_serviceIds;
    const std::shared_ptr<TDWPersistentStoreCoordinator> m_coordinator;
    TDWBackupSchedulerEnvironment m_environment;

    std::unique_ptr<TDWTimer> m_backupTimer;
    std::unique_ptr<TDWTimer> m_offlineCheckTimer;
    std::unique_ptr<TDWOperationQueue> m_backupOperationQueue;
    std::atomic<bool> m_backupInProgress = false;
    bool m_online = false;
    bool m_outsideOperationHappening = false;
    bool m_backupAskedDuringOutsideOperation = false;

    // Workers of the rule updates (one at a time) and of the evaluations that
    // account changes start; both end before the scheduler does.
    std::unique_ptr<TDWOperationQueue> m_ruleUpdateOperationQueue;
    std::unique_ptr<TDWOperationQueue> m_evaluationQueue;
};
