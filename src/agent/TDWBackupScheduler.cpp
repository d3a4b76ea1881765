#include "agent/TDWBackupScheduler.h"

TDWBackupScheduler::TDWBackupScheduler(QVariantMap config, std::shared_ptr<TDWPersistentStoreCoordinator> coordinator)
    : m_config(std::move(config))
    , m_coordinator(std::move(coordinator))
{
}

void TDWBackupScheduler::userRequestedImmediateBackup()
{
    ++m_immediateBackupRequests;
}
