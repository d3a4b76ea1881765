#include "platform/store/TDWFetchExecutor.h"

#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "platform/store/TDWManagedObjectModel.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"
#include "platform/store/TDWSqlValueCodec.h"
#include "platform/store/TDWSqliteStatement.h"
#include "platform/store/TDWStorageValueComparator.h"
#include "platform/store/TDWStoreError.h"
#include "platform/store/TDWStoreSchema.h"
#include "platform/store/TDWStoreSqlSchema.h"

#include <algorithm>

namespace {

QString collationFor(TDWSortDescriptor::Comparison comparison)
{
    switch (comparison) {
    case TDWSortDescriptor::CaseInsensitive:
        return QStringLiteral(" COLLATE TDW_NOCASE");
    case TDWSortDescriptor::Localized:
        return QStringLiteral(" COLLATE TDW_LOCALIZED");
    case TDWSortDescriptor::LocalizedCaseInsensitive:
        return QStringLiteral(" COLLATE TDW_LOCALIZED_NOCASE");
    case TDWSortDescriptor::Compare:
        break;
    }
    return {};
}

TDWError invalid(const QString &text)
{
    return TDWStoreError::make(TDWStoreError::InvalidArgument, text);
}

} // namespace

TDWFetchExecutor::TDWFetchExecutor(TDWManagedObjectContext &context, const TDWFetchRequest &request)
    : m_context(context)
    , m_request(request)
{
}

bool TDWFetchExecutor::plan(TDWError *error)
{
    return resolve(error) && translatePredicate(error) && (!m_request.includesPendingChanges() || collectPendingChanges(error));
}

bool TDWFetchExecutor::resolve(TDWError *error)
{
    m_entity = m_context.model().entity(m_request.entityName());
    if (!m_entity) {
        tdwSetError(error, invalid(QStringLiteral("No entity \"%1\" in the model").arg(m_request.entityName())));
        return false;
    }
    const QList<TDWPersistentStorePtr> candidates = m_request.affectedStores().isEmpty()
                                                        ? m_context.persistentStoreCoordinator()->persistentStoresForEntity(*m_entity)
                                                        : m_request.affectedStores();
    for (const TDWPersistentStorePtr &store : candidates)
        if (store && store->holdsEntity(*m_entity) && !m_stores.contains(store))
            m_stores.append(store);
    for (const TDWSortDescriptor &descriptor : m_request.sortDescriptors()) {
        SortTerm term;
        if (!resolveSortTerm(descriptor, &term, error))
            return false;
        m_terms.append(term);
    }
    m_excluded = QList<QString>(m_stores.size());
    m_predicateSql = QList<TDWSqlFragment>(m_stores.size());
    return true;
}

bool TDWFetchExecutor::translatePredicate(TDWError *error)
{
    if (m_request.predicate().isNull())
        return true;
    // Translated per store: an object named in the predicate matches rows of its own store only.
    for (int source = 0; source < m_stores.size(); ++source) {
        const TDWStoreSqlSchema schema(m_context.model(), m_stores[source]->identifier());
        TDWError translationError;
        if (!m_request.predicate().toSql(schema, m_entity->name(), QStringLiteral("t"), &m_predicateSql[source], &translationError)) {
            tdwSetError(error, TDWStoreError::make(TDWStoreError::InvalidArgument,
                                                   QStringLiteral("The predicate \"%1\" does not apply to %2: %3")
                                                       .arg(m_request.predicate().predicateFormat(), m_entity->name(),
                                                            translationError.localizedDescription())));
            return false;
        }
    }
    return true;
}

// Rows deleted in the context are left out. So are rows of objects changed in
// it, unless the request has hand-written SQL: their current values are tested
// in memory instead, so a fetch sees the context's own changes.
bool TDWFetchExecutor::collectPendingChanges(TDWError *error)
{
    const bool testsInMemory = m_request.sqlCondition().isEmpty();
    QHash<int, QList<qint64>> excludedBySource;
    for (const TDWManagedObjectPtr &object : std::as_const(m_context.m_deleted)) {
        const int source = &object->entity() == m_entity ? int(m_stores.indexOf(object->persistentStore())) : -1;
        if (source >= 0)
            excludedBySource[source].append(object->objectID().rowId());
    }
    // A key the predicate requires to hold one value rules most objects out cheaply.
    const RequiredValue required = requiredValue();
    QList<TDWManagedObjectPtr> unsavedOrChanged;
    if (testsInMemory) {
        for (const TDWManagedObjectPtr &object : std::as_const(m_context.m_updated)) {
            const int source = &object->entity() == m_entity ? int(m_stores.indexOf(object->persistentStore())) : -1;
            if (source < 0)
                continue;
            // Ruled out by a key it has not changed: its stored row fails the same test in SQL.
            if (!required.admits(*object) && !object->slotChanged(required.slot))
                continue;
            excludedBySource[source].append(object->objectID().rowId());
            unsavedOrChanged.append(object);
        }
        // In any order: the merge sorts what matches by insertion order.
        for (const TDWManagedObjectPtr &object : std::as_const(m_context.m_inserted))
            if (&object->entity() == m_entity && required.admits(*object) && sourceFor(object) >= 0)
                unsavedOrChanged.append(object);
    }
    for (auto it = excludedBySource.constBegin(); it != excludedBySource.constEnd(); ++it) {
        QStringList ids;
        for (qint64 id : it.value())
            ids.append(QString::number(id));
        m_excluded[it.key()] = QLatin1Char('[') + ids.join(QLatin1Char(',')) + QLatin1Char(']');
    }
    return keepMatching(unsavedOrChanged, required, error);
}

bool TDWFetchExecutor::keepMatching(const QList<TDWManagedObjectPtr> &candidates, const RequiredValue &required, TDWError *error)
{
    for (const TDWManagedObjectPtr &object : candidates) {
        if (!required.admits(*object))
            continue;
        TDWError evaluationError;
        if (!m_request.predicate().isNull() && !m_request.predicate().evaluate(*object, &evaluationError)) {
            if (evaluationError.isNull())
                continue;
            tdwSetError(error, evaluationError);
            return false;
        }
        m_pending.append(object);
    }
    return true;
}

bool TDWFetchExecutor::RequiredValue::admits(const TDWManagedObject &object) const
{
    if (slot < 0)
        return true;
    const QVariant &stored = object.m_values[slot];
    if (!isObject)
        return stored.metaType().id() == QMetaType::QString && *static_cast<const QString *>(stored.constData()) == text;
    if (stored.metaType() != QMetaType::fromType<TDWManagedObjectID>())
        return false;
    // Row ids first: they tell almost every object apart without touching a string.
    const auto *id = static_cast<const TDWManagedObjectID *>(stored.constData());
    return id->rowId() == reference.primaryKey() && !id->isTemporaryID() && id->predicateObjectRef().refersToSameObject(reference);
}

TDWFetchExecutor::RequiredValue TDWFetchExecutor::requiredValue() const
{
    const TDWPredicate &predicate = m_request.predicate();
    const QList<TDWPredicate> terms = predicate.kind() == TDWPredicate::Kind::And ? predicate.subpredicates() : QList<TDWPredicate>{predicate};
    for (const TDWPredicate &term : terms) {
        const std::optional<TDWPredicate::KeyPathComparison> comparison = term.keyPathComparison();
        if (!comparison || comparison->operatorText != QLatin1String("==") || comparison->options != 0)
            continue;
        const int slot = m_entity->slotForKey(comparison->keyPath);
        if (slot < 0)
            continue;
        const TDWEntityDescription::Slot &kind = m_entity->slot(slot);
        if (kind.attribute >= 0 && m_entity->attributes()[kind.attribute].type == TDWAttributeType::String
            && comparison->value.metaType().id() == QMetaType::QString)
            return RequiredValue{slot, false, comparison->value.toString(), {}};
        if (kind.relationship >= 0 && comparison->value.metaType() == QMetaType::fromType<TDWPredicateObjectRef>())
            return RequiredValue{slot, true, {}, comparison->value.value<TDWPredicateObjectRef>()};
    }
    return {};
}

bool TDWFetchExecutor::resolveSortTerm(const TDWSortDescriptor &descriptor, SortTerm *term, TDWError *error)
{
    const QStringList keys = descriptor.keyPath().split(QLatin1Char('.'));
    const TDWEntityDescription *entity = m_entity;
    QString alias = QStringLiteral("t");
    QString prefix;
    for (int i = 0; i + 1 < keys.size(); ++i) {
        const TDWRelationshipDescription *relationship = entity->relationship(keys[i]);
        if (!relationship || relationship->toMany) {
            tdwSetError(error, invalid(QStringLiteral("Cannot sort %1 by \"%2\"").arg(m_entity->name(), descriptor.keyPath())));
            return false;
        }
        prefix += (prefix.isEmpty() ? QString() : QStringLiteral(".")) + keys[i];
        QString joined = m_joinAliases.value(prefix);
        if (joined.isEmpty()) {
            joined = QStringLiteral("j%1").arg(m_joinAliases.size() + 1);
            m_joinAliases.insert(prefix, joined);
            m_joins += QStringLiteral(" LEFT JOIN %1 AS %2 ON %2.pk = %3.%4")
                           .arg(TDWStoreSchema::quoted(relationship->destinationEntity), joined, alias, TDWStoreSchema::quoted(relationship->name));
        }
        alias = joined;
        entity = m_context.model().entity(relationship->destinationEntity);
    }
    const QString &last = keys.last();
    const TDWAttributeDescription *attribute = entity->attribute(last);
    const TDWRelationshipDescription *relationship = entity->relationship(last);
    if (!attribute && !(relationship && !relationship->toMany)) {
        tdwSetError(error, invalid(QStringLiteral("Cannot sort %1 by \"%2\"").arg(m_entity->name(), descriptor.keyPath())));
        return false;
    }
    const QString column = alias + QLatin1Char('.') + TDWStoreSchema::quoted(last);
    term->keyPath = keys;
    term->comparison = descriptor.comparison();
    term->ascending = descriptor.ascending();
    term->valueSql = column;
    const bool textual = attribute && attribute->type == TDWAttributeType::String;
    if (textual && descriptor.comparison() == TDWSortDescriptor::CaseInsensitive && attribute->options.caseInsensitiveKey) {
        term->valueSql = alias + QLatin1Char('.') + TDWStoreSchema::quoted(attribute->caseInsensitiveColumn());
        term->orderSql = term->valueSql;
    } else {
        term->orderSql = column + (textual ? collationFor(descriptor.comparison()) : QString());
    }
    term->orderSql += descriptor.ascending() ? QStringLiteral(" ASC") : QStringLiteral(" DESC");
    return true;
}

int TDWFetchExecutor::sourceFor(const TDWManagedObjectPtr &object) const
{
    TDWPersistentStorePtr store = object->persistentStore();
    if (!store) {
        const QList<TDWPersistentStorePtr> holding = m_context.persistentStoreCoordinator()->persistentStoresForEntity(*m_entity);
        store = holding.isEmpty() ? nullptr : holding.first();
    }
    return store ? int(m_stores.indexOf(store)) : -1;
}

QString TDWFetchExecutor::querySql(int source, const QString &columns, bool ordered, bool windowed) const
{
    QString sql = QStringLiteral("SELECT %1 FROM %2 AS t").arg(columns, TDWStoreSchema::tableName(*m_entity));
    if (ordered)
        sql += m_joins;
    QStringList conditions;
    // The exclusion comes first so its placeholder is the first one.
    if (!m_excluded[source].isEmpty())
        conditions.append(QStringLiteral("t.pk NOT IN (SELECT value FROM json_each(?))"));
    if (!m_request.sqlCondition().isEmpty())
        conditions.append(QLatin1Char('(') + m_request.sqlCondition() + QLatin1Char(')'));
    if (!m_predicateSql[source].sql.isEmpty())
        conditions.append(QLatin1Char('(') + m_predicateSql[source].sql + QLatin1Char(')'));
    if (!conditions.isEmpty())
        sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    if (ordered) {
        QStringList order;
        for (const SortTerm &term : m_terms)
            order.append(term.orderSql);
        order.append(QStringLiteral("t.pk ASC"));
        sql += QStringLiteral(" ORDER BY ") + order.join(QStringLiteral(", "));
    }
    if (windowed)
        sql += QStringLiteral(" LIMIT ? OFFSET ?");
    return sql;
}

bool TDWFetchExecutor::run(int source, const QString &sql, bool windowed, qint64 limit, qint64 offset,
                           const std::function<void(const TDWSqliteStatement &)> &onRow, TDWError *error)
{
    TDWPersistentStore::Lease connection = m_stores[source]->acquire(error);
    if (!connection.isValid())
        return false;
    TDWSqliteStatement statement = connection->prepare(sql, error);
    if (!statement.isValid())
        return false;
    int index = 1;
    if (!m_excluded[source].isEmpty())
        statement.bindText(index++, m_excluded[source]);
    for (const QVariant &binding : m_request.sqlBindings())
        statement.bindValue(index++, binding);
    for (const QVariant &binding : std::as_const(m_predicateSql[source].bindings))
        statement.bindValue(index++, binding);
    if (windowed) {
        statement.bindInt64(index++, limit > 0 ? limit : -1);
        statement.bindInt64(index++, offset);
    }
    for (;;) {
        const TDWSqliteStatement::StepResult result = statement.step(error);
        if (result == TDWSqliteStatement::Failed)
            return false;
        if (result == TDWSqliteStatement::Done)
            return true;
        onRow(statement);
    }
}

QString TDWFetchExecutor::sortValueColumns() const
{
    QString columns;
    for (const SortTerm &term : m_terms)
        columns += QStringLiteral(", ") + term.valueSql;
    return columns;
}

QList<QVariant> TDWFetchExecutor::keysFor(const TDWManagedObjectPtr &object) const
{
    QList<QVariant> keys;
    for (const SortTerm &term : m_terms) {
        TDWManagedObjectPtr current = object;
        for (int i = 0; current && i + 1 < term.keyPath.size(); ++i)
            current = current->objectValue(term.keyPath[i]);
        keys.append(current ? TDWSqlValueCodec::storageValue(current->value(term.keyPath.last())) : QVariant());
    }
    return keys;
}

bool TDWFetchExecutor::lessThan(const Entry &a, const Entry &b) const
{
    for (int i = 0; i < m_terms.size(); ++i) {
        const int result = m_comparator.compare(a.keys[i], b.keys[i], m_terms[i].comparison);
        if (result != 0)
            return m_terms[i].ascending ? result < 0 : result > 0;
    }
    if (a.source != b.source)
        return a.source < b.source;
    // Stored rows (changed ones included) before unsaved inserts: those get the higher row ids when saved.
    const bool aInserted = a.pending && a.pending->isInserted();
    const bool bInserted = b.pending && b.pending->isInserted();
    if (aInserted != bInserted)
        return !aInserted;
    return a.order < b.order;
}

std::optional<QList<TDWFetchExecutor::Entry>> TDWFetchExecutor::mergedWindow(
    const QString &extraColumns, const std::function<void(Entry &, const TDWSqliteStatement &, int)> &fill, TDWError *error)
{
    const qint64 limit = m_request.fetchLimit();
    const qint64 offset = m_request.fetchOffset();
    // Each source can contribute at most offset+limit rows to the window.
    const qint64 perSource = limit > 0 ? offset + limit : 0;
    QList<Entry> entries;
    for (int source = 0; source < m_stores.size(); ++source) {
        const QString sql = querySql(source, QStringLiteral("t.pk") + sortValueColumns() + extraColumns, true, true);
        const bool ok = run(source, sql, true, perSource, 0,
                            [&](const TDWSqliteStatement &row) {
                                Entry entry;
                                entry.source = source;
                                entry.order = row.int64At(0);
                                for (int i = 0; i < m_terms.size(); ++i)
                                    entry.keys.append(row.storageValueAt(1 + i));
                                if (fill)
                                    fill(entry, row, 1 + int(m_terms.size()));
                                entries.append(std::move(entry));
                            },
                            error);
        if (!ok)
            return std::nullopt;
    }
    for (const TDWManagedObjectPtr &object : std::as_const(m_pending)) {
        Entry entry;
        entry.source = sourceFor(object);
        entry.order = object->isInserted() ? object->m_insertOrder : object->objectID().rowId();
        entry.pending = object;
        entry.keys = keysFor(object);
        entries.append(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(), [this](const Entry &a, const Entry &b) { return lessThan(a, b); });
    if (offset >= entries.size())
        return QList<Entry>();
    const qint64 count = limit > 0 ? std::min<qint64>(limit, entries.size() - offset) : entries.size() - offset;
    return entries.mid(offset, count);
}

std::optional<QList<TDWManagedObjectPtr>> TDWFetchExecutor::objects(TDWError *error)
{
    if (!plan(error))
        return std::nullopt;
    QList<TDWManagedObjectPtr> result;
    if (useSingleQuery() && m_request.fetchOffset() > 0) {
        // The rows before the window are skipped reading row ids only, which an
        // index holding the order and the tested columns answers without touching
        // the rows; then the window's rows are loaded.
        const TDWPersistentStorePtr &store = m_stores.first();
        QList<qint64> rowIds;
        if (!run(0, querySql(0, QStringLiteral("t.pk"), true, true), true, m_request.fetchLimit(), m_request.fetchOffset(),
                 [&](const TDWSqliteStatement &row) { rowIds.append(row.int64At(0)); }, error))
            return std::nullopt;
        QList<TDWManagedObjectPtr> loaded; // keeps the new objects alive until the result holds them
        if (!m_context.loadRows(*m_entity, store, rowIds,
                                [&](qint64, const TDWSqliteStatement &row) { loaded.append(m_context.objectForRow(*m_entity, store, row, 0)); },
                                error))
            return std::nullopt;
        for (qint64 rowId : std::as_const(rowIds)) {
            const TDWManagedObjectPtr object = m_context.registeredObject(TDWManagedObjectID::permanent(store->identifier(), m_entity->name(), rowId));
            if (object && !object->isFault())
                result.append(object);
        }
        prefetch(result);
        return result;
    }
    if (useSingleQuery()) {
        const TDWPersistentStorePtr &store = m_stores.first();
        const bool ok = run(0, querySql(0, m_entity->selectListSql(), true, true), true, m_request.fetchLimit(),
                            m_request.fetchOffset(),
                            [&](const TDWSqliteStatement &row) { result.append(m_context.objectForRow(*m_entity, store, row, 0)); }, error);
        if (!ok)
            return std::nullopt;
        prefetch(result);
        return result;
    }
    std::optional<QList<Entry>> window = mergedWindow({}, {}, error);
    if (!window)
        return std::nullopt;
    auto idOf = [this](const Entry &entry) {
        return TDWManagedObjectID::permanent(m_stores[entry.source]->identifier(), m_entity->name(), entry.order);
    };
    // Load the window's rows that are not in memory yet: one query per store.
    QHash<int, QList<qint64>> toLoad;
    for (const Entry &entry : std::as_const(*window)) {
        if (entry.pending)
            continue;
        const TDWManagedObjectPtr known = m_context.registeredObject(idOf(entry));
        if (!known || known->isFault())
            toLoad[entry.source].append(entry.order);
    }
    QList<TDWManagedObjectPtr> loaded; // keeps the new objects alive until the result holds them
    for (auto it = toLoad.constBegin(); it != toLoad.constEnd(); ++it) {
        const TDWPersistentStorePtr &store = m_stores[it.key()];
        const bool ok = m_context.loadRows(*m_entity, store, it.value(),
                                           [&](qint64, const TDWSqliteStatement &row) { loaded.append(m_context.objectForRow(*m_entity, store, row, 0)); },
                                           error);
        if (!ok)
            return std::nullopt;
    }
    for (const Entry &entry : std::as_const(*window)) {
        TDWManagedObjectPtr object = entry.pending ? entry.pending : m_context.registeredObject(idOf(entry));
        // A row deleted by another context between the two queries is left out.
        if (object && !object->isFault())
            result.append(object);
    }
    prefetch(result);
    return result;
}

std::optional<QList<TDWManagedObjectID>> TDWFetchExecutor::objectIDs(TDWError *error)
{
    if (!plan(error))
        return std::nullopt;
    QList<TDWManagedObjectID> result;
    if (useSingleQuery()) {
        const QString identifier = m_stores.first()->identifier();
        const bool ok = run(0, querySql(0, QStringLiteral("t.pk"), true, true), true, m_request.fetchLimit(), m_request.fetchOffset(),
                            [&](const TDWSqliteStatement &row) {
                                result.append(TDWManagedObjectID::permanent(identifier, m_entity->name(), row.int64At(0)));
                            },
                            error);
        if (!ok)
            return std::nullopt;
        return result;
    }
    std::optional<QList<Entry>> window = mergedWindow({}, {}, error);
    if (!window)
        return std::nullopt;
    for (const Entry &entry : std::as_const(*window))
        result.append(entry.pending ? entry.pending->objectID()
                                    : TDWManagedObjectID::permanent(m_stores[entry.source]->identifier(), m_entity->name(), entry.order));
    return result;
}

QStringList TDWFetchExecutor::dictionaryKeys() const
{
    if (!m_request.propertiesToFetch().isEmpty())
        return m_request.propertiesToFetch();
    QStringList keys;
    for (int slot = 0; slot < m_entity->slotCount(); ++slot)
        keys.append(m_entity->keyForSlot(slot));
    return keys;
}

QVariantMap TDWFetchExecutor::dictionaryForObject(const TDWManagedObjectPtr &object, const QStringList &keys) const
{
    QVariantMap map;
    for (const QString &key : keys)
        map.insert(key, key == TDWFetchRequest::ObjectIDKey ? QVariant::fromValue(object->objectID()) : object->value(key));
    return map;
}

QVariantMap TDWFetchExecutor::dictionaryForRow(const TDWSqliteStatement &row, int first, const QStringList &keys, int source) const
{
    QVariantMap map;
    for (int i = 0; i < keys.size(); ++i) {
        if (keys[i] == TDWFetchRequest::ObjectIDKey) {
            map.insert(keys[i], QVariant::fromValue(TDWManagedObjectID::permanent(m_stores[source]->identifier(), m_entity->name(),
                                                                                  row.int64At(first + i))));
            continue;
        }
        const int slot = m_entity->slotForKey(keys[i]);
        const TDWEntityDescription::Slot &description = m_entity->slot(slot);
        if (description.attribute >= 0) {
            map.insert(keys[i], row.attributeValueAt(first + i, m_entity->attributes()[description.attribute].type));
        } else {
            const QString &destination = m_entity->relationships()[description.relationship].destinationEntity;
            map.insert(keys[i], row.isNull(first + i) ? QVariant()
                                                      : QVariant::fromValue(TDWManagedObjectID::permanent(
                                                            m_stores[source]->identifier(), destination, row.int64At(first + i))));
        }
    }
    return map;
}

std::optional<QList<QVariantMap>> TDWFetchExecutor::dictionaries(TDWError *error)
{
    if (!plan(error))
        return std::nullopt;
    const QStringList keys = dictionaryKeys();
    QString columns;
    for (const QString &key : keys) {
        if (key == TDWFetchRequest::ObjectIDKey) {
            columns += QStringLiteral(", t.pk");
            continue;
        }
        if (m_entity->slotForKey(key) < 0) {
            tdwSetError(error, invalid(QStringLiteral("%1 has no key \"%2\"").arg(m_entity->name(), key)));
            return std::nullopt;
        }
        columns += QStringLiteral(", t.") + TDWStoreSchema::quoted(key);
    }
    QList<QVariantMap> result;
    if (useSingleQuery()) {
        const bool ok = run(0, querySql(0, QStringLiteral("t.pk") + columns, true, true), true, m_request.fetchLimit(), m_request.fetchOffset(),
                            [&](const TDWSqliteStatement &row) { result.append(dictionaryForRow(row, 1, keys, 0)); }, error);
        if (!ok)
            return std::nullopt;
        return result;
    }
    std::optional<QList<Entry>> window = mergedWindow(
        columns, [&](Entry &entry, const TDWSqliteStatement &row, int first) { entry.row = dictionaryForRow(row, first, keys, entry.source); },
        error);
    if (!window)
        return std::nullopt;
    for (const Entry &entry : std::as_const(*window))
        result.append(entry.pending ? dictionaryForObject(entry.pending, keys) : entry.row);
    return result;
}

qint64 TDWFetchExecutor::count(TDWError *error)
{
    if (!plan(error))
        return TDWManagedObjectContext::NotFound;
    qint64 total = m_pending.size();
    for (int source = 0; source < m_stores.size(); ++source) {
        const QString sql = querySql(source, QStringLiteral("count(*)"), false, false);
        if (!run(source, sql, false, 0, 0, [&](const TDWSqliteStatement &row) { total += row.int64At(0); }, error))
            return TDWManagedObjectContext::NotFound;
    }
    total = std::max<qint64>(0, total - m_request.fetchOffset());
    return m_request.fetchLimit() > 0 ? std::min(total, m_request.fetchLimit()) : total;
}

void TDWFetchExecutor::prefetch(const QList<TDWManagedObjectPtr> &objects)
{
    for (const QString &keyPath : m_request.relationshipKeyPathsForPrefetching()) {
        QList<TDWManagedObjectPtr> sources = objects;
        const TDWEntityDescription *entity = m_entity;
        for (const QString &key : keyPath.split(QLatin1Char('.'))) {
            const TDWRelationshipDescription *relationship = entity->relationship(key);
            // To-many sets are read afresh on every access, so there is nothing to keep
            // for them; only to-one steps are loaded ahead.
            if (!relationship || relationship->toMany || sources.isEmpty())
                break;
            const TDWEntityDescription &destination = *m_context.model().entity(relationship->destinationEntity);
            const int slot = relationship->slot;
            QHash<TDWPersistentStore *, QPair<TDWPersistentStorePtr, QList<qint64>>> toLoad;
            for (const TDWManagedObjectPtr &source : std::as_const(sources)) {
                if (source->isFault() || !source->persistentStore())
                    continue;
                const TDWManagedObjectID id = source->m_values[slot].value<TDWManagedObjectID>();
                if (id.isNull() || id.isTemporaryID())
                    continue;
                const TDWManagedObjectPtr known = m_context.registeredObject(id);
                if (!known || known->isFault()) {
                    auto &group = toLoad[source->persistentStore().get()];
                    group.first = source->persistentStore();
                    group.second.append(id.rowId());
                }
            }
            QList<TDWManagedObjectPtr> loaded; // alive until the sources hold them
            for (auto it = toLoad.constBegin(); it != toLoad.constEnd(); ++it) {
                const TDWPersistentStorePtr store = it->first;
                QList<qint64> ids = it->second;
                std::sort(ids.begin(), ids.end());
                ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
                TDWError error;
                if (!m_context.loadRows(destination, store, ids,
                                        [&](qint64, const TDWSqliteStatement &row) { loaded.append(m_context.objectForRow(destination, store, row, 0)); },
                                        &error))
                    tdwLog(QStringLiteral("ERROR: Unable to prefetch %1: %2").arg(keyPath, error.localizedDescription()));
            }
            QList<TDWManagedObjectPtr> next;
            for (const TDWManagedObjectPtr &source : std::as_const(sources)) {
                if (source->isFault())
                    continue;
                if (TDWManagedObjectPtr target = source->objectValue(key); target && !target->isFault())
                    next.append(target);
            }
            sources = next;
            entity = &destination;
        }
    }
}
