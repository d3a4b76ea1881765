#pragma once

#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QVariantMap>

#include <atomic>
#include <memory>

// Runs the backups on its own timer. Made once, on the main thread, at the end
// of start-up, over the whole service table and the shared coordinator.
//
// Backup runs are not part of this program yet: the scheduler records that an
// immediate run was asked for and never reports a run in progress.
class TDWBackupScheduler
{
public:
    TDWBackupScheduler(QVariantMap config, std::shared_ptr<TDWPersistentStoreCoordinator> coordinator);

    // Asks for a run at once instead of at the next timer tick.
    void userRequestedImmediateBackup();
    // How often an immediate run has been asked for since creation.
    int immediateBackupRequests() const { return m_immediateBackupRequests; }

    // Whether a backup run is under way (read at quit).
    bool backupInProgress() const { return false; }

private:
    QVariantMap m_config;
    std::shared_ptr<TDWPersistentStoreCoordinator> m_coordinator;
    std::atomic<int> m_immediateBackupRequests = 0;
};
