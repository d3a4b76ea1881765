#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/store/TDWManagedObjectModel.h"

#include <QString>

#include <functional>
#include <memory>

// Brings one store file from an earlier layout of its configuration to the
// model's current one, step by step (TDWStoreLayoutStep), and tells how a file
// stands before anyone opens it for writing: a file of a newer layout is only
// ever read, never changed, not even by the checkpoint a closing writer makes.
//
// Consecutive in-place steps commit in one transaction, so a kill or a failure
// leaves the file at its old version, whole. A rebuild step works on a copy
// ("<name>New.<suffix>" beside the file) that replaces the file by one rename;
// until then the file is as it was, and a failure removes the copy.
//
// The file must not be open in any coordinator while it is migrated.
class TDWStoreLayoutMigrator
{
public:
    TDWStoreLayoutMigrator(std::shared_ptr<const TDWManagedObjectModel> model, QString configuration, QString path);

    // Reads the file's metadata through a read-only connection. False when the
    // file cannot be read or holds no store metadata (NotAStore).
    bool inspect(TDWError *error);
    const QString &path() const { return m_path; }
    TDWStoreLayoutState state() const { return m_state; }
    // The file's layout number; 0 when unknown.
    int fileVersion() const { return m_fileVersion; }
    // Steps from the file's layout to the current one (0 unless Older).
    int pendingSteps() const;

    // Runs the pending steps in order, calling stepDone after each one.
    // Refuses a file that is not Older or Current (NewerLayout, IncompatibleVersion).
    bool migrate(const std::function<void()> &stepDone, TDWError *error);

    // Where a rebuild of the file at path is made.
    static QString rebuildPath(const QString &path);
    // Puts the store file at newPath in place of the one at path: both are
    // checkpointed and closed, side files left beside either are removed, then
    // one rename(2) installs the new file, so a kill leaves either file whole at
    // path and never a log beside it that belongs to the other.
    static bool replaceFile(const QString &newPath, const QString &path, TDWError *error);
    // Deletes a file and its side files if present (a leftover of an interrupted run).
    static void removeLeftover(const QString &path);

private:
    // Runs the in-place steps from the file's version up to the next rebuild step.
    bool runInPlace(const std::function<void()> &stepDone, TDWError *error);
    bool runRebuild(const TDWStoreLayoutStep &step, TDWError *error);
    // The layout keys of a file of that version.
    QVariantMap metadataOfVersion(int version) const;

    std::shared_ptr<const TDWManagedObjectModel> m_model;
    QString m_configuration;
    QString m_path;
    TDWStoreLayoutState m_state = TDWStoreLayoutState::Unknown;
    int m_fileVersion = 0;
};
