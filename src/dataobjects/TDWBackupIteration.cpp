#include "dataobjects/TDWBackupIteration.h"

#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWEntityFetch.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QUrl>

namespace {

const QString EntityName = QStringLiteral("BackupIteration");
const QString SnapshotPredicate = QStringLiteral("outdated = 0 and iterationEndTime != nil");

TDWSortDescriptor byStartTime(bool ascending)
{
    return TDWSortDescriptor(QStringLiteral("iterationStartTime"), ascending);
}

std::optional<QList<TDWBackupIteration::Ptr>> iterations(TDWEntityFetch &fetch, const QString &failureFormat)
{
    TDWError error;
    auto found = fetch.objects<TDWBackupIteration>(&error);
    if (!found)
        tdwLog(failureFormat.arg(error.description()));
    return found;
}

} // namespace

TDWBackupIteration::Ptr TDWBackupIteration::newWithMoc(TDWManagedObjectContext &moc)
{
    return moc.insertNew<TDWBackupIteration>(EntityName);
}

std::optional<QList<TDWBackupIteration::Ptr>> TDWBackupIteration::allCompleteSinceReferenceDate(const QDateTime &date,
                                                                                                TDWManagedObjectContext &moc)
{
    return iterations(TDWEntityFetch(moc, EntityName)
                     .where(SnapshotPredicate + QStringLiteral(" and iterationStartTime > %@"), {date})
                     .sortedBy({byStartTime(true)}),
                 QStringLiteral("ERROR: [TDWBackupIteration all...] -- NSError error: %1"));
}

std::optional<QList<TDWBackupIteration::Ptr>> TDWBackupIteration::allComplete(TDWManagedObjectContext &moc)
{
    return iterations(TDWEntityFetch(moc, EntityName).where(SnapshotPredicate).sortedBy({byStartTime(true)}),
                 QStringLiteral("ERROR: [TDWBackupIteration all...] -- NSError error: %1"));
}

std::optional<QList<TDWBackupIteration::Ptr>> TDWBackupIteration::allSnapshots(TDWManagedObjectContext &moc)
{
    return iterations(TDWEntityFetch(moc, EntityName).where(SnapshotPredicate).sortedBy({byStartTime(true)}),
                 QStringLiteral("ERROR: Unable to list snapshots: %1"));
}

bool TDWBackupIteration::hasAtLeastOneShapshot(TDWManagedObjectContext &moc)
{
    TDWError error;
    const qint64 count = TDWEntityFetch(moc, EntityName).where(QStringLiteral("outdated = 0")).count(&error);
    if (count == TDWManagedObjectContext::NotFound) {
        tdwLog(QStringLiteral("ERROR: Unable to determine if there is at least one snapshot: %1").arg(error.description()));
        return false;
    }
    return count > 0;
}

std::optional<QList<TDWBackupIteration::Ptr>> TDWBackupIteration::backupIterationsNotOutdatedBefore(const QDateTime &date,
                                                                                                    TDWManagedObjectContext &moc)
{
    return iterations(TDWEntityFetch(moc, EntityName).where(QStringLiteral("outdated = 0 and iterationStartTime < %@"), {date}),
                 QStringLiteral("ERROR: [TDWBackupIteration backupIterationsNotOutdatedBefore...] -- NSError error: %1"));
}

TDWBackupIteration::Ptr TDWBackupIteration::latestBackupIteration(TDWManagedObjectContext &moc, TDWError *error)
{
    const QString url = TDWUserDefaults::standard()->stringForKey(TDWSettingsKeys::LatestBackupIterationUrl);
    if (!url.isEmpty()) {
        const TDWManagedObjectID id = moc.persistentStoreCoordinator()->managedObjectIDForURIRepresentation(QUrl(url));
        if (!id.isNull() && id.entityName() == EntityName) {
            TDWError ignored; // a vanished iteration falls back to the newest one below
            if (TDWManagedObjectPtr named = moc.existingObjectWithID(id, &ignored))
                return std::static_pointer_cast<TDWBackupIteration>(named);
        }
    }
    TDWError failure;
    const auto newest = TDWEntityFetch(moc, EntityName).sortedBy({byStartTime(false)}).limit(1).objects<TDWBackupIteration>(&failure);
    if (!newest) {
        tdwLog(QStringLiteral("ERROR: [TDWBackupIteration latestBackupIteration...] -- NSError error: %1").arg(failure.description()));
        tdwSetError(error, failure);
        return nullptr;
    }
    return newest->isEmpty() ? nullptr : newest->first();
}
