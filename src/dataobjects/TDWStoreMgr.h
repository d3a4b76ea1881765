#pragma once

#include "platform/store/TDWPersistentStore.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>
#include <optional>

class TDWAccount;

// Opens the per-account-and-service stores on the shared coordinator, names
// and creates their files (in the auxiliary stores folder, under the name kept
// in the account service setting), caches them per user name and service, and
// removes an account's stores and files. Safe to use from any thread.
class TDWStoreMgr
{
public:
    // Opens the store of every setting that already has a file; null when the
    // accounts cannot be fetched or one of those stores cannot be opened.
    static std::shared_ptr<TDWStoreMgr> initWithPersistentStoreCoordinator(std::shared_ptr<TDWPersistentStoreCoordinator> coordinator,
                                                                           TDWPersistentStorePtr masterStore);

    const std::shared_ptr<TDWPersistentStoreCoordinator> &persistentStoreCoordinator() const { return m_coordinator; }
    const TDWPersistentStorePtr &masterStore() const { return m_masterStore; }

    // The store of the account and service, opened (its file created and named
    // in the setting) on first use; null when there is no setting for them or
    // the store cannot be named or opened. The user name is matched exactly.
    TDWPersistentStorePtr storeForAccountUsername(const QString &username, const QString &service);
    // The stores of every setting with a file, accounts in user-name order; no
    // value when the accounts cannot be fetched. A store that cannot be opened is left out.
    std::optional<QList<TDWPersistentStorePtr>> allAccountServiceStores();
    // Empty for an unknown account.
    QList<TDWPersistentStorePtr> allAccountServiceStoresForAccountUsername(const QString &username);
    std::optional<QList<TDWPersistentStorePtr>> allForService(const QString &service);
    // Forgets the account's stores, removes them from the coordinator and deletes
    // their files with the SQLite side files. The account and its settings stay.
    void deleteStoresForUsername(const QString &username);
    // The same for stores named by their file names, for an account whose
    // record is already gone (take the names with storeFilenames() before).
    void deleteStores(const QString &username, const QStringList &storeFilenames);
    // The file names of the account's stores that have been made.
    static QStringList storeFilenames(const TDWAccount &account);

    // File name extension of account-and-service stores.
    static inline const QString StoreExtension = QStringLiteral("sqlite3");
    // Where the store file of that name (an AccountServiceSetting's storeFilename) lives.
    static QString pathForStoreFilename(const QString &fileName);

private:
    TDWStoreMgr(std::shared_ptr<TDWPersistentStoreCoordinator> coordinator, TDWPersistentStorePtr masterStore);
    TDWPersistentStorePtr openStore(const QString &username, const QString &service);
    void deleteStoreFiles(const QStringList &storeFilenames); // under m_mutex

    std::shared_ptr<TDWPersistentStoreCoordinator> m_coordinator;
    TDWPersistentStorePtr m_masterStore;
    std::mutex m_mutex; // guards the cache and the naming and adding of stores
    QHash<QString, QHash<QString, TDWPersistentStorePtr>> m_storesByAccountUsernameService;
};
