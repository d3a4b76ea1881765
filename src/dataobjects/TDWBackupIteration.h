#pragma once

#include "dataobjects/TDWMetadataObject.h"
#include "platform/foundation/TDWError.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

// One backup pass over all accounts. An iteration that has ended and is not
// outdated is a snapshot: a moment the user can look at and export from.
// Lives in the master store.
class TDWBackupIteration : public TDWMetadataObject
{
public:
    using Ptr = std::shared_ptr<TDWBackupIteration>;

    QDateTime iterationStartTime() const { return dateValue(QStringLiteral("iterationStartTime")); }
    void setIterationStartTime(const QDateTime &time) { setValue(QStringLiteral("iterationStartTime"), time); }
    QDateTime iterationEndTime() const { return dateValue(QStringLiteral("iterationEndTime")); }
    void setIterationEndTime(const QDateTime &time) { setValue(QStringLiteral("iterationEndTime"), time); }
    bool outdated() const { return boolValue(QStringLiteral("outdated")); }
    void setOutdated(bool outdated) { setValue(QStringLiteral("outdated"), outdated); }
    bool isSnapshot() const { return !outdated() && iterationEndTime().isValid(); }

    static Ptr newWithMoc(TDWManagedObjectContext &moc);
    // Snapshots started strictly after the date, by start time.
    static std::optional<QList<Ptr>> allCompleteSinceReferenceDate(const QDateTime &date, TDWManagedObjectContext &moc);
    static std::optional<QList<Ptr>> allComplete(TDWManagedObjectContext &moc);
    // What the snapshot chooser offers, by start time.
    static std::optional<QList<Ptr>> allSnapshots(TDWManagedObjectContext &moc);
    // Whether some iteration, ended or not, is not outdated. A failed count is
    // logged and answered NO: it proves nothing.
    static bool hasAtLeastOneShapshot(TDWManagedObjectContext &moc);
    // Iterations still counted as history that started before the date.
    static std::optional<QList<Ptr>> backupIterationsNotOutdatedBefore(const QDateTime &date, TDWManagedObjectContext &moc);
    // The iteration the newest backup run created (named by the user default,
    // else the greatest start time), ended or not; null when there is none.
    static Ptr latestBackupIteration(TDWManagedObjectContext &moc, TDWError *error);
};
