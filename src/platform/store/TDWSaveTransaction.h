#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/store/TDWManagedObject.h"
#include "platform/store/TDWPersistentStore.h"
#include "platform/store/TDWSqliteTransaction.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class TDWManagedObjectContext;
class TDWEntityDescription;

// Writes a context's changes: checks them (delete rules Deny, links between stores,
// read-only stores), then, holding every touched store's write lock in a fixed order,
// writes each store in one transaction (inserts with reserved row ids, the changed
// columns of changed objects, deletes), checks that no row is left pointing at a
// deleted row, and commits. Metadata the context set for a store is written in
// that store's transaction. Only after every commit does the context learn the new
// identifiers and forget the changes, so a failed save leaves it as it was.
class TDWSaveTransaction
{
public:
    explicit TDWSaveTransaction(TDWManagedObjectContext &context);
    bool run(TDWError *error);

    // Reserves row ids for inserts whose stores are resolved, in short transactions of
    // their own; the reserved ids are never given to any other row.
    static bool reserveRowIds(const QList<TDWManagedObjectPtr> &objects, QHash<TDWManagedObjectID, TDWManagedObjectID> *permanentIDs,
                              TDWError *error);

private:
    struct StoreWork
    {
        TDWPersistentStorePtr store;
        TDWPersistentStore::Lease connection;
        std::optional<TDWSqliteTransaction> transaction; // after the connection: ends before it goes back
        QList<TDWManagedObjectPtr> inserted;
        QList<TDWManagedObjectPtr> updated;
        QList<TDWManagedObjectPtr> deleted;
        QVariantMap metadata;
    };

    void notifyWillSave();
    bool validate(TDWError *error);
    bool validateLinks(const TDWManagedObjectPtr &object, TDWError *error);
    bool validateDeleteRules(const TDWManagedObjectPtr &object, TDWError *error);
    bool writeStore(StoreWork &work, TDWError *error);
    bool insertRows(StoreWork &work, TDWError *error);
    bool updateRows(StoreWork &work, TDWError *error);
    bool deleteRows(StoreWork &work, TDWError *error);
    // The UPDATE of the entity's changed slots; made once per save for each set
    // of slots (the rows of a save change in few patterns).
    const QString &updateSql(const TDWEntityDescription &entity, const QList<int> &changed);
    void bindSlots(class TDWSqliteStatement &statement, int &index, const TDWManagedObject &object, const QList<int> &slotList);
    qint64 rowIdFor(const TDWManagedObjectID &id) const;
    static bool reserveInTransaction(TDWSqliteConnection &connection, const QList<TDWManagedObjectPtr> &objects, const QString &storeIdentifier,
                                     QHash<TDWManagedObjectID, TDWManagedObjectID> *permanentIDs, TDWError *error);
    void finish();

    TDWManagedObjectContext &m_context;
    QList<TDWManagedObjectPtr> m_inserted;
    QList<TDWManagedObjectPtr> m_updated;
    QList<TDWManagedObjectPtr> m_deleted;
    std::vector<StoreWork> m_work;
    QHash<TDWManagedObjectID, TDWManagedObjectID> m_permanentIDs;
    QHash<QPair<const TDWEntityDescription *, QList<int>>, QString> m_updateSql;
};
