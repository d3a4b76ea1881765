#include "dataobjects/TDWBackupSettingHistory.h"

#include "common/TDWDateUtils.h"
#include "common/TDWServiceIds.h"
#include "dataobjects/TDWEntityFetch.h"
#include "platform/foundation/TDWLog.h"

namespace {

const QString EntityName = QStringLiteral("BackupSettingHistory");

TDWBackupSettingHistory::Ptr firstOf(TDWEntityFetch &fetch, const QString &duplicateLine)
{
    TDWError error;
    const auto found = fetch.objects<TDWBackupSettingHistory>(&error);
    if (!found) {
        tdwLog(QStringLiteral("ERROR: Error trying to find a backup history setting: %1").arg(error.description()));
        return nullptr;
    }
    if (found->size() > 1)
        tdwLog(duplicateLine);
    return found->isEmpty() ? nullptr : found->first();
}

} // namespace

TDWBackupSettingHistory::Ptr TDWBackupSettingHistory::newWithMoc(TDWManagedObjectContext &moc, const TDWPersistentStorePtr &store)
{
    return insertIntoStore<TDWBackupSettingHistory>(moc, EntityName, store);
}

TDWBackupSettingHistory::Ptr TDWBackupSettingHistory::currentForStore(const TDWPersistentStorePtr &store, const QString &settingName,
                                                                      TDWManagedObjectContext &moc)
{
    return firstOf(TDWEntityFetch(moc, EntityName).where(QStringLiteral("settingName = %@ and current = 1"), {settingName}).in(store),
                   QStringLiteral("ERROR: Found more than one backup history setting for %1").arg(settingName));
}

TDWBackupSettingHistory::Ptr TDWBackupSettingHistory::currentForStore(const TDWPersistentStorePtr &store, const QString &settingName,
                                                                      const QDateTime &snapshotDate, TDWManagedObjectContext &moc)
{
    if (!snapshotDate.isValid())
        return currentForStore(store, settingName, moc);
    return firstOf(TDWEntityFetch(moc, EntityName)
                       .where(QStringLiteral("settingName = %@ and firstSeenDate <= %@ and (obsoletedDate = nil or obsoletedDate > %@)"),
                              {settingName, snapshotDate, snapshotDate})
                       .in(store),
                   QStringLiteral("ERROR: Found more than one backup history setting for %1/%2")
                       .arg(settingName, TDWDateUtils::description(snapshotDate)));
}

std::optional<QList<TDWBackupSettingHistory::Ptr>> TDWBackupSettingHistory::obsoletedByStore(const TDWPersistentStorePtr &store,
                                                                                             const QDateTime &sinceBefore,
                                                                                             TDWManagedObjectContext &moc)
{
    TDWError error;
    auto found = TDWEntityFetch(moc, EntityName)
                     .where(QStringLiteral("current = 0 and obsoletedDate < %@"), {sinceBefore})
                     .in(store)
                     .objects<TDWBackupSettingHistory>(&error);
    if (!found)
        tdwLog(QStringLiteral("ERROR: Unable to find obsolete backup setting history records: %1").arg(error.description()));
    return found;
}

void TDWBackupSettingHistory::recordSetting(const TDWPersistentStorePtr &store, const QString &settingName, bool backupEnabled,
                                            const QDateTime &date, TDWManagedObjectContext &moc)
{
    const Ptr current = currentForStore(store, settingName, moc);
    if (current && current->backupEnabled() == backupEnabled)
        return;
    if (current) {
        current->setCurrent(false);
        current->setObsoletedDate(date);
    }
    const Ptr record = newWithMoc(moc, store);
    if (!record)
        return;
    record->setService(TDWServiceIds::Mail);
    record->setSettingName(settingName);
    record->setCurrent(true);
    record->setFirstSeenDate(date);
    record->setBackupEnabled(backupEnabled);
}
