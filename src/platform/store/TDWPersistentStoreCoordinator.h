#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/store/TDWManagedObjectID.h"
#include "platform/store/TDWPersistentStore.h"
#include "platform/store/TDWSaveNotification.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QUrl>

#include <memory>
#include <shared_mutex>

class TDWManagedObjectModel;
class TDWEntityDescription;

// Holds the store files of one model: the master store, one per account and
// service, event stores. Shared by every thread; contexts made on it borrow the
// stores' connections. Adding a file creates its schema when the file is new.
class TDWPersistentStoreCoordinator : public QObject
{
    Q_OBJECT

public:
    explicit TDWPersistentStoreCoordinator(std::shared_ptr<const TDWManagedObjectModel> model);
    ~TDWPersistentStoreCoordinator() override;

    const std::shared_ptr<const TDWManagedObjectModel> &model() const { return m_model; }

    // Opens the file at path as a store of the configuration ("" = every entity),
    // creating it when it does not exist. Side files (-wal, -shm) left without their
    // store file are removed first, so they cannot be replayed into the new file.
    TDWPersistentStorePtr addPersistentStore(const QString &configuration, const QString &path,
                                             const TDWPersistentStore::Options &options, TDWError *error);
    // Forgets the store and closes its connections; the file stays.
    bool removePersistentStore(const TDWPersistentStorePtr &store, TDWError *error);
    // Removes the store at path from the coordinator if it holds one, then deletes the
    // file together with its -wal, -shm and -journal side files.
    bool destroyPersistentStoreAtPath(const QString &path, TDWError *error);
    // Deletes a store file and its side files (the side files first, so an interruption
    // never leaves a log behind without its store). A missing store file is an error.
    static bool deleteStoreFiles(const QString &path, TDWError *error);
    // Copies the store file at path into a single checked file at destination:
    // through the store's own connections when this coordinator holds it, else
    // with a connection of its own (TDWPersistentStore::copyToPath).
    bool copyStoreFileAtPath(const QString &path, const QString &destination, TDWError *error) const;
    // Whether the file name is that of a store's -wal, -shm or -journal side file.
    static bool isSideFileName(const QString &fileName);

    QList<TDWPersistentStorePtr> persistentStores() const;
    TDWPersistentStorePtr persistentStoreForPath(const QString &path) const;
    TDWPersistentStorePtr persistentStoreForIdentifier(const QString &identifier) const;
    // Stores that hold the entity, in the order they were added.
    QList<TDWPersistentStorePtr> persistentStoresForEntity(const TDWEntityDescription &entity) const;

    // The identifier named by a URI, when it names an entity of a store this
    // coordinator holds; a null identifier otherwise.
    TDWManagedObjectID managedObjectIDForURIRepresentation(const QUrl &uri) const;

    // The metadata of a store file (configuration, identifier, model version and hashes,
    // and the caller's keys), read without opening it as a store.
    static QVariantMap metadataForStoreAtPath(const QString &path, TDWError *error);

    // Tells every observer that a context saved; called by contexts after a save.
    void postSaveNotification(const TDWSaveNotification &notification);

signals:
    // Emitted on the saving thread; connect with Qt::QueuedConnection to merge on
    // another context's thread.
    void contextDidSave(const TDWSaveNotification &notification);

private:
    std::shared_ptr<const TDWManagedObjectModel> m_model;
    mutable std::shared_mutex m_mutex; // guards the fields below
    QList<TDWPersistentStorePtr> m_stores;
    QHash<QString, TDWPersistentStorePtr> m_storesByIdentifier;
};
