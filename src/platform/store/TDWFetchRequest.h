#pragma once

#include "platform/predicate/TDWPredicate.h"
#include "platform/store/TDWPersistentStore.h"
#include "platform/store/TDWSortDescriptor.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

// What to fetch: an entity, a predicate (and, for hand-written helpers, an SQL filter), an order, a window (limit and offset) and the
// stores to search. Without affected stores every store that holds the entity is
// searched and the results are merged in order, the window applying to the merged
// order. The same request serves object, identifier, dictionary and count fetches
// (the context's execute... calls).
class TDWFetchRequest
{
public:
    explicit TDWFetchRequest(QString entityName = {})
        : m_entityName(std::move(entityName))
    {
    }

    const QString &entityName() const { return m_entityName; }
    void setEntityName(const QString &name) { m_entityName = name; }

    // Which objects match; a null predicate matches all. It is translated to SQL for
    // the stores and evaluated in memory for unsaved inserts and changed objects.
    const TDWPredicate &predicate() const { return m_predicate; }
    void setPredicate(const TDWPredicate &predicate) { m_predicate = predicate; }

    // A filter in SQL over the entity's table, which has the alias "t" (columns named
    // by their keys, quoted: t."docId"), with "?" placeholders for the bindings, which
    // follow the storage convention of TDWSqlValueCodec. It is for hot, hand-written
    // fetch helpers: objects inserted and not yet saved cannot be tested against it,
    // so they are not part of the result of a request that has one.
    const QString &sqlCondition() const { return m_sqlCondition; }
    const QVariantList &sqlBindings() const { return m_sqlBindings; }
    void setSqlCondition(const QString &sql, const QVariantList &bindings = {})
    {
        m_sqlCondition = sql;
        m_sqlBindings = bindings;
    }

    const QList<TDWSortDescriptor> &sortDescriptors() const { return m_sortDescriptors; }
    void setSortDescriptors(const QList<TDWSortDescriptor> &descriptors) { m_sortDescriptors = descriptors; }

    // 0 means no limit.
    qint64 fetchLimit() const { return m_fetchLimit; }
    void setFetchLimit(qint64 limit) { m_fetchLimit = qMax<qint64>(0, limit); }
    qint64 fetchOffset() const { return m_fetchOffset; }
    void setFetchOffset(qint64 offset) { m_fetchOffset = qMax<qint64>(0, offset); }

    const QList<TDWPersistentStorePtr> &affectedStores() const { return m_affectedStores; }
    void setAffectedStores(const QList<TDWPersistentStorePtr> &stores) { m_affectedStores = stores; }

    // The keys (attributes and to-one relationships) of a dictionary fetch; empty
    // means all. ObjectIDKey among them gives each row's own identifier.
    static inline const QString ObjectIDKey = QStringLiteral("objectID");
    const QStringList &propertiesToFetch() const { return m_propertiesToFetch; }
    void setPropertiesToFetch(const QStringList &keys) { m_propertiesToFetch = keys; }

    // To-one key paths ("doc", "doc.account") whose destinations are loaded with the
    // results in one query per step, instead of one query per object later.
    const QStringList &relationshipKeyPathsForPrefetching() const { return m_prefetch; }
    void setRelationshipKeyPathsForPrefetching(const QStringList &keyPaths) { m_prefetch = keyPaths; }

    // Whether objects inserted, changed or deleted in the context and not yet saved
    // count (changed ones with their current values).
    bool includesPendingChanges() const { return m_includesPendingChanges; }
    void setIncludesPendingChanges(bool include) { m_includesPendingChanges = include; }

private:
    QString m_entityName;
    TDWPredicate m_predicate;
    QString m_sqlCondition;
    QVariantList m_sqlBindings;
    QList<TDWSortDescriptor> m_sortDescriptors;
    qint64 m_fetchLimit = 0;
    qint64 m_fetchOffset = 0;
    QList<TDWPersistentStorePtr> m_affectedStores;
    QStringList m_propertiesToFetch;
    QStringList m_prefetch;
    bool m_includesPendingChanges = true;
};
