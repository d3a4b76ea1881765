#include "platform/store/TDWSaveTransaction.h"

#include "platform/foundation/TDWTestKillPoint.h"
#include "platform/store/TDWEntityDescription.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"
#include "platform/store/TDWSqlValueCodec.h"
#include "platform/store/TDWSqliteConnection.h"
#include "platform/store/TDWStoreError.h"
#include "platform/store/TDWStoreSchema.h"

#include <sqlite3.h>

#include <algorithm>

namespace {

// willSave may change further objects; their willSave runs in later passes, up to this many.
constexpr int MaxWillSavePasses = 8;

TDWError validationError(const QString &text)
{
    return TDWStoreError::make(TDWStoreError::Validation, text);
}

QString describe(const TDWManagedObject &object)
{
    return QStringLiteral("%1 %2").arg(object.entity().name(), object.objectID().uriRepresentation().toString());
}

} // namespace

TDWSaveTransaction::TDWSaveTransaction(TDWManagedObjectContext &context)
    : m_context(context)
{
}

void TDWSaveTransaction::notifyWillSave()
{
    QSet<TDWManagedObject *> notified;
    for (int pass = 0; pass < MaxWillSavePasses; ++pass) {
        QList<TDWManagedObjectPtr> due;
        for (const auto *set : {&m_context.m_inserted, &m_context.m_updated, &m_context.m_deleted})
            for (const TDWManagedObjectPtr &object : *set)
                if (!notified.contains(object.get()))
                    due.append(object);
        if (due.isEmpty())
            return;
        for (const TDWManagedObjectPtr &object : std::as_const(due)) {
            notified.insert(object.get());
            object->willSave();
        }
    }
}

bool TDWSaveTransaction::run(TDWError *error)
{
    notifyWillSave();
    m_inserted = m_context.insertedObjects();
    m_updated = m_context.updatedObjects();
    m_deleted = m_context.deletedObjects();
    if (!m_context.resolveStores(m_inserted, error) || !validate(error))
        return false;

    // One unit of work per store, in the global store order so that two saves never
    // wait for each other's locks in opposite orders.
    auto workFor = [this](const TDWPersistentStorePtr &store) -> StoreWork & {
        for (StoreWork &work : m_work)
            if (work.store == store)
                return work;
        m_work.push_back(StoreWork{store, {}, {}, {}, {}, {}, {}});
        return m_work.back();
    };
    for (const TDWManagedObjectPtr &object : std::as_const(m_inserted))
        workFor(object->persistentStore()).inserted.append(object);
    for (const TDWManagedObjectPtr &object : std::as_const(m_updated))
        workFor(object->persistentStore()).updated.append(object);
    for (const TDWManagedObjectPtr &object : std::as_const(m_deleted))
        workFor(object->persistentStore()).deleted.append(object);
    for (const auto &[store, metadata] : m_context.m_metadataToSave) {
        if (!store->canWriteMetadata(metadata, error))
            return false;
        workFor(store).metadata = metadata;
    }
    std::sort(m_work.begin(), m_work.end(), [](const StoreWork &a, const StoreWork &b) { return a.store->sequenceNumber() < b.store->sequenceNumber(); });

    std::vector<std::unique_lock<std::mutex>> locks;
    // Rolled back while the write locks are still held.
    auto abort = [this]() {
        for (StoreWork &work : m_work)
            work.transaction.reset();
        return false;
    };
    for (StoreWork &work : m_work) {
        work.connection = work.store->acquire(error);
        if (!work.connection.isValid())
            return abort();
        locks.emplace_back(work.store->writeMutex());
        work.transaction.emplace(*work.connection);
        if (!work.transaction->begin(error))
            return abort();
    }
    for (StoreWork &work : m_work) {
        if (!reserveInTransaction(*work.connection, work.inserted, work.store->identifier(), &m_permanentIDs, error))
            return abort();
    }
    for (StoreWork &work : m_work)
        if (!writeStore(work, error) || (!work.metadata.isEmpty() && !TDWStoreSchema::writeMetadata(*work.connection, work.metadata, error)))
            return abort();
    // Every store is checked before any commits, so a dangling link fails the whole save.
    for (StoreWork &work : m_work) {
        int pending = 0;
        int highWater = 0;
        sqlite3_db_status(work.connection->handle(), SQLITE_DBSTATUS_DEFERRED_FKS, &pending, &highWater, 0);
        if (pending != 0) {
            tdwSetError(error, validationError(QStringLiteral("The save would leave a row of %1 pointing at a deleted object").arg(work.store->path())));
            return abort();
        }
    }
    TDWTestKillPoint::beforeDurableWrite();
    for (StoreWork &work : m_work)
        if (!work.transaction->commit(error))
            return abort();
    for (StoreWork &work : m_work)
        work.store->rememberMetadata(work.metadata);
    m_context.m_metadataToSave.clear();
    m_work.clear();
    locks.clear();
    finish();
    return true;
}

bool TDWSaveTransaction::validate(TDWError *error)
{
    QList<TDWManagedObjectPtr> writing = m_inserted + m_updated + m_deleted;
    for (const TDWManagedObjectPtr &object : std::as_const(writing)) {
        const TDWPersistentStorePtr &store = object->persistentStore();
        if (store->isReadOnly()) {
            tdwSetError(error, TDWStoreError::make(TDWStoreError::ReadOnly, QStringLiteral("%1 is read-only").arg(store->path())));
            return false;
        }
        if (store->isRemoved()) {
            tdwSetError(error, TDWStoreError::make(TDWStoreError::StoreRemoved, QStringLiteral("%1 has been removed").arg(store->path())));
            return false;
        }
    }
    for (const TDWManagedObjectPtr &object : std::as_const(m_inserted))
        if (!validateLinks(object, error))
            return false;
    for (const TDWManagedObjectPtr &object : std::as_const(m_updated))
        if (!validateLinks(object, error))
            return false;
    for (const TDWManagedObjectPtr &object : std::as_const(m_deleted))
        if (!validateDeleteRules(object, error))
            return false;
    return true;
}

bool TDWSaveTransaction::validateLinks(const TDWManagedObjectPtr &object, TDWError *error)
{
    const TDWEntityDescription &entity = object->entity();
    for (int slot = 0; slot < entity.slotCount(); ++slot) {
        if (entity.slot(slot).relationship < 0)
            continue;
        const TDWManagedObjectID target = object->m_values[slot].value<TDWManagedObjectID>();
        if (target.isNull())
            continue;
        const TDWManagedObjectPtr destination = m_context.registeredObject(target);
        TDWPersistentStorePtr store = destination ? destination->persistentStore() : nullptr;
        if (!store && !target.isTemporaryID())
            store = m_context.storeForID(target);
        // An insert that was deleted again is no longer registered and has no store.
        if (!store) {
            tdwSetError(error, validationError(QStringLiteral("%1.%2 points at an object that will not be saved")
                                                   .arg(describe(*object), entity.keyForSlot(slot))));
            return false;
        }
        if (store != object->persistentStore()) {
            // Each store must stand on its own: a row never names a row of another file.
            tdwSetError(error, validationError(QStringLiteral("%1.%2 points at an object of another store")
                                                   .arg(describe(*object), entity.keyForSlot(slot))));
            return false;
        }
    }
    return true;
}

bool TDWSaveTransaction::validateDeleteRules(const TDWManagedObjectPtr &object, TDWError *error)
{
    for (const TDWRelationshipDescription &relationship : object->entity().relationships()) {
        if (relationship.deleteRule != TDWDeleteRule::Deny)
            continue;
        bool inUse = false;
        if (relationship.toMany) {
            for (const TDWManagedObjectPtr &destination : m_context.toManyObjects(object.get(), relationship))
                inUse = inUse || !destination->isDeleted();
        } else {
            const TDWManagedObjectPtr destination = object->objectValue(relationship.name);
            inUse = destination && !destination->isDeleted();
        }
        if (inUse) {
            tdwSetError(error, validationError(QStringLiteral("%1 cannot be deleted while \"%2\" is not empty").arg(describe(*object), relationship.name)));
            return false;
        }
    }
    return true;
}

bool TDWSaveTransaction::reserveInTransaction(TDWSqliteConnection &connection, const QList<TDWManagedObjectPtr> &objects,
                                              const QString &storeIdentifier, QHash<TDWManagedObjectID, TDWManagedObjectID> *permanentIDs,
                                              TDWError *error)
{
    // Count per entity, in insertion order, then take one range of ids per entity.
    QList<const TDWEntityDescription *> entities;
    QHash<const TDWEntityDescription *, QList<TDWManagedObjectPtr>> byEntity;
    for (const TDWManagedObjectPtr &object : objects) {
        if (!object->objectID().isTemporaryID())
            continue;
        if (!byEntity.contains(&object->entity()))
            entities.append(&object->entity());
        byEntity[&object->entity()].append(object);
    }
    for (const TDWEntityDescription *entity : std::as_const(entities)) {
        const QList<TDWManagedObjectPtr> &pending = byEntity[entity];
        TDWSqliteStatement reserve = connection.prepare(QStringLiteral("UPDATE sqlite_sequence SET seq = seq + ?1 WHERE name = ?2 RETURNING seq"), error);
        if (!reserve.isValid())
            return false;
        reserve.bindInt64(1, pending.size());
        reserve.bindText(2, entity->name());
        const TDWSqliteStatement::StepResult result = reserve.step(error);
        if (result != TDWSqliteStatement::Row) {
            if (result == TDWSqliteStatement::Done)
                tdwSetError(error, TDWStoreError::make(TDWStoreError::NotAStore, QStringLiteral("No row id sequence for \"%1\"").arg(entity->name())));
            return false;
        }
        const qint64 last = reserve.int64At(0);
        reserve.execute(error); // finishes the RETURNING statement
        qint64 next = last - pending.size() + 1;
        for (const TDWManagedObjectPtr &object : pending)
            permanentIDs->insert(object->objectID(), TDWManagedObjectID::permanent(storeIdentifier, entity->name(), next++));
    }
    return true;
}

bool TDWSaveTransaction::reserveRowIds(const QList<TDWManagedObjectPtr> &objects, QHash<TDWManagedObjectID, TDWManagedObjectID> *permanentIDs,
                                       TDWError *error)
{
    QHash<TDWPersistentStore *, QList<TDWManagedObjectPtr>> byStore;
    for (const TDWManagedObjectPtr &object : objects)
        byStore[object->persistentStore().get()].append(object);
    for (auto it = byStore.constBegin(); it != byStore.constEnd(); ++it) {
        const TDWPersistentStorePtr store = it.value().first()->persistentStore();
        if (store->isReadOnly()) {
            tdwSetError(error, TDWStoreError::make(TDWStoreError::ReadOnly, QStringLiteral("%1 is read-only").arg(store->path())));
            return false;
        }
        TDWPersistentStore::Lease connection = store->acquire(error);
        if (!connection.isValid())
            return false;
        std::lock_guard lock(store->writeMutex());
        TDWSqliteTransaction transaction(*connection);
        if (!transaction.begin(error) || !reserveInTransaction(*connection, it.value(), store->identifier(), permanentIDs, error)
            || !transaction.commit(error))
            return false;
    }
    return true;
}

qint64 TDWSaveTransaction::rowIdFor(const TDWManagedObjectID &id) const
{
    return id.isTemporaryID() ? m_permanentIDs.value(id).rowId() : id.rowId();
}

void TDWSaveTransaction::bindSlots(TDWSqliteStatement &statement, int &index, const TDWManagedObject &object, const QList<int> &slotList)
{
    const TDWEntityDescription &entity = object.entity();
    for (int slot : slotList) {
        const QVariant &value = object.m_values[slot];
        const TDWEntityDescription::Slot &description = entity.slot(slot);
        if (description.relationship >= 0) {
            if (value.isNull())
                statement.bindNull(index++);
            else
                statement.bindInt64(index++, rowIdFor(value.value<TDWManagedObjectID>()));
            continue;
        }
        const TDWAttributeDescription &attribute = entity.attributes()[description.attribute];
        statement.bindAttributeValue(index++, value, attribute.type);
        if (attribute.options.caseInsensitiveKey) {
            if (value.isNull())
                statement.bindNull(index++);
            else
                statement.bindText(index++, TDWSqlValueCodec::caseFolded(value.toString()));
        }
    }
}

bool TDWSaveTransaction::writeStore(StoreWork &work, TDWError *error)
{
    return insertRows(work, error) && updateRows(work, error) && deleteRows(work, error);
}

bool TDWSaveTransaction::insertRows(StoreWork &work, TDWError *error)
{
    // One statement per entity: rows of one entity are written together.
    QList<TDWManagedObjectPtr> inserted = work.inserted;
    std::stable_sort(inserted.begin(), inserted.end(),
                     [](const TDWManagedObjectPtr &a, const TDWManagedObjectPtr &b) { return a->entity().index() < b->entity().index(); });
    const TDWEntityDescription *entity = nullptr;
    TDWSqliteStatement insert;
    QList<int> allSlots;
    for (const TDWManagedObjectPtr &object : std::as_const(inserted)) {
        if (&object->entity() != entity) {
            entity = &object->entity();
            allSlots.clear();
            for (int slot = 0; slot < entity->slotCount(); ++slot)
                allSlots.append(slot);
            insert = work.connection->prepare(entity->insertSql(), error);
            if (!insert.isValid())
                return false;
        }
        int index = 1;
        insert.bindInt64(index++, rowIdFor(object->objectID()));
        bindSlots(insert, index, *object, allSlots);
        if (!insert.execute(error))
            return false;
    }
    return true;
}

bool TDWSaveTransaction::updateRows(StoreWork &work, TDWError *error)
{
    for (const TDWManagedObjectPtr &object : std::as_const(work.updated)) {
        const TDWEntityDescription &entity = object->entity();
        QList<int> changed;
        for (int slot = 0; slot < entity.slotCount(); ++slot) {
            if (object->slotChanged(slot))
                changed.append(slot);
        }
        if (changed.isEmpty())
            continue;
        TDWSqliteStatement update = work.connection->prepare(updateSql(entity, changed), error);
        if (!update.isValid())
            return false;
        int index = 1;
        bindSlots(update, index, *object, changed);
        update.bindInt64(index, object->objectID().rowId());
        if (!update.execute(error))
            return false;
        if (sqlite3_changes(work.connection->handle()) != 1) {
            // Another context deleted the row; writing the changes would resurrect nothing.
            tdwSetError(error, TDWStoreError::make(TDWStoreError::ObjectNotFound,
                                                   QStringLiteral("%1 was deleted before the save").arg(describe(*object))));
            return false;
        }
    }
    return true;
}

const QString &TDWSaveTransaction::updateSql(const TDWEntityDescription &entity, const QList<int> &changed)
{
    QString &sql = m_updateSql[qMakePair(&entity, changed)];
    if (sql.isEmpty()) {
        QStringList assignments;
        for (int slot : changed) {
            for (const QString &column : TDWStoreSchema::columnsForSlot(entity, slot))
                assignments.append(column + QStringLiteral(" = ?"));
        }
        sql = QStringLiteral("UPDATE %1 SET %2 WHERE pk = ?").arg(TDWStoreSchema::tableName(entity), assignments.join(QStringLiteral(", ")));
    }
    return sql;
}

bool TDWSaveTransaction::deleteRows(StoreWork &work, TDWError *error)
{
    for (const TDWManagedObjectPtr &object : std::as_const(work.deleted)) {
        TDWSqliteStatement remove =
            work.connection->prepare(QStringLiteral("DELETE FROM %1 WHERE pk = ?").arg(TDWStoreSchema::tableName(object->entity())), error);
        if (!remove.isValid())
            return false;
        remove.bindInt64(1, object->objectID().rowId());
        if (!remove.execute(error))
            return false;
    }
    return true;
}

void TDWSaveTransaction::finish()
{
    m_context.remapTemporaryIDs(m_permanentIDs);
    TDWSaveNotification notification;
    notification.sender = &m_context;
    for (const TDWManagedObjectPtr &object : std::as_const(m_inserted)) {
        object->m_inserted = false;
        object->clearChanges();
        notification.inserted.append(object->objectID());
    }
    for (const TDWManagedObjectPtr &object : std::as_const(m_updated)) {
        object->clearChanges();
        notification.updated.append(object->objectID());
    }
    for (const TDWManagedObjectPtr &object : std::as_const(m_deleted)) {
        object->clearChanges();
        m_context.m_registered.remove(object->objectID());
        m_context.detach(object.get());
        notification.deleted.append(object->objectID());
    }
    m_context.m_inserted.clear();
    m_context.m_updated.clear();
    m_context.m_deleted.clear();
    for (const QList<TDWManagedObjectPtr> *list : {&m_inserted, &m_updated, &m_deleted})
        for (const TDWManagedObjectPtr &object : *list)
            object->didSave();
    m_context.persistentStoreCoordinator()->postSaveNotification(notification);
}
