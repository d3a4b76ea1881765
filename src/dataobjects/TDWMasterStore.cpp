#include "dataobjects/TDWMasterStore.h"

#include "common/TDWFileMgr.h"
#include "dataobjects/TDWMetadataModel.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

TDWMasterStore &TDWMasterStore::shared()
{
    static TDWMasterStore instance;
    return instance;
}

std::shared_ptr<const TDWManagedObjectModel> TDWMasterStore::managedObjectModel() const
{
    {
        std::lock_guard lock(m_mutex);
        if (m_model)
            return m_model;
    }
    return TDWMetadataModel::model();
}

void TDWMasterStore::setManagedObjectModel(std::shared_ptr<const TDWManagedObjectModel> model)
{
    std::lock_guard lock(m_mutex);
    m_model = std::move(model);
}

std::shared_ptr<TDWPersistentStoreCoordinator> TDWMasterStore::persistentStoreCoordinatorMigrating(bool)
{
    const QString folder = applicationSupportFolder();
    if (!QFileInfo::exists(folder)) {
        TDWPrivateFiles::makeFolder(QFileInfo(folder).absolutePath());
        // A failure is logged and handed to the file layout's fatal handler,
        // which shows it and ends the application; opening still goes on.
        TDWFileMgr::createDir(folder);
    }
    const std::shared_ptr<const TDWManagedObjectModel> model = managedObjectModel();
    if (!model) {
        tdwLog(QStringLiteral("ERROR: exception: the metadata model cannot be built"));
        return nullptr;
    }
    auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(model);
    TDWError error;
    if (!coordinator->addPersistentStore(TDWMetadataModel::MasterConfiguration, TDWFileMgr::dataFilePath(), {}, &error)) {
        tdwLog(QStringLiteral("detail: %1").arg(error.localizedDescription()));
        return nullptr;
    }
    return coordinator;
}

std::shared_ptr<TDWPersistentStoreCoordinator> TDWMasterStore::persistentStoreCoordinator() const
{
    std::lock_guard lock(m_mutex);
    return m_coordinator;
}

void TDWMasterStore::setPersistentStoreCoordinator(std::shared_ptr<TDWPersistentStoreCoordinator> coordinator)
{
    std::lock_guard lock(m_mutex);
    m_coordinator = std::move(coordinator);
}

TDWPersistentStorePtr TDWMasterStore::masterStore() const
{
    const std::shared_ptr<TDWPersistentStoreCoordinator> coordinator = persistentStoreCoordinator();
    if (!coordinator)
        return nullptr;
    for (const TDWPersistentStorePtr &store : coordinator->persistentStores())
        if (store->configurationName() == TDWMetadataModel::MasterConfiguration)
            return store;
    return nullptr;
}

std::unique_ptr<TDWManagedObjectContext> TDWMasterStore::newMoc() const
{
    const std::shared_ptr<TDWPersistentStoreCoordinator> coordinator = persistentStoreCoordinator();
    return coordinator ? std::make_unique<TDWManagedObjectContext>(coordinator) : nullptr;
}

TDWManagedObjectID TDWMasterStore::objectIdForUrl(const QUrl &url) const
{
    const std::shared_ptr<TDWPersistentStoreCoordinator> coordinator = persistentStoreCoordinator();
    return coordinator ? coordinator->managedObjectIDForURIRepresentation(url) : TDWManagedObjectID();
}

std::shared_ptr<TDWStoreMgr> TDWMasterStore::storeMgr() const
{
    std::lock_guard lock(m_mutex);
    return m_storeMgr;
}

void TDWMasterStore::setStoreMgr(std::shared_ptr<TDWStoreMgr> storeMgr)
{
    std::lock_guard lock(m_mutex);
    m_storeMgr = std::move(storeMgr);
}

QString TDWMasterStore::unableToReadCoreDataMsg()
{
    return QCoreApplication::translate("TDWMasterStore",
                                       "The backup database is either corrupt or was created by a newer version of Tidewell. "
                                       "Please write to support@tidewell.org for assistance with this issue.");
}

QString TDWMasterStore::applicationSupportFolder()
{
    return TDWFileMgr::defaultDataDir();
}

QString TDWMasterStore::oauthUserDir()
{
    return QDir(applicationSupportFolder()).filePath(QStringLiteral("oauthuserfiles"));
}

QString TDWMasterStore::quickLookFolder()
{
    return QDir(TDWFileMgr::defaultTempDir()).filePath(QStringLiteral("quicklook"));
}
