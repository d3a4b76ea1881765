#pragma once

#include "common/TDWServiceConfig.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>

class TDWAccount;
class TDWManagedObjectContext;

// Evaluates the backup status of the accounts for the status menu and the
// scheduler: a code per account and service, computed afresh from the stored
// bookkeeping (the service setting and its download counters, the latest
// backup iteration, the account's credential) and the scheduler's run, and one
// global code over every enabled account service. It writes nothing. The
// application holds one for the whole run; any thread may call it.
class TDWStatusMgr
{
public:
    // Per account and service; the first that holds, in the order evaluated.
    enum Status : qint32 {
        LoginRequired = 1,           // no credential, or its refresh token was refused
        ListRetrievalFailed = 2,     // the list was not retrieved in the latest backup iteration
        ListRetrievalCancelled = 3,  // as 2, and the last backup was cancelled
        ItemsNotBackedUp = 4,        // items pending, failed or missing
        DownloadCountsStale = 5,     // the last backup did not complete for the service
        BackupInProgress = 6,
        BackedUp = 7,
        MailAwaitingQuota = 8,       // mail only: the rest merely waits for the next run
        ServiceDisabled = 9,
        BackupDirMissing = 10,
    };
    enum GlobalStatus : qint32 {
        NothingEnabled = 0,
        AllBackedUp = 1,
        NeedsAttention = 2,          // also when the accounts cannot be read
        BackedUpMailAwaitingQuota = 3,
    };

    TDWStatusMgr();
    // The status menu's tests stand a scripted evaluator in its place.
    virtual ~TDWStatusMgr();

    // How to ask whether the scheduler's queue holds a backup run; the
    // application installs it once its scheduler exists (none: no run).
    void setBackupInProgressCheck(std::function<bool()> check);

    // The account's status for the service, read in the caller's context (the
    // account's), on that context's thread.
    virtual qint32 statusForAccount(const std::shared_ptr<TDWAccount> &account, const QString &service, TDWManagedObjectContext &moc) const;
    // Over every enabled account service, in a context of its own.
    virtual qint32 globalStatus() const;
    // The one-line text the menu shows for a status of the account's service.
    QString labelForStatus(qint32 status, const std::shared_ptr<TDWAccount> &account, const TDWServiceConfig &serviceConfig) const;

private:
    bool backupInProgress() const;
    // "1 document is not yet backed up." or "3 of 1,200 documents are not yet backed up."
    static QString notYetBackedUpText(const std::shared_ptr<TDWAccount> &account, const QString &serviceId);

    mutable std::mutex m_checkMutex; // guards m_backupInProgress, installed on the main thread
    std::function<bool()> m_backupInProgress;
};
