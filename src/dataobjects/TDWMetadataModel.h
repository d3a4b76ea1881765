#pragma once

#include "platform/store/TDWManagedObjectModel.h"

#include <QString>

#include <functional>
#include <memory>

// The metadata model "v12": the entities of the master store (accounts, their
// service settings, backup iterations) and of the per-account-and-service
// stores (items, revisions, parent links, mail folders and items, setting
// history, data properties), with the classes their objects are made of.
// Built once per process and shared read-only by every coordinator.
class TDWMetadataModel
{
public:
    static inline const QString VersionIdentifier = QStringLiteral("v12");
    static inline const QString MasterConfiguration = QStringLiteral("master");
    static inline const QString AccountServiceConfiguration = QStringLiteral("accountservice");

    // The shared model; concurrent first callers build it once.
    static std::shared_ptr<const TDWManagedObjectModel> model();
    // A model built afresh; `extend` declares more before it is finalized (a
    // later layout with its step, say). Null when the declarations are inconsistent.
    static std::shared_ptr<const TDWManagedObjectModel> build(const std::function<void(TDWManagedObjectModel &model)> &extend);
};
