#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/store/TDWFetchRequest.h"
#include "platform/store/TDWManagedObject.h"
#include "platform/store/TDWManagedObjectID.h"
#include "platform/store/TDWPersistentStore.h"
#include "platform/store/TDWSaveNotification.h"

#include <QBitArray>
#include <QHash>
#include <QList>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>

class TDWPersistentStoreCoordinator;
class TDWManagedObjectModel;
class TDWEntityDescription;
class TDWRelationshipDescription;
class TDWSqliteStatement;

// A scratch pad of objects over a coordinator, confined to the thread that uses it.
// It keeps one object per stored row (identity map; objects no one holds are
// released), tracks inserted, changed and deleted objects, and writes them with
// save(): one transaction per store touched, only the changed columns of changed
// objects, so concurrent changes of other properties by other contexts survive
// (in-memory changes win property by property).
class TDWManagedObjectContext
{
public:
    // The count fetch's answer when it fails.
    static constexpr qint64 NotFound = std::numeric_limits<qint64>::max();

    explicit TDWManagedObjectContext(std::shared_ptr<TDWPersistentStoreCoordinator> coordinator);
    ~TDWManagedObjectContext();
    TDWManagedObjectContext(const TDWManagedObjectContext &) = delete;
    TDWManagedObjectContext &operator=(const TDWManagedObjectContext &) = delete;

    const std::shared_ptr<TDWPersistentStoreCoordinator> &persistentStoreCoordinator() const { return m_coordinator; }
    const TDWManagedObjectModel &model() const { return *m_model; }

    // Inserts a new object of the entity, assigned to store when one is given. An
    // unassigned object goes, at save, to the store of an object it is linked with,
    // else to the first store that holds its entity. Null for an unknown entity.
    TDWManagedObjectPtr insertNewObject(const QString &entityName, const TDWPersistentStorePtr &store = {});
    template<class T>
    std::shared_ptr<T> insertNew(const QString &entityName, const TDWPersistentStorePtr &store = {})
    {
        return std::dynamic_pointer_cast<T>(insertNewObject(entityName, store));
    }
    // Assigns an inserted, unsaved object to a store that holds its entity.
    bool assignObjectToStore(const TDWManagedObjectPtr &object, const TDWPersistentStorePtr &store, TDWError *error = nullptr);

    // The object for an identifier: the registered one, or a fault that loads its
    // row on first access. Null for a null identifier, an unknown store or entity, or
    // a temporary identifier of another context.
    TDWManagedObjectPtr objectWithID(const TDWManagedObjectID &id);
    // The object for an identifier with its values loaded; null and ObjectNotFound when
    // its row does not exist.
    TDWManagedObjectPtr existingObjectWithID(const TDWManagedObjectID &id, TDWError *error);
    // Loads many objects with one query per store and entity; objects whose rows do
    // not exist are left out. The order of the identifiers is kept.
    std::optional<QList<TDWManagedObjectPtr>> existingObjectsWithIDs(const QList<TDWManagedObjectID> &ids, TDWError *error);

    std::optional<QList<TDWManagedObjectPtr>> executeFetchRequest(const TDWFetchRequest &request, TDWError *error);
    std::optional<QList<TDWManagedObjectID>> executeIDFetchRequest(const TDWFetchRequest &request, TDWError *error);
    // One map per row of the request's propertiesToFetch (dates as QDateTime, to-one
    // values as TDWManagedObjectID).
    std::optional<QList<QVariantMap>> executeDictionaryFetchRequest(const TDWFetchRequest &request, TDWError *error);
    // The number of objects the request would fetch (offset and limit applied); NotFound on failure.
    qint64 countForFetchRequest(const TDWFetchRequest &request, TDWError *error);

    // Runs hand-written SQL (a SELECT) on one store with a borrowed connection;
    // onRow is called per row and may stop the loop by returning false. Bindings follow
    // the storage convention. Unsaved changes of this context are not visible to it.
    bool executeSql(const TDWPersistentStorePtr &store, const QString &sql, const QVariantList &bindings,
                    const std::function<bool(const TDWSqliteStatement &row)> &onRow, TDWError *error);
    // Objects of an entity whose row ids the SQL returns in its first column, loaded
    // with one query per batch, in the SQL's order.
    std::optional<QList<TDWManagedObjectPtr>> objectsForSql(const QString &entityName, const TDWPersistentStorePtr &store,
                                                            const QString &sql, const QVariantList &bindings, TDWError *error);

    // Marks the object deleted and applies the delete rules of its relationships at once.
    void deleteObject(const TDWManagedObjectPtr &object);

    bool save(TDWError *error);
    // Metadata keys of a store that the next save writes in the same transaction
    // as the store's rows: a marker that must never be ahead of, nor behind, the
    // rows it describes. Keys set again replace earlier values; rollback() and
    // reset() forget them.
    void setMetadataToSave(const TDWPersistentStorePtr &store, const QVariantMap &values);
    // Forgets every unsaved change: inserts are dropped, changed and deleted objects
    // get their committed values back.
    void rollback();
    // Forgets every object; objects still held elsewhere are detached from the context.
    void reset();
    // mergeChanges: reload the committed values and keep this context's changes on top;
    // otherwise drop the changes and turn the object into a fault.
    void refreshObject(const TDWManagedObjectPtr &object, bool mergeChanges);

    // A savepoint marks the unsaved state so that one unit of changes (one
    // list entry, say) can be undone alone, keeping the changes made before
    // it. One at a time: beginSavepoint() replaces an open one; rollback,
    // release, save() and reset() end it. Each object records its state the
    // first time it changes after the mark, so a savepoint costs nothing for
    // objects it does not touch.
    void beginSavepoint();
    // Undoes every change since the mark: objects inserted since are dropped,
    // changed and deleted ones get their state at the mark back.
    void rollbackToSavepoint();
    // Keeps the changes and ends the savepoint.
    void releaseSavepoint();

    bool hasChanges() const;
    QList<TDWManagedObjectPtr> insertedObjects() const;
    QList<TDWManagedObjectPtr> updatedObjects() const;
    QList<TDWManagedObjectPtr> deletedObjects() const;
    int registeredObjectCount() const;

    // Gives inserted objects their permanent identifiers now (rows ids are reserved,
    // the objects still need a save).
    bool obtainPermanentIDsForObjects(const QList<TDWManagedObjectPtr> &objects, TDWError *error);

    // Applies another context's save: changed objects registered here are reloaded
    // with this context's changes kept on top, deleted ones are dropped.
    void mergeChangesFromSaveNotification(const TDWSaveNotification &notification);

private:
    friend class TDWManagedObject;
    friend class TDWFetchExecutor;
    friend class TDWSaveTransaction;

    static QList<TDWManagedObjectPtr> sortedByInsertion(const QHash<TDWManagedObject *, TDWManagedObjectPtr> &set);
    TDWManagedObjectPtr registeredObject(const TDWManagedObjectID &id) const;
    void registerObject(const TDWManagedObjectPtr &object);
    void objectDestroyed(TDWManagedObject *object);
    void detach(TDWManagedObject *object);
    void objectDidChange(TDWManagedObject *object);
    // Called before an object's values or state change, so an open savepoint can keep what it was.
    void objectWillChange(TDWManagedObject *object);

    // Materialises the row the statement is on (pk in column first, the slots after it).
    TDWManagedObjectPtr objectForRow(const TDWEntityDescription &entity, const TDWPersistentStorePtr &store,
                                     const TDWSqliteStatement &row, int first);
    // Reads the slot values of a row in the statement.
    QList<QVariant> valuesForRow(const TDWEntityDescription &entity, const TDWPersistentStore &store, const TDWSqliteStatement &row,
                                 int first) const;
    // Loads the rows of the given ids of one entity in one store (one query per 500).
    bool loadRows(const TDWEntityDescription &entity, const TDWPersistentStorePtr &store, const QList<qint64> &rowIds,
                  const std::function<void(qint64, const TDWSqliteStatement &)> &onRow, TDWError *error);
    bool fulfillFault(TDWManagedObject *object, TDWError *error);
    void mergeCommittedValues(TDWManagedObject *object, const QList<QVariant> &committed);
    void turnIntoFault(TDWManagedObject *object);

    TDWPersistentStorePtr storeForID(const TDWManagedObjectID &id) const;
    QList<TDWManagedObjectPtr> toManyObjects(const TDWManagedObject *object, const TDWRelationshipDescription &relationship);
    void remapTemporaryIDs(const QHash<TDWManagedObjectID, TDWManagedObjectID> &permanentIDs);
    // The store an unsaved insert will be written to: its own, one inferred from the
    // objects it is linked with, or the first that holds its entity.
    bool resolveStores(const QList<TDWManagedObjectPtr> &objects, TDWError *error);

    std::shared_ptr<TDWPersistentStoreCoordinator> m_coordinator;
    std::shared_ptr<const TDWManagedObjectModel> m_model;
    QHash<TDWManagedObjectID, std::weak_ptr<TDWManagedObject>> m_registered;
    QHash<TDWManagedObject *, TDWManagedObjectPtr> m_inserted;
    QHash<TDWManagedObject *, TDWManagedObjectPtr> m_updated;
    QHash<TDWManagedObject *, TDWManagedObjectPtr> m_deleted;
    qint64 m_nextInsertOrder = 1;

    // An object's state at the savepoint's mark.
    struct SavepointImage
    {
        TDWManagedObjectPtr object;
        TDWManagedObjectID id;
        TDWPersistentStorePtr store;
        QList<QVariant> values;
        std::optional<QList<QVariant>> committed;
        QBitArray changed;
        bool inserted = false;
        bool deleted = false;
        bool attached = false;
    };
    // Objects inserted at or after this order are new since the mark; 0 = no savepoint.
    qint64 m_savepointInsertOrder = 0;
    QHash<TDWManagedObject *, SavepointImage> m_savepointImages;
    std::map<TDWPersistentStorePtr, QVariantMap> m_metadataToSave;
};
