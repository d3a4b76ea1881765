#include "dataobjects/TDWAccountServiceSetting.h"

#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWEntityFetch.h"
#include "platform/foundation/TDWLog.h"

namespace {

const QString AllQueuedExportsBackedUpKey = QStringLiteral("allQueuedExportsBackedUp");
const QString FixedMailDataKey = QStringLiteral("fixedMailDataBlankMessage");

} // namespace

std::shared_ptr<TDWAccount> TDWAccountServiceSetting::account() const
{
    return std::static_pointer_cast<TDWAccount>(objectValue(QStringLiteral("account")));
}

void TDWAccountServiceSetting::setAccount(const std::shared_ptr<TDWAccount> &account)
{
    setObjectValue(QStringLiteral("account"), account);
}

std::shared_ptr<TDWBackupIteration> TDWAccountServiceSetting::lastListIteration() const
{
    return std::static_pointer_cast<TDWBackupIteration>(objectValue(QStringLiteral("lastListIteration")));
}

void TDWAccountServiceSetting::setLastListIteration(const std::shared_ptr<TDWBackupIteration> &iteration)
{
    setObjectValue(QStringLiteral("lastListIteration"), iteration);
}

bool TDWAccountServiceSetting::allQueuedExportsBackedUpLast() const
{
    return extensiblePropertyForKey(AllQueuedExportsBackedUpKey).toBool();
}

void TDWAccountServiceSetting::setAllQueuedExportsBackedUpLast(bool backedUp)
{
    setExtensibleProperty(backedUp, AllQueuedExportsBackedUpKey);
}

bool TDWAccountServiceSetting::fixedMailData211BugFix() const
{
    return extensiblePropertyForKey(FixedMailDataKey).toBool();
}

void TDWAccountServiceSetting::setFixedMailData211BugFix(bool fixed)
{
    setExtensibleProperty(fixed, FixedMailDataKey);
}

bool TDWAccountServiceSetting::usesExtensiblePropertiesForUndefinedKey(const QString &key) const
{
    return key == AllQueuedExportsBackedUpKey || key == FixedMailDataKey;
}

TDWAccountServiceSetting::Ptr TDWAccountServiceSetting::newWithMoc(TDWManagedObjectContext &moc)
{
    return moc.insertNew<TDWAccountServiceSetting>(QStringLiteral("AccountServiceSetting"));
}

TDWAccountServiceSetting::Ptr TDWAccountServiceSetting::byAccountUsername(const QString &username, const QString &service,
                                                                          TDWManagedObjectContext &moc)
{
    TDWError error;
    const auto found = TDWEntityFetch(moc, QStringLiteral("AccountServiceSetting"))
                           .where(QStringLiteral("account.username = %@ and service = %@"), {username, service})
                           .objects<TDWAccountServiceSetting>(&error);
    if (!found) {
        tdwLog(QStringLiteral("ERROR: Unable to find accountservicesetting: %1").arg(error.description()));
        return nullptr;
    }
    if (found->size() > 1) {
        tdwLog(QStringLiteral("ERROR: Multiple accountservice records for the same username/service combination."));
        return nullptr;
    }
    return found->isEmpty() ? nullptr : found->first();
}
