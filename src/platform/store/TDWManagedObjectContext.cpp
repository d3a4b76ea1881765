#include "platform/store/TDWManagedObjectContext.h"

#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWFetchExecutor.h"
#include "platform/store/TDWManagedObjectModel.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"
#include "platform/store/TDWSaveTransaction.h"
#include "platform/store/TDWSqliteStatement.h"
#include "platform/store/TDWStoreError.h"
#include "platform/store/TDWStoreSchema.h"

#include <algorithm>

namespace {

// Row ids per "IN (json_each(?))" query when loading many rows.
constexpr int RowsPerBatch = 500;

QString jsonArray(const QList<qint64> &values, qsizetype from, qsizetype count)
{
    QString text = QStringLiteral("[");
    for (qsizetype i = from; i < from + count; ++i) {
        if (i > from)
            text += QLatin1Char(',');
        text += QString::number(values[i]);
    }
    return text + QLatin1Char(']');
}

} // namespace

QList<TDWManagedObjectPtr> TDWManagedObjectContext::sortedByInsertion(const QHash<TDWManagedObject *, TDWManagedObjectPtr> &set)
{
    QList<TDWManagedObjectPtr> objects = set.values();
    std::sort(objects.begin(), objects.end(), [](const auto &a, const auto &b) { return a->m_insertOrder < b->m_insertOrder; });
    return objects;
}

TDWManagedObjectContext::TDWManagedObjectContext(std::shared_ptr<TDWPersistentStoreCoordinator> coordinator)
    : m_coordinator(std::move(coordinator))
    , m_model(m_coordinator->model())
{
}

TDWManagedObjectContext::~TDWManagedObjectContext()
{
    reset();
}

TDWManagedObjectPtr TDWManagedObjectContext::registeredObject(const TDWManagedObjectID &id) const
{
    auto it = m_registered.constFind(id);
    return it == m_registered.constEnd() ? nullptr : it->lock();
}

void TDWManagedObjectContext::registerObject(const TDWManagedObjectPtr &object)
{
    m_registered.insert(object->m_id, object);
}

void TDWManagedObjectContext::objectDestroyed(TDWManagedObject *object)
{
    auto it = m_registered.find(object->m_id);
    if (it != m_registered.end() && it->expired())
        m_registered.erase(it);
}

void TDWManagedObjectContext::detach(TDWManagedObject *object)
{
    object->m_context = nullptr;
    object->m_destinations.clear();
}

void TDWManagedObjectContext::objectDidChange(TDWManagedObject *object)
{
    if (object->m_inserted || object->m_deleted)
        return;
    if (object->m_changed.count(true) > 0)
        m_updated.insert(object, object->shared_from_this());
    else
        m_updated.remove(object);
}

TDWManagedObjectPtr TDWManagedObjectContext::insertNewObject(const QString &entityName, const TDWPersistentStorePtr &store)
{
    const TDWEntityDescription *entity = m_model->entity(entityName);
    if (!entity) {
        tdwLog(QStringLiteral("ERROR: No entity \"%1\" in the model").arg(entityName));
        return nullptr;
    }
    TDWManagedObjectPtr object = entity->newObject();
    object->m_context = this;
    object->m_entity = entity;
    object->m_id = TDWManagedObjectID::temporary(entity->name());
    object->m_inserted = true;
    object->m_fault = false;
    object->m_insertOrder = m_nextInsertOrder++;
    object->m_values = QList<QVariant>(entity->slotCount());
    for (const TDWAttributeDescription &attribute : entity->attributes())
        object->m_values[attribute.slot] = attribute.options.defaultValue;
    registerObject(object);
    m_inserted.insert(object.get(), object);
    if (store && !assignObjectToStore(object, store))
        tdwLog(QStringLiteral("ERROR: The store %1 does not hold %2").arg(store->path(), entityName));
    object->awakeFromInsert();
    return object;
}

bool TDWManagedObjectContext::assignObjectToStore(const TDWManagedObjectPtr &object, const TDWPersistentStorePtr &store, TDWError *error)
{
    if (!object || !object->m_inserted || object->m_context != this || !object->m_id.isTemporaryID()) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::InvalidArgument, QStringLiteral("Only unsaved inserts of this context can be assigned")));
        return false;
    }
    if (!store || !store->holdsEntity(object->entity()) || !m_coordinator->persistentStoreForIdentifier(store->identifier())) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::StoreNotFound, QStringLiteral("The store does not hold %1").arg(object->entity().name())));
        return false;
    }
    object->m_store = store;
    return true;
}

TDWPersistentStorePtr TDWManagedObjectContext::storeForID(const TDWManagedObjectID &id) const
{
    TDWPersistentStorePtr store = m_coordinator->persistentStoreForIdentifier(id.storeIdentifier());
    const TDWEntityDescription *entity = m_model->entity(id.entityName());
    return store && entity && store->holdsEntity(*entity) ? store : nullptr;
}

TDWManagedObjectPtr TDWManagedObjectContext::objectWithID(const TDWManagedObjectID &id)
{
    if (id.isNull())
        return nullptr;
    if (TDWManagedObjectPtr registered = registeredObject(id))
        return registered;
    if (id.isTemporaryID())
        return nullptr;
    TDWPersistentStorePtr store = storeForID(id);
    if (!store)
        return nullptr;
    const TDWEntityDescription *entity = m_model->entity(id.entityName());
    TDWManagedObjectPtr object = entity->newObject();
    object->m_context = this;
    object->m_entity = entity;
    object->m_id = id;
    object->m_store = store;
    registerObject(object);
    return object;
}

TDWManagedObjectPtr TDWManagedObjectContext::existingObjectWithID(const TDWManagedObjectID &id, TDWError *error)
{
    TDWManagedObjectPtr object = objectWithID(id);
    if (!object) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::ObjectNotFound,
                                               QStringLiteral("No object for %1").arg(id.uriRepresentation().toString())));
        return nullptr;
    }
    if (object->m_deleted && !object->m_context) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::ObjectNotFound, QStringLiteral("The object has been deleted")));
        return nullptr;
    }
    if (object->m_fault && !fulfillFault(object.get(), error))
        return nullptr;
    return object;
}

std::optional<QList<TDWManagedObjectPtr>> TDWManagedObjectContext::existingObjectsWithIDs(const QList<TDWManagedObjectID> &ids, TDWError *error)
{
    // Group the ids that need a load by store and entity, then load each group at once.
    QHash<QPair<QString, QString>, QList<qint64>> toLoad;
    for (const TDWManagedObjectID &id : ids) {
        TDWManagedObjectPtr registered = registeredObject(id);
        if ((registered && !registered->m_fault) || id.isNull() || id.isTemporaryID())
            continue;
        toLoad[{id.storeIdentifier(), id.entityName()}].append(id.rowId());
    }
    QList<TDWManagedObjectPtr> loaded; // keeps the new objects alive until the result holds them
    for (auto it = toLoad.constBegin(); it != toLoad.constEnd(); ++it) {
        TDWPersistentStorePtr store = storeForID(TDWManagedObjectID::permanent(it.key().first, it.key().second, 1));
        if (!store)
            continue;
        const TDWEntityDescription &entity = *m_model->entity(it.key().second);
        const bool ok = loadRows(entity, store, it.value(),
                                 [&](qint64, const TDWSqliteStatement &row) { loaded.append(objectForRow(entity, store, row, 0)); }, error);
        if (!ok)
            return std::nullopt;
    }
    QList<TDWManagedObjectPtr> result;
    result.reserve(ids.size());
    for (const TDWManagedObjectID &id : ids) {
        TDWManagedObjectPtr object = registeredObject(id);
        if (object && !object->m_fault && !(object->m_deleted && !object->m_context))
            result.append(object);
    }
    return result;
}

bool TDWManagedObjectContext::loadRows(const TDWEntityDescription &entity, const TDWPersistentStorePtr &store, const QList<qint64> &rowIds,
                                       const std::function<void(qint64, const TDWSqliteStatement &)> &onRow, TDWError *error)
{
    if (rowIds.isEmpty())
        return true;
    TDWPersistentStore::Lease connection = store->acquire(error);
    if (!connection.isValid())
        return false;
    const QString single = QStringLiteral("SELECT %1 FROM %2 AS t WHERE t.pk = ?").arg(entity.selectListSql(),
                                                                                          TDWStoreSchema::tableName(entity));
    const QString many = QStringLiteral("SELECT %1 FROM %2 AS t WHERE t.pk IN (SELECT value FROM json_each(?))")
                             .arg(entity.selectListSql(), TDWStoreSchema::tableName(entity));
    for (qsizetype from = 0; from < rowIds.size(); from += RowsPerBatch) {
        const qsizetype count = std::min<qsizetype>(RowsPerBatch, rowIds.size() - from);
        TDWSqliteStatement statement = connection->prepare(count == 1 ? single : many, error);
        if (!statement.isValid())
            return false;
        if (count == 1)
            statement.bindInt64(1, rowIds[from]);
        else
            statement.bindText(1, jsonArray(rowIds, from, count));
        for (;;) {
            const TDWSqliteStatement::StepResult result = statement.step(error);
            if (result == TDWSqliteStatement::Failed)
                return false;
            if (result == TDWSqliteStatement::Done)
                break;
            onRow(statement.int64At(0), statement);
        }
    }
    return true;
}

QList<QVariant> TDWManagedObjectContext::valuesForRow(const TDWEntityDescription &entity, const TDWPersistentStore &store,
                                                      const TDWSqliteStatement &row, int first) const
{
    QList<QVariant> values(entity.slotCount());
    for (int slot = 0; slot < entity.slotCount(); ++slot) {
        const int column = first + 1 + slot;
        const TDWEntityDescription::Slot &description = entity.slot(slot);
        if (description.attribute >= 0) {
            values[slot] = row.attributeValueAt(column, entity.attributes()[description.attribute].type);
        } else if (!row.isNull(column)) {
            const QString &destination = entity.relationships()[description.relationship].destinationEntity;
            values[slot] = QVariant::fromValue(TDWManagedObjectID::permanent(store.identifier(), destination, row.int64At(column)));
        }
    }
    return values;
}

TDWManagedObjectPtr TDWManagedObjectContext::objectForRow(const TDWEntityDescription &entity, const TDWPersistentStorePtr &store,
                                                          const TDWSqliteStatement &row, int first)
{
    const TDWManagedObjectID id = TDWManagedObjectID::permanent(store->identifier(), entity.name(), row.int64At(first));
    TDWManagedObjectPtr object = registeredObject(id);
    if (object && !object->m_fault)
        return object; // the context's copy wins until it is refreshed
    if (!object) {
        object = entity.newObject();
        object->m_context = this;
        object->m_entity = &entity;
        object->m_id = id;
        object->m_store = store;
        registerObject(object);
    }
    object->m_values = valuesForRow(entity, *store, row, first);
    object->m_fault = false;
    object->awakeFromFetch();
    return object;
}

bool TDWManagedObjectContext::fulfillFault(TDWManagedObject *object, TDWError *error)
{
    if (!object->m_fault)
        return true;
    if (!object->m_store) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::StoreNotFound, QStringLiteral("The object has no store")));
        return false;
    }
    bool found = false;
    const bool ok = loadRows(object->entity(), object->m_store, {object->m_id.rowId()},
                             [&](qint64, const TDWSqliteStatement &row) {
                                 object->m_values = valuesForRow(object->entity(), *object->m_store, row, 0);
                                 found = true;
                             },
                             error);
    if (!ok)
        return false;
    if (!found) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::ObjectNotFound,
                                               QStringLiteral("No row for %1").arg(object->m_id.uriRepresentation().toString())));
        return false;
    }
    object->m_fault = false;
    object->awakeFromFetch();
    return true;
}

void TDWManagedObjectContext::turnIntoFault(TDWManagedObject *object)
{
    m_updated.remove(object);
    object->clearChanges();
    object->m_values.clear();
    object->m_destinations.clear();
    object->m_fault = true;
    object->didTurnIntoFault();
}

void TDWManagedObjectContext::mergeCommittedValues(TDWManagedObject *object, const QList<QVariant> &committed)
{
    if (object->m_fault) {
        object->m_values = committed;
        object->m_fault = false;
        object->awakeFromFetch();
        return;
    }
    // Changed keys keep this context's values; the others take the store's.
    for (int slot = 0; slot < committed.size(); ++slot) {
        if (object->slotChanged(slot))
            continue;
        if (object->m_values[slot] != committed[slot] && object->m_destinations.size() > slot)
            object->m_destinations[slot].reset();
        object->m_values[slot] = committed[slot];
    }
    if (object->m_committed) {
        *object->m_committed = committed;
        for (int slot = 0; slot < committed.size(); ++slot)
            object->m_changed.setBit(slot, object->slotChanged(slot) && object->m_values[slot] != committed[slot]);
    }
    objectDidChange(object);
}

void TDWManagedObjectContext::refreshObject(const TDWManagedObjectPtr &object, bool mergeChanges)
{
    if (!object || object->m_context != this || object->m_inserted || object->m_deleted)
        return;
    if (!mergeChanges) {
        turnIntoFault(object.get());
        return;
    }
    TDWError error;
    QList<QVariant> committed;
    const bool ok = loadRows(object->entity(), object->m_store, {object->m_id.rowId()},
                             [&](qint64, const TDWSqliteStatement &row) { committed = valuesForRow(object->entity(), *object->m_store, row, 0); },
                             &error);
    if (!ok || committed.isEmpty()) {
        if (!ok)
            tdwLog(QStringLiteral("ERROR: Unable to refresh %1: %2").arg(object->m_id.uriRepresentation().toString(), error.localizedDescription()));
        return;
    }
    mergeCommittedValues(object.get(), committed);
}

QList<TDWManagedObjectPtr> TDWManagedObjectContext::toManyObjects(const TDWManagedObject *object, const TDWRelationshipDescription &relationship)
{
    const TDWEntityDescription &destination = *m_model->entity(relationship.destinationEntity);
    const int inverseSlot = destination.slotForKey(relationship.inverseName);
    const TDWManagedObjectID id = object->m_id;
    QList<TDWManagedObjectPtr> result;
    QSet<const TDWManagedObject *> seen;
    if (!id.isTemporaryID() && object->m_store) {
        TDWFetchRequest request(destination.name());
        request.setAffectedStores({object->m_store});
        request.setSqlCondition(QStringLiteral("t.%1 = ?").arg(TDWStoreSchema::quoted(relationship.inverseName)), {id.rowId()});
        TDWError error;
        std::optional<QList<TDWManagedObjectPtr>> stored = TDWFetchExecutor(*this, request).objects(&error);
        if (!stored)
            tdwLog(QStringLiteral("ERROR: Unable to read %1.%2: %3").arg(object->entity().name(), relationship.name, error.localizedDescription()));
        for (const TDWManagedObjectPtr &candidate : stored.value_or(QList<TDWManagedObjectPtr>())) {
            // The row says it points here; this context may have pointed it elsewhere.
            if (candidate->m_values.value(inverseSlot).value<TDWManagedObjectID>() == id) {
                result.append(candidate);
                seen.insert(candidate.get());
            }
        }
    }
    // Unsaved changes of this context that point destinations here.
    QList<TDWManagedObjectPtr> pending = sortedByInsertion(m_inserted);
    pending.append(m_updated.values());
    for (const TDWManagedObjectPtr &candidate : std::as_const(pending)) {
        if (&candidate->entity() != &destination || seen.contains(candidate.get()))
            continue;
        if (candidate->m_values.value(inverseSlot).value<TDWManagedObjectID>() == id) {
            result.append(candidate);
            seen.insert(candidate.get());
        }
    }
    return result;
}

std::optional<QList<TDWManagedObjectPtr>> TDWManagedObjectContext::executeFetchRequest(const TDWFetchRequest &request, TDWError *error)
{
    return TDWFetchExecutor(*this, request).objects(error);
}

std::optional<QList<TDWManagedObjectID>> TDWManagedObjectContext::executeIDFetchRequest(const TDWFetchRequest &request, TDWError *error)
{
    return TDWFetchExecutor(*this, request).objectIDs(error);
}

std::optional<QList<QVariantMap>> TDWManagedObjectContext::executeDictionaryFetchRequest(const TDWFetchRequest &request, TDWError *error)
{
    return TDWFetchExecutor(*this, request).dictionaries(error);
}

qint64 TDWManagedObjectContext::countForFetchRequest(const TDWFetchRequest &request, TDWError *error)
{
    return TDWFetchExecutor(*this, request).count(error);
}

bool TDWManagedObjectContext::executeSql(const TDWPersistentStorePtr &store, const QString &sql, const QVariantList &bindings,
                                         const std::function<bool(const TDWSqliteStatement &)> &onRow, TDWError *error)
{
    if (!store) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::StoreNotFound, QStringLiteral("No store given")));
        return false;
    }
    TDWPersistentStore::Lease connection = store->acquire(error);
    if (!connection.isValid())
        return false;
    TDWSqliteStatement statement = connection->prepare(sql, error);
    if (!statement.isValid())
        return false;
    for (int i = 0; i < bindings.size(); ++i)
        statement.bindValue(i + 1, bindings[i]);
    for (;;) {
        const TDWSqliteStatement::StepResult result = statement.step(error);
        if (result == TDWSqliteStatement::Failed)
            return false;
        if (result == TDWSqliteStatement::Done || (onRow && !onRow(statement)))
            return true;
    }
}

std::optional<QList<TDWManagedObjectPtr>> TDWManagedObjectContext::objectsForSql(const QString &entityName, const TDWPersistentStorePtr &store,
                                                                                 const QString &sql, const QVariantList &bindings, TDWError *error)
{
    const TDWEntityDescription *entity = m_model->entity(entityName);
    if (!entity || !store || !store->holdsEntity(*entity)) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::InvalidArgument, QStringLiteral("The store does not hold \"%1\"").arg(entityName)));
        return std::nullopt;
    }
    QList<TDWManagedObjectID> ids;
    const bool ok = executeSql(store, sql, bindings,
                               [&](const TDWSqliteStatement &row) {
                                   ids.append(TDWManagedObjectID::permanent(store->identifier(), entity->name(), row.int64At(0)));
                                   return true;
                               },
                               error);
    if (!ok)
        return std::nullopt;
    return existingObjectsWithIDs(ids, error);
}

void TDWManagedObjectContext::deleteObject(const TDWManagedObjectPtr &object)
{
    if (!object || object->m_context != this || object->m_deleted)
        return;
    objectWillChange(object.get());
    if (object->m_inserted) {
        // Never written: it simply leaves the context.
        m_inserted.remove(object.get());
        object->m_inserted = false;
    } else {
        object->fireFault();
        m_updated.remove(object.get());
        m_deleted.insert(object.get(), object);
    }
    object->m_deleted = true;
    const TDWEntityDescription &entity = object->entity();
    for (const TDWRelationshipDescription &relationship : entity.relationships()) {
        if (relationship.deleteRule == TDWDeleteRule::NoAction || relationship.deleteRule == TDWDeleteRule::Deny)
            continue;
        if (!relationship.toMany) {
            if (relationship.deleteRule == TDWDeleteRule::Cascade)
                deleteObject(object->objectValue(relationship.name));
            continue;
        }
        for (const TDWManagedObjectPtr &destination : toManyObjects(object.get(), relationship)) {
            if (relationship.deleteRule == TDWDeleteRule::Cascade)
                deleteObject(destination);
            else if (!destination->m_deleted)
                destination->setObjectValue(relationship.inverseName, nullptr);
        }
    }
    if (!object->m_inserted && !m_deleted.contains(object.get())) {
        m_registered.remove(object->m_id);
        detach(object.get());
    }
}

bool TDWManagedObjectContext::save(TDWError *error)
{
    if (!hasChanges()) {
        releaseSavepoint();
        return true;
    }
    const bool saved = TDWSaveTransaction(*this).run(error);
    if (saved)
        releaseSavepoint();
    return saved;
}

void TDWManagedObjectContext::setMetadataToSave(const TDWPersistentStorePtr &store, const QVariantMap &values)
{
    QVariantMap &pending = m_metadataToSave[store];
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        pending.insert(it.key(), it.value());
}

void TDWManagedObjectContext::rollback()
{
    releaseSavepoint();
    m_metadataToSave.clear();
    for (const TDWManagedObjectPtr &object : std::as_const(m_inserted)) {
        m_registered.remove(object->m_id);
        object->m_inserted = false;
        object->m_deleted = true;
        detach(object.get());
    }
    auto restore = [](TDWManagedObject *object) {
        if (object->m_committed)
            object->m_values = *object->m_committed;
        object->clearChanges();
        object->m_destinations.clear();
        object->m_deleted = false;
    };
    for (const TDWManagedObjectPtr &object : std::as_const(m_updated))
        restore(object.get());
    for (const TDWManagedObjectPtr &object : std::as_const(m_deleted))
        restore(object.get());
    m_inserted.clear();
    m_updated.clear();
    m_deleted.clear();
}

void TDWManagedObjectContext::reset()
{
    releaseSavepoint();
    m_metadataToSave.clear();
    // Detach first: releasing the sets may destroy objects, which must not call back.
    for (auto it = m_registered.constBegin(); it != m_registered.constEnd(); ++it)
        if (TDWManagedObjectPtr object = it->lock())
            detach(object.get());
    m_registered.clear();
    m_inserted.clear();
    m_updated.clear();
    m_deleted.clear();
}

void TDWManagedObjectContext::beginSavepoint()
{
    releaseSavepoint();
    m_savepointInsertOrder = m_nextInsertOrder;
}

void TDWManagedObjectContext::releaseSavepoint()
{
    m_savepointInsertOrder = 0;
    m_savepointImages.clear();
}

void TDWManagedObjectContext::objectWillChange(TDWManagedObject *object)
{
    if (m_savepointInsertOrder == 0 || object->m_insertOrder >= m_savepointInsertOrder || m_savepointImages.contains(object))
        return;
    object->fireFault();
    SavepointImage image;
    image.object = object->shared_from_this();
    image.id = object->m_id;
    image.store = object->m_store;
    image.values = object->m_values;
    if (object->m_committed)
        image.committed = *object->m_committed;
    image.changed = object->m_changed;
    image.inserted = object->m_inserted;
    image.deleted = object->m_deleted;
    image.attached = object->m_context == this;
    m_savepointImages.insert(object, std::move(image));
}

void TDWManagedObjectContext::rollbackToSavepoint()
{
    if (m_savepointInsertOrder == 0)
        return;
    // Inserted since the mark: dropped as rollback() drops every insert.
    for (auto it = m_inserted.begin(); it != m_inserted.end();) {
        TDWManagedObject *object = it.key();
        if (object->m_insertOrder < m_savepointInsertOrder) {
            ++it;
            continue;
        }
        m_registered.remove(object->m_id);
        object->m_inserted = false;
        object->m_deleted = true;
        detach(object);
        it = m_inserted.erase(it);
    }
    for (SavepointImage &image : m_savepointImages) {
        TDWManagedObject *object = image.object.get();
        m_inserted.remove(object);
        m_updated.remove(object);
        m_deleted.remove(object);
        object->m_id = image.id;
        object->m_store = image.store;
        object->m_values = std::move(image.values);
        object->m_committed = image.committed ? std::make_unique<QList<QVariant>>(std::move(*image.committed)) : nullptr;
        object->m_changed = image.changed;
        object->m_inserted = image.inserted;
        object->m_deleted = image.deleted;
        object->m_destinations.clear();
        if (!image.attached)
            continue;
        object->m_context = this;
        registerObject(image.object);
        if (object->m_inserted)
            m_inserted.insert(object, image.object);
        else if (object->m_deleted)
            m_deleted.insert(object, image.object);
        else if (object->m_changed.count(true) > 0)
            m_updated.insert(object, image.object);
    }
    releaseSavepoint();
}

bool TDWManagedObjectContext::hasChanges() const
{
    return !m_inserted.isEmpty() || !m_updated.isEmpty() || !m_deleted.isEmpty() || !m_metadataToSave.empty();
}

QList<TDWManagedObjectPtr> TDWManagedObjectContext::insertedObjects() const
{
    return sortedByInsertion(m_inserted);
}

QList<TDWManagedObjectPtr> TDWManagedObjectContext::updatedObjects() const
{
    return m_updated.values();
}

QList<TDWManagedObjectPtr> TDWManagedObjectContext::deletedObjects() const
{
    return m_deleted.values();
}

int TDWManagedObjectContext::registeredObjectCount() const
{
    return int(m_registered.size());
}

bool TDWManagedObjectContext::resolveStores(const QList<TDWManagedObjectPtr> &objects, TDWError *error)
{
    // Links decide first: an unassigned object joins the store of an object it points
    // at or that points at it, repeated until nothing more is learnt.
    QList<TDWManagedObject *> unassigned;
    for (const TDWManagedObjectPtr &object : objects)
        if (!object->m_store)
            unassigned.append(object.get());
    bool progress = true;
    while (progress && !unassigned.isEmpty()) {
        progress = false;
        for (TDWManagedObject *object : std::as_const(unassigned)) {
            for (int slot = 0; slot < object->m_values.size() && !object->m_store; ++slot) {
                if (object->entity().slot(slot).relationship < 0)
                    continue;
                const TDWManagedObjectID target = object->m_values[slot].value<TDWManagedObjectID>();
                if (target.isNull())
                    continue;
                if (TDWManagedObjectPtr destination = registeredObject(target); destination && destination->m_store)
                    object->m_store = destination->m_store;
                else if (!target.isTemporaryID())
                    object->m_store = storeForID(target);
            }
            if (object->m_store)
                continue;
            for (const TDWManagedObjectPtr &other : objects) {
                if (!other->m_store)
                    continue;
                for (int slot = 0; slot < other->m_values.size(); ++slot)
                    if (other->entity().slot(slot).relationship >= 0 && other->m_values[slot].value<TDWManagedObjectID>() == object->m_id)
                        object->m_store = other->m_store;
            }
        }
        const qsizetype before = unassigned.size();
        unassigned.removeIf([](TDWManagedObject *object) { return object->m_store != nullptr; });
        progress = unassigned.size() != before;
    }
    for (TDWManagedObject *object : std::as_const(unassigned)) {
        const QList<TDWPersistentStorePtr> stores = m_coordinator->persistentStoresForEntity(object->entity());
        if (stores.isEmpty()) {
            tdwSetError(error, TDWStoreError::make(TDWStoreError::StoreNotFound,
                                                   QStringLiteral("No store holds the entity \"%1\"").arg(object->entity().name())));
            return false;
        }
        object->m_store = stores.first();
    }
    return true;
}

void TDWManagedObjectContext::remapTemporaryIDs(const QHash<TDWManagedObjectID, TDWManagedObjectID> &permanentIDs)
{
    if (permanentIDs.isEmpty())
        return;
    for (auto it = permanentIDs.constBegin(); it != permanentIDs.constEnd(); ++it) {
        TDWManagedObjectPtr object = registeredObject(it.key());
        if (!object)
            continue;
        m_registered.remove(it.key());
        object->m_id = it.value();
        registerObject(object);
    }
    // Only objects with unsaved changes can point at an unsaved object.
    QList<TDWManagedObjectPtr> changed = m_inserted.values();
    changed.append(m_updated.values());
    for (const TDWManagedObjectPtr &object : std::as_const(changed)) {
        for (int slot = 0; slot < object->m_values.size(); ++slot) {
            if (object->entity().slot(slot).relationship < 0)
                continue;
            const TDWManagedObjectID target = object->m_values[slot].value<TDWManagedObjectID>();
            if (target.isTemporaryID())
                object->m_values[slot] = QVariant::fromValue(permanentIDs.value(target, target));
        }
    }
}

bool TDWManagedObjectContext::obtainPermanentIDsForObjects(const QList<TDWManagedObjectPtr> &objects, TDWError *error)
{
    QList<TDWManagedObjectPtr> pending;
    for (const TDWManagedObjectPtr &object : objects)
        if (object && object->m_context == this && object->m_inserted && object->m_id.isTemporaryID())
            pending.append(object);
    if (pending.isEmpty())
        return true;
    if (!resolveStores(pending, error))
        return false;
    QHash<TDWManagedObjectID, TDWManagedObjectID> permanentIDs;
    if (!TDWSaveTransaction::reserveRowIds(pending, &permanentIDs, error))
        return false;
    remapTemporaryIDs(permanentIDs);
    return true;
}

void TDWManagedObjectContext::mergeChangesFromSaveNotification(const TDWSaveNotification &notification)
{
    if (notification.sender == this)
        return;
    for (const TDWManagedObjectID &id : notification.deleted) {
        TDWManagedObjectPtr object = registeredObject(id);
        if (!object)
            continue;
        m_updated.remove(object.get());
        m_deleted.remove(object.get());
        m_registered.remove(id);
        object->m_deleted = true;
        object->clearChanges();
        detach(object.get());
    }
    // Reload the changed objects this context holds, one query per store and entity.
    QHash<QPair<QString, QString>, QList<qint64>> toReload;
    for (const TDWManagedObjectID &id : notification.updated) {
        TDWManagedObjectPtr object = registeredObject(id);
        if (object && !object->m_fault && !object->m_deleted)
            toReload[{id.storeIdentifier(), id.entityName()}].append(id.rowId());
    }
    for (auto it = toReload.constBegin(); it != toReload.constEnd(); ++it) {
        TDWPersistentStorePtr store = storeForID(TDWManagedObjectID::permanent(it.key().first, it.key().second, 1));
        if (!store)
            continue;
        const TDWEntityDescription &entity = *m_model->entity(it.key().second);
        TDWError error;
        const bool ok = loadRows(entity, store, it.value(),
                                 [&](qint64 rowId, const TDWSqliteStatement &row) {
                                     if (TDWManagedObjectPtr object = registeredObject(TDWManagedObjectID::permanent(store->identifier(), entity.name(), rowId)))
                                         mergeCommittedValues(object.get(), valuesForRow(entity, *store, row, 0));
                                 },
                                 &error);
        if (!ok)
            tdwLog(QStringLiteral("ERROR: Unable to merge saved changes: %1").arg(error.localizedDescription()));
    }
}
