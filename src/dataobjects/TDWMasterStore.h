#pragma once

#include "platform/store/TDWManagedObjectContext.h"
#include "platform/store/TDWManagedObjectID.h"
#include "platform/store/TDWManagedObjectModel.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QString>
#include <QUrl>

#include <memory>
#include <mutex>

class TDWStoreMgr;

// The application's metadata stores as one whole: the shared coordinator with
// the master store, the store manager over it, and a fresh context for every
// operation, thread and window. Reached from anywhere through shared(); the
// application opens it at start-up and keeps it for the whole run.
class TDWMasterStore
{
public:
    static TDWMasterStore &shared();

    // The metadata model the stores are opened with: TDWMetadataModel's, loaded
    // once per process, unless another was set.
    std::shared_ptr<const TDWManagedObjectModel> managedObjectModel() const;
    // Opens the stores with another model from now on (a later layout, to try an
    // upgrade before it ships); null goes back to the application's.
    void setManagedObjectModel(std::shared_ptr<const TDWManagedObjectModel> model);

    // Opens a coordinator with the master store (configuration "master") at
    // TDWFileMgr::dataFilePath(), creating the file when it does not exist; null
    // (the reasons logged as "detail: ..." lines) when it cannot be opened, e.g.
    // a file of an older model version, which the store migration then takes
    // over. Start-up passes false; a store is never migrated here either way.
    // The caller keeps the result with setPersistentStoreCoordinator().
    std::shared_ptr<TDWPersistentStoreCoordinator> persistentStoreCoordinatorMigrating(bool migrating);

    std::shared_ptr<TDWPersistentStoreCoordinator> persistentStoreCoordinator() const;
    void setPersistentStoreCoordinator(std::shared_ptr<TDWPersistentStoreCoordinator> coordinator);
    // The coordinator's store of configuration "master"; null without one.
    TDWPersistentStorePtr masterStore() const;

    // A new context on the shared coordinator, owned by the caller and used on
    // one thread only (in-memory changes win over the store's, property by
    // property); null while there is no coordinator.
    std::unique_ptr<TDWManagedObjectContext> newMoc() const;
    // The identifier a URI names, when it names an entity of a store of the
    // shared coordinator; a null identifier otherwise.
    TDWManagedObjectID objectIdForUrl(const QUrl &url) const;

    std::shared_ptr<TDWStoreMgr> storeMgr() const;
    // The store migration installs the manager over its new coordinator here.
    void setStoreMgr(std::shared_ptr<TDWStoreMgr> storeMgr);

    // What the user is told when the stores cannot be used.
    static QString unableToReadCoreDataMsg();
    // The application's folder in the user's data folder; not created here.
    static QString applicationSupportFolder();
    static QString oauthUserDir();
    // The previews' scratch folder in the user's cache folder; not created here.
    static QString quickLookFolder();

private:
    mutable std::mutex m_mutex; // guards the fields below
    std::shared_ptr<const TDWManagedObjectModel> m_model;
    std::shared_ptr<TDWPersistentStoreCoordinator> m_coordinator;
    std::shared_ptr<TDWStoreMgr> m_storeMgr;
};
