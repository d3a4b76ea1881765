#include "status/TDWStatusMgr.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QCoreApplication>
#include <QLocale>

namespace {


QString localized(const char *text)
{
    return QCoreApplication::translate("TDWStatusMgr", text);
}

// Whether the account has to sign in again. A keyring that cannot answer
// tells nothing about the account, so it is not taken for a missing credential.
bool loginRequired(const QString &username)
{
    TDWKeychainLookup outcome = TDWKeychainLookup::Found;
    const std::shared_ptr<TDWCredential> credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(username, &outcome);
    if (credential)
        return credential->refreshTokenInvalid();
    return outcome != TDWKeychainLookup::Unavailable;
}

} // namespace

TDWStatusMgr::TDWStatusMgr() = default;

TDWStatusMgr::~TDWStatusMgr() = default;

void TDWStatusMgr::setBackupInProgressCheck(std::function<bool()> check)
{
    std::lock_guard lock(m_checkMutex);
    m_backupInProgress = std::move(check);
}

bool TDWStatusMgr::backupInProgress() const
{
    // Held across the call, so that removing the check waits for the calls
    // under way and none reaches a scheduler that is gone.
    std::lock_guard lock(m_checkMutex);
    return m_backupInProgress && m_backupInProgress();
}

qint32 TDWStatusMgr::statusForAccount(const std::shared_ptr<TDWAccount> &account, const QString &service, TDWManagedObjectContext &moc) const
{
    if (!account)
        return ServiceDisabled;
    const TDWAccountServiceSetting::Ptr setting = TDWAccountServiceSetting::byAccountUsername(account->username(), service, moc);
    if (!account->enabledForService(service))
        return ServiceDisabled;
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    if (defaults->boolForKey(TDWSettingsKeys::BackupDirIsMissing))
        return BackupDirMissing;
    if (loginRequired(account->username()))
        return LoginRequired;
    if (backupInProgress())
        return BackupInProgress;

    const std::shared_ptr<TDWBackupIteration> latest = TDWBackupIteration::latestBackupIteration(moc, nullptr);
    const std::shared_ptr<TDWBackupIteration> lastList = account->lastListIterationForService(service);
    if (!lastList || !latest || lastList->objectID() != latest->objectID())
        return defaults->boolForKey(TDWSettingsKeys::LastCancelled) ? ListRetrievalCancelled : ListRetrievalFailed;
    if (!setting || !setting->downloadCountsUpToDate())
        return DownloadCountsStale;

    const qint64 pending = setting->numDownloadsPending();
    const qint64 notYet = pending + setting->numDownloadsFailed() + setting->numDownloadsMissing();
    if (notYet != 0 && notYet == pending && service == TDWServiceIds::Mail && account->settingForService(TDWServiceIds::Mail)->allQueuedExportsBackedUpLast())
        return MailAwaitingQuota;
    return notYet != 0 ? ItemsNotBackedUp : BackedUp;
}

qint32 TDWStatusMgr::globalStatus() const
{
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const auto accounts = moc ? TDWAccount::all(*moc, nullptr) : std::nullopt;
    if (!accounts)
        return NeedsAttention;
    bool someEnabled = false;
    bool mailAwaitingQuota = false;
    for (const TDWServiceConfig &config : TDWServiceTable::shared().serviceConfigs()) {
        if (config.disabled)
            continue;
        for (const TDWAccount::Ptr &account : *accounts) {
            if (!account->enabledForService(config.id))
                continue;
            someEnabled = true;
            const qint32 status = statusForAccount(account, config.id, *moc);
            if (status == MailAwaitingQuota)
                mailAwaitingQuota = true;
            else if (status != BackedUp)
                return NeedsAttention;
        }
    }
    if (!someEnabled)
        return NothingEnabled;
    return mailAwaitingQuota ? BackedUpMailAwaitingQuota : AllBackedUp;
}

QString TDWStatusMgr::labelForStatus(qint32 status, const std::shared_ptr<TDWAccount> &account, const TDWServiceConfig &serviceConfig) const
{
    switch (status) {
    case BackupDirMissing:
        return localized("Backup directory not found.");
    case ServiceDisabled:
        return localized("Disabled.");
    case LoginRequired:
        return localized("Login required.");
    case BackupInProgress:
        return localized("Backup in progress\u2026");
    case BackedUp:
        return localized("Backed up.");
    case ListRetrievalCancelled:
        return localized("Last backup cancelled before %1 list retrieval.").arg(serviceConfig.itemName);
    case ListRetrievalFailed:
        return localized("Last %1 list retrieval failed.").arg(serviceConfig.itemName);
    case DownloadCountsStale:
        return localized("Last backup did not complete");
    default:
        return notYetBackedUpText(account, serviceConfig.id);
    }
}

QString TDWStatusMgr::notYetBackedUpText(const std::shared_ptr<TDWAccount> &account, const QString &serviceId)
{
    const TDWServiceConfig config = TDWServiceTable::shared().serviceConfig(serviceId);
    const TDWAccountServiceSetting::Ptr setting = account ? account->settingForService(config.id) : nullptr;
    const qint64 pending = setting ? setting->numDownloadsPending() : 0;
    const qint64 failed = setting ? setting->numDownloadsFailed() : 0;
    const qint64 missing = setting ? setting->numDownloadsMissing() : 0;
    const qint64 done = setting ? setting->numDownloadsDone() : 0;
    const qint32 notYet = qint32(pending + failed + missing);
    const qint32 total = qint32(notYet + done);
    if (notYet == 1)
        return localized("1 %1 is not yet backed up.").arg(config.itemName);
    const QLocale locale;
    return localized("%1 of %2 %3 are not yet backed up.").arg(locale.toString(notYet), locale.toString(total), config.itemNamePlural);
}
