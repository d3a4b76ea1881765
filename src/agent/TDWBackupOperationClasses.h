#pragma once

#include "platform/foundation/TDWClassRegistry.h"
#include "platform/foundation/TDWOperation.h"

#include <QString>

// The per-service backup operations by the names the service table gives under
// "BackupOperationClass": made from the account's user name and the service id,
// and queued on a backup run's inner queue.
using TDWBackupOperationClasses = TDWClassRegistry<TDWOperation, const QString &, const QString &>;
