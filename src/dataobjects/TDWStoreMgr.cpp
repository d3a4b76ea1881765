#include "dataobjects/TDWStoreMgr.h"

#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMetadataModel.h"
#include "platform/foundation/TDWLog.h"

#include <QDir>
#include <QUuid>

namespace {

QString newStoreFilename()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QLatin1Char('.') + TDWStoreMgr::StoreExtension;
}

} // namespace

TDWStoreMgr::TDWStoreMgr(std::shared_ptr<TDWPersistentStoreCoordinator> coordinator, TDWPersistentStorePtr masterStore)
    : m_coordinator(std::move(coordinator))
    , m_masterStore(std::move(masterStore))
{
}

std::shared_ptr<TDWStoreMgr> TDWStoreMgr::initWithPersistentStoreCoordinator(std::shared_ptr<TDWPersistentStoreCoordinator> coordinator,
                                                                             TDWPersistentStorePtr masterStore)
{
    if (!coordinator)
        return nullptr;
    std::shared_ptr<TDWStoreMgr> manager(new TDWStoreMgr(std::move(coordinator), std::move(masterStore)));
    TDWManagedObjectContext moc(manager->m_coordinator);
    const auto accounts = TDWAccount::all(moc, nullptr);
    if (!accounts)
        return nullptr;
    for (const TDWAccount::Ptr &account : *accounts) {
        for (const auto &setting : account->serviceSettings()) {
            if (setting->storeFilename().isEmpty())
                continue; // made on first use
            if (!manager->storeForAccountUsername(account->username(), setting->service()))
                return nullptr;
        }
    }
    return manager;
}

TDWPersistentStorePtr TDWStoreMgr::storeForAccountUsername(const QString &username, const QString &service)
{
    std::lock_guard lock(m_mutex);
    if (const TDWPersistentStorePtr cached = m_storesByAccountUsernameService.value(username).value(service))
        return cached;
    return openStore(username, service);
}

TDWPersistentStorePtr TDWStoreMgr::openStore(const QString &username, const QString &service)
{
    // A private context: a failed save leaves nothing behind once it is gone.
    TDWManagedObjectContext moc(m_coordinator);
    TDWError error;
    const auto settings = TDWEntityFetch(moc, QStringLiteral("AccountServiceSetting"))
                              .where(QStringLiteral("account.username = %@ and service = %@"), {username, service})
                              .objects<TDWAccountServiceSetting>(&error);
    if (!settings) {
        tdwLog(QStringLiteral("ERROR: Unable to find store for account/service: %1").arg(error.description()));
        return nullptr;
    }
    if (settings->isEmpty())
        return nullptr;
    if (settings->size() > 1) {
        tdwLog(QStringLiteral("ERROR: Too many account service entities found for account/service."));
        return nullptr;
    }
    const TDWAccountServiceSetting::Ptr setting = settings->first();
    if (setting->storeFilename().isEmpty()) {
        setting->setStoreFilename(newStoreFilename());
        if (!moc.save(&error)) {
            tdwLog(QStringLiteral("ERROR: Unable to save store for account/username: %1").arg(error.description()));
            return nullptr;
        }
    }
    const QString path = pathForStoreFilename(setting->storeFilename());
    TDWPersistentStorePtr store = m_coordinator->persistentStoreForPath(path);
    if (!store)
        store = m_coordinator->addPersistentStore(TDWMetadataModel::AccountServiceConfiguration, path, {}, &error);
    if (!store) {
        // Not cached, so the next call tries again.
        tdwLog(QStringLiteral("ERROR: Unable to open store at %1: %2").arg(path, error.description()));
        return nullptr;
    }
    m_storesByAccountUsernameService[username].insert(service, store);
    return store;
}

QString TDWStoreMgr::pathForStoreFilename(const QString &fileName)
{
    return QDir(TDWFileMgr::auxiliaryStoresDir()).filePath(fileName);
}

std::optional<QList<TDWPersistentStorePtr>> TDWStoreMgr::allAccountServiceStores()
{
    TDWManagedObjectContext moc(m_coordinator);
    const auto accounts = TDWAccount::all(moc, nullptr);
    if (!accounts)
        return std::nullopt;
    QList<TDWPersistentStorePtr> stores;
    for (const TDWAccount::Ptr &account : *accounts)
        for (const auto &setting : account->serviceSettings())
            if (!setting->storeFilename().isEmpty())
                if (TDWPersistentStorePtr store = storeForAccountUsername(account->username(), setting->service()))
                    stores.append(store);
    return stores;
}

QList<TDWPersistentStorePtr> TDWStoreMgr::allAccountServiceStoresForAccountUsername(const QString &username)
{
    TDWManagedObjectContext moc(m_coordinator);
    const TDWAccount::Ptr account = TDWAccount::byUsername(username, moc, nullptr);
    QList<TDWPersistentStorePtr> stores;
    if (!account)
        return stores;
    for (const auto &setting : account->serviceSettings())
        if (!setting->storeFilename().isEmpty())
            if (TDWPersistentStorePtr store = storeForAccountUsername(username, setting->service()))
                stores.append(store);
    return stores;
}

std::optional<QList<TDWPersistentStorePtr>> TDWStoreMgr::allForService(const QString &service)
{
    TDWManagedObjectContext moc(m_coordinator);
    TDWError error;
    const auto settings = TDWEntityFetch(moc, QStringLiteral("AccountServiceSetting"))
                              .where(QStringLiteral("service = %@ and storeFilename != nil"), {service})
                              .objects<TDWAccountServiceSetting>(&error);
    if (!settings) {
        tdwLog(QStringLiteral("ERROR: Unable to find account service records in StoreMgr allForService: %1").arg(error.description()));
        return std::nullopt;
    }
    QList<TDWPersistentStorePtr> stores;
    for (const auto &setting : *settings) {
        const auto account = setting->account();
        if (account && !setting->storeFilename().isEmpty())
            if (TDWPersistentStorePtr store = storeForAccountUsername(account->username(), service))
                stores.append(store);
    }
    return stores;
}

void TDWStoreMgr::deleteStoresForUsername(const QString &username)
{
    std::lock_guard lock(m_mutex);
    m_storesByAccountUsernameService.remove(username);
    TDWManagedObjectContext moc(m_coordinator);
    const TDWAccount::Ptr account = TDWAccount::byUsername(username, moc, nullptr);
    if (account)
        deleteStoreFiles(storeFilenames(*account));
}

void TDWStoreMgr::deleteStores(const QString &username, const QStringList &storeFilenames)
{
    std::lock_guard lock(m_mutex);
    m_storesByAccountUsernameService.remove(username);
    deleteStoreFiles(storeFilenames);
}

QStringList TDWStoreMgr::storeFilenames(const TDWAccount &account)
{
    QStringList names;
    for (const auto &setting : account.serviceSettings())
        if (!setting->storeFilename().isEmpty())
            names.append(setting->storeFilename());
    return names;
}

void TDWStoreMgr::deleteStoreFiles(const QStringList &storeFilenames)
{
    for (const QString &fileName : storeFilenames) {
        const QString path = pathForStoreFilename(fileName);
        TDWError error;
        if (const TDWPersistentStorePtr store = m_coordinator->persistentStoreForPath(path); store && !m_coordinator->removePersistentStore(store, &error)) {
            tdwLog(QStringLiteral("ERROR: Unable to remove persistent store from persistent store coordinator: %1").arg(error.description()));
            continue;
        }
        // The -wal and -shm files go too: left behind, they would be replayed
        // into a fresh store created later under the same name.
        if (!TDWPersistentStoreCoordinator::deleteStoreFiles(path, &error))
            tdwLog(QStringLiteral("ERROR: Unable to delete store at %1: %2").arg(path, error.description()));
    }
}
