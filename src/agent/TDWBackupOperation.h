#pragma once

#include "accounts/TDWAccessTokenDelegate.h"
#include "platform/foundation/TDWOperation.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "platform/store/TDWManagedObjectID.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class QTimer;
class TDWAccessTokenRetriever;
class TDWOperationQueue;

// One backup run: one pass over all accounts, queued by the scheduler on its
// serial backup queue. It opens a backup iteration, asks a fresh access token
// for every account with an enabled service and, as each token arrives, queues
// one operation per enabled service of that account on its inner queue (at
// most 4 at once), of the class the service table names under
// "BackupOperationClass". It renews tokens that would expire while an
// account's operations still run and picks up accounts changed during the run.
// When the inner queue is empty and every token request has been answered, it
// copies the metadata stores when due, stamps the iteration's end time and
// finishes, exactly once.
//
// A concurrent operation: the start sequence, the token answers, the renewal
// timers and the account notifications run on the main thread; the completion
// test may be reached from any thread.
class TDWBackupOperation : public TDWOperation, public TDWAccessTokenDelegate
{
    Q_OBJECT

public:
    static constexpr int MaxConcurrentServiceOperations = 4;
    // A token is renewed this long before it expires.
    static constexpr qint64 RenewalLeadSeconds = 300;

    TDWBackupOperation();
    ~TDWBackupOperation() override;

    bool isConcurrent() const override { return true; }
    // Records the cancellation ("last_cancelled") and cancels the inner queue;
    // the run then queues nothing more and completes once the cancelled
    // operations have left and the outstanding token answers are in.
    void cancel() override;

    // Queues the calendar operation of every account with calendar enabled
    // again (the calendar access level changed). Main thread.
    void requeueCalendar();
    // Queues the operations of the account's enabled services that this run
    // has not queued yet.
    void startBackupsForAccountUsername(const QString &username);
    // Completes the run when the inner queue is empty and every token request
    // has been answered. Safe from any thread; the run completes once.
    void checkDone();

    // The key of an account-and-service pair: "<user name>,<service id>".
    static QString keyForAccountUsername(const QString &username, const QString &service);

    // The iteration this run opened; null before it is saved (or when it could not be).
    TDWManagedObjectID backupIterationId() const;

    // TDWAccessTokenDelegate: called on the main thread.
    void accessTokenRetrieverReceivedAccessToken(TDWAccessTokenRetriever *retriever, const QString &accessToken) override;
    void accessTokenRetrieverEncounteredError(TDWAccessTokenRetriever *retriever, const TDWError &error) override;

protected:
    void main() override;

private:
    void startOnMainThread();
    // Steps of the start sequence; false ends the run at once.
    bool backupFolderAvailable();
    bool openIteration();
    void requestAccessTokens();
    void requestAccessToken(const QString &username);
    void scheduleRenewal(const QString &username, const QDateTime &expires);
    void renewAccessToken(const QString &username);
    bool hasRunningOperationFor(const QString &username);
    void handleAccountChangeNotification(const TDWNotification &notification);
    void queueServiceOperation(const QString &username, const QString &service, const QString &className);
    bool isComplete() const;
    // Snapshot, end time, the monitor told, finished; then lets go of the run
    // on the main thread, where its timers and retrievers live.
    void complete();
    void finishBackup();
    void stampIterationEndTime();

    const std::unique_ptr<TDWOperationQueue> m_queue;

    mutable std::recursive_mutex m_mutex; // the run's lock: guards every field below
    QSet<QString> m_queuedAccountServices;
    QHash<QString, TDWAccessTokenRetriever *> m_accessTokenRetrieversByAccountUsername;
    QSet<QString> m_haveAccessTokenAccountUsernames;
    QSet<QString> m_failedAccessTokenAccountUsernames;
    QHash<QString, QTimer *> m_accessTokenTimersByAccountUsername;
    // The service operations this run queued, with their accounts.
    std::vector<std::pair<std::weak_ptr<TDWOperation>, QString>> m_serviceOperations;
    TDWManagedObjectID m_backupIterationId;
    bool m_mainBackupRunning = false;
    TDWNotificationCenter::Token m_newAccountObserver = 0;
    TDWNotificationCenter::Token m_accountUpdateObserver = 0;

    std::atomic<bool> m_completing = false;
};
