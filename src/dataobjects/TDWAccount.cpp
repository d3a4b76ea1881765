#include "dataobjects/TDWAccount.h"

#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "common/BKSErrorUtils.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWEntityFetch.h"
#include "platform/foundation/TDWLog.h"

#include <mutex>

namespace {

const QString EntityName = QStringLiteral("Account");
const QString ReaderReinstatedKey = QStringLiteral("depReaderItemsReinstatedDate");
const QString LimitGoogleDocsKey = QStringLiteral("limitGoogleDocsAttr");
const QString LockedDownKeychainKey = QStringLiteral("lockedDownKeychainAttr");

std::mutex &passwordCacheMutex()
{
    static std::mutex mutex;
    return mutex;
}

TDWAccount::PasswordCache &passwordCache()
{
    static TDWAccount::PasswordCache cache;
    return cache;
}

void cachePassword(const QString &password, const QString &username)
{
    if (password.isNull())
        return;
    std::lock_guard lock(passwordCacheMutex());
    if (passwordCache())
        passwordCache()(password, username);
}

// Updates of accounts from several threads must not interleave.
std::mutex &updateMutex()
{
    static std::mutex mutex;
    return mutex;
}

QStringList serviceIds(bool countDisabled)
{
    QStringList ids;
    for (const TDWServiceConfig &service : TDWServiceTable::shared().serviceConfigs()) {
        if (countDisabled || !service.disabled)
            ids.append(service.id);
    }
    return ids;
}

void enableServices(TDWAccount &account, const QStringList &enabledServices)
{
    for (const QString &service : serviceIds(true))
        account.setEnabled(enabledServices.contains(service), service);
}

// The error's description followed by what else it carries (e.g. the SQLite code).
QString detailedDescription(const TDWError &error)
{
    QStringList details;
    for (auto it = error.userInfo().constBegin(); it != error.userInfo().constEnd(); ++it)
        if (it.key() != TDWError::LocalizedDescriptionKey)
            details.append(QStringLiteral("%1=%2").arg(it.key(), it.value().toString()));
    return QStringLiteral("%1 -- %2").arg(error.description(), details.join(QStringLiteral(", ")));
}

} // namespace

QList<std::shared_ptr<TDWAccountServiceSetting>> TDWAccount::serviceSettings() const
{
    return TDWEntityFetch::cast<TDWAccountServiceSetting>(objectsValue(QStringLiteral("serviceSettings")));
}

QDateTime TDWAccount::deprecatedReaderItemsReinstatedDate() const
{
    return extensiblePropertyForKey(ReaderReinstatedKey).toDateTime();
}

void TDWAccount::setDeprecatedReaderItemsReinstatedDate(const QDateTime &date)
{
    setExtensibleProperty(date.isValid() ? QVariant(date) : QVariant(), ReaderReinstatedKey);
}

bool TDWAccount::limitGoogleDocs() const
{
    return extensiblePropertyForKey(LimitGoogleDocsKey).toBool();
}

void TDWAccount::setLimitGoogleDocs(bool limit)
{
    setExtensibleProperty(limit, LimitGoogleDocsKey);
}

bool TDWAccount::lockedDownKeychain() const
{
    return extensiblePropertyForKey(LockedDownKeychainKey).toBool();
}

void TDWAccount::setLockedDownKeychain(bool lockedDown)
{
    setExtensibleProperty(lockedDown, LockedDownKeychainKey);
}

bool TDWAccount::usesExtensiblePropertiesForUndefinedKey(const QString &key) const
{
    return key == ReaderReinstatedKey || key == LimitGoogleDocsKey || key == LockedDownKeychainKey;
}

std::shared_ptr<TDWAccountServiceSetting> TDWAccount::settingForService(const QString &service)
{
    TDWManagedObjectContext *moc = managedObjectContext();
    for (const auto &setting : serviceSettings()) {
        if (setting->service() != service)
            continue;
        if (moc)
            moc->refreshObject(setting, true);
        return setting;
    }
    if (!moc)
        return nullptr;
    auto setting = TDWAccountServiceSetting::newWithMoc(*moc);
    setting->setAccount(std::static_pointer_cast<TDWAccount>(shared_from_this()));
    setting->setService(service);
    setting->setEnabled(false);
    return setting;
}

bool TDWAccount::enabledForService(const QString &service)
{
    const auto setting = settingForService(service);
    return setting && setting->enabled();
}

void TDWAccount::setEnabled(bool enabled, const QString &service)
{
    if (const auto setting = settingForService(service))
        setting->setEnabled(enabled);
}

void TDWAccount::disable()
{
    setLastStatus(NoServiceEnabledStatus);
    enableServices(*this, {});
}

bool TDWAccount::enabledForAnyService()
{
    for (const QString &service : serviceIds(false))
        if (enabledForService(service))
            return true;
    return false;
}

std::shared_ptr<TDWBackupIteration> TDWAccount::lastListIterationForService(const QString &service)
{
    const auto setting = settingForService(service);
    return setting ? setting->lastListIteration() : nullptr;
}

void TDWAccount::setLastListIteration(const std::shared_ptr<TDWBackupIteration> &iteration, const QString &service)
{
    const auto setting = settingForService(service);
    if (!setting)
        return;
    setting->setLastListIteration(iteration);
    const QDateTime start = iteration ? iteration->iterationStartTime() : QDateTime();
    if (!setting->firstIterationStartTime().isValid())
        setting->setFirstIterationStartTime(start);
    if (service == TDWServiceIds::Reader && extensiblePropertyForKey(ReaderReinstatedKey).isNull())
        setDeprecatedReaderItemsReinstatedDate(start);
}

TDWAccount::Ptr TDWAccount::newWithMoc(TDWManagedObjectContext &moc)
{
    Ptr account = moc.insertNew<TDWAccount>(EntityName);
    if (account)
        account->setLockedDownKeychain(true);
    return account;
}

TDWAccount::Ptr TDWAccount::byUsername(const QString &username, TDWManagedObjectContext &moc, TDWError *error)
{
    TDWError failure;
    const auto found = TDWEntityFetch(moc, EntityName).where(QStringLiteral("%K = %@"), {QStringLiteral("username"), username}).objects<TDWAccount>(&failure);
    if (!found) {
        tdwLog(QStringLiteral("ERROR: [TDWAccount byUsername...] -- NSError error: %1").arg(failure.description()));
        tdwSetError(error, failure);
        return nullptr;
    }
    if (found->size() > 1) {
        tdwSetError(error, BKSErrorUtils::simpleError(QStringLiteral("Multiple account results for username \u201c%1\u201d").arg(username)));
        return nullptr;
    }
    return found->isEmpty() ? nullptr : found->first();
}

std::optional<QList<TDWAccount::Ptr>> TDWAccount::all(TDWManagedObjectContext &moc, TDWError *error)
{
    TDWError failure;
    auto found = TDWEntityFetch(moc, EntityName).sortedBy({TDWSortDescriptor(QStringLiteral("username"))}).objects<TDWAccount>(&failure);
    if (!found) {
        tdwLog(QStringLiteral("ERROR: [TDWAccount all...] -- NSError error: %1").arg(failure.description()));
        tdwSetError(error, failure);
    }
    return found;
}

qint64 TDWAccount::count(TDWManagedObjectContext &moc, TDWError *error)
{
    return TDWEntityFetch(moc, EntityName).count(error);
}

bool TDWAccount::addAccountWithUsername(const QString &username, const QString &password, qint32 status, const QStringList &enabledServices,
                                       bool limitGoogleDocs, TDWManagedObjectContext &moc)
{
    cachePassword(password, username);
    TDWError error;
    if (byUsername(username, moc, &error))
        return false;
    if (!error.isNull()) {
        tdwLog(QStringLiteral("ERROR: Unable to validate unique username: %1").arg(error.description()));
        return false;
    }
    Ptr account = newWithMoc(moc);
    if (!account) {
        tdwLog(QStringLiteral("ERROR: in addAccount -- newAccount was nil"));
        return false;
    }
    account->setUsername(username);
    account->setAutoAddNewLabels(true);
    account->setBackupUnlabeled(true);
    enableServices(*account, enabledServices);
    account->setLastStatus(account->enabledForAnyService() ? status : NoServiceEnabledStatus);
    const std::optional<QString> dirPath = unusedDirPath(dirPathForUsername(username), moc, &error);
    if (!dirPath) {
        moc.rollback();
        tdwLog(QStringLiteral("ERROR: Unable to validate unique username: %1").arg(error.description()));
        return false;
    }
    account->setDirPath(*dirPath);
    account->setLimitGoogleDocs(limitGoogleDocs);
    if (!moc.save(&error)) {
        moc.rollback();
        tdwLog(QStringLiteral("ERROR: Unable to save: %1").arg(detailedDescription(error)));
        return false;
    }
    return true;
}

bool TDWAccount::updateAccountWithUsername(const QString &username, const QString &password, qint32 status,
                                           const QStringList &enabledServices, bool limitGoogleDocs, TDWManagedObjectContext &moc)
{
    cachePassword(password, username);
    std::lock_guard lock(updateMutex());
    Ptr account = byUsername(username, moc, nullptr);
    if (!account) {
        tdwLog(QStringLiteral("ERROR: in updateAccount -- getAccountByUseranme returned nil"));
        return false;
    }
    moc.refreshObject(account, true);
    enableServices(*account, enabledServices);
    account->setLastStatus(enabledServices.isEmpty() ? NoServiceEnabledStatus : status);
    account->setLimitGoogleDocs(limitGoogleDocs);
    TDWError error;
    if (!moc.save(&error)) {
        moc.rollback();
        tdwLog(QStringLiteral("ERROR: Unable to save: %1").arg(error.description()));
        return false;
    }
    return true;
}

void TDWAccount::setPasswordCache(PasswordCache cache)
{
    std::lock_guard lock(passwordCacheMutex());
    passwordCache() = std::move(cache);
}

std::optional<QString> TDWAccount::unusedDirPath(const QString &base, TDWManagedObjectContext &moc, TDWError *error)
{
    const auto accounts = all(moc, error);
    if (!accounts)
        return std::nullopt;
    QStringList taken;
    for (const Ptr &account : *accounts)
        taken.append(account->dirPath());
    // Case is ignored: the backup folder may be on a file system that ignores it.
    QString candidate = base;
    for (int suffix = 2; candidate.isEmpty() || taken.contains(candidate, Qt::CaseInsensitive); ++suffix)
        candidate = QStringLiteral("%1 %2").arg(base).arg(suffix).trimmed();
    return candidate;
}

QString TDWAccount::dirPathForUsername(const QString &username)
{
    QString spelled = username;
    spelled.replace(QLatin1Char('@'), QStringLiteral(" at ")).replace(QLatin1Char('.'), QStringLiteral(" dot "));
    QString path;
    // By code point, so a letter outside the basic plane stays one letter.
    for (const char32_t c : spelled.toUcs4()) {
        if (QChar::isLetterOrNumber(c) || c == U' ' || c == U'-' || c == U'_')
            path.append(QString::fromUcs4(&c, 1));
        else
            path.append(QLatin1Char('_'));
    }
    return path;
}
