#pragma once

#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QMetaType>
#include <QStringList>

#include <memory>
#include <optional>

// What the upgrade window hands back to the application when it has finished.
struct TDWUpgradeResult
{
    // The coordinator of the migrated store; null when no store was migrated.
    std::shared_ptr<TDWPersistentStoreCoordinator> destPsc;
    // Every account's user name, when stored passwords were converted.
    std::optional<QStringList> allUsernames;
    // The accounts whose password could not be converted.
    QStringList failedOauthAccountUsernames;
};

Q_DECLARE_METATYPE(TDWUpgradeResult)
