#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/predicate/TDWPredicateSqlSchema.h"
#include "platform/store/TDWFetchRequest.h"
#include "platform/store/TDWManagedObject.h"
#include "platform/store/TDWStorageValueComparator.h"

#include <QHash>
#include <QList>
#include <QVariantMap>

#include <functional>
#include <optional>

class TDWManagedObjectContext;
class TDWEntityDescription;
class TDWAttributeDescription;
class TDWSqliteStatement;

// Runs one fetch request for a context. One store and no unsaved inserts or changed
// objects that match: a single query with LIMIT/OFFSET. Otherwise each store gives its
// first offset+limit row ids with their sort keys (changed rows left out), the
// unsaved and changed objects that match in memory are added,
// everything is ordered by the same rules as the SQL, and only the rows of the
// window are then loaded, one query per store.
class TDWFetchExecutor
{
public:
    TDWFetchExecutor(TDWManagedObjectContext &context, const TDWFetchRequest &request);

    std::optional<QList<TDWManagedObjectPtr>> objects(TDWError *error);
    std::optional<QList<TDWManagedObjectID>> objectIDs(TDWError *error);
    std::optional<QList<QVariantMap>> dictionaries(TDWError *error);
    qint64 count(TDWError *error);

private:
    struct SortTerm
    {
        QString orderSql;
        QString valueSql;
        QStringList keyPath;
        TDWSortDescriptor::Comparison comparison = TDWSortDescriptor::Compare;
        bool ascending = true;
    };

    // One candidate row of a merged fetch.
    struct Entry
    {
        QList<QVariant> keys;
        int source = 0;
        qint64 order = 0; // row id, or insertion order of an unsaved object
        TDWManagedObjectPtr pending;
        QVariantMap row; // dictionary fetches only
    };

    // Planning: the entity, stores and sort terms; the predicate in each store's
    // SQL; and the context's unsaved changes that the stored rows cannot show.
    bool plan(TDWError *error);
    bool resolve(TDWError *error);
    bool translatePredicate(TDWError *error);
    bool collectPendingChanges(TDWError *error);
    bool resolveSortTerm(const TDWSortDescriptor &descriptor, SortTerm *term, TDWError *error);
    // A key the predicate requires to equal a constant ("key == 'text'" on a string
    // attribute, "relationship == object" on a to-one), alone or within an AND.
    // Lookups in a context full of unsaved or changed objects test it first,
    // instead of evaluating the whole predicate on every one of them.
    struct RequiredValue
    {
        int slot = -1; // none: every object is admitted
        bool isObject = false;
        QString text;
        TDWPredicateObjectRef reference;
        bool admits(const TDWManagedObject &object) const;
    };
    RequiredValue requiredValue() const;
    // Keeps those of `candidates` that match the predicate as pending results.
    bool keepMatching(const QList<TDWManagedObjectPtr> &candidates, const RequiredValue &required, TDWError *error);
    bool useSingleQuery() const { return m_stores.size() == 1 && m_pending.isEmpty(); }
    QString querySql(int source, const QString &columns, bool ordered, bool windowed) const;
    // Runs the query on one source store, binding the exclusions, the condition and the window.
    bool run(int source, const QString &sql, bool windowed, qint64 limit, qint64 offset,
             const std::function<void(const TDWSqliteStatement &)> &onRow, TDWError *error);
    // Candidates of every source in merged order, cut to the request's window.
    std::optional<QList<Entry>> mergedWindow(const QString &extraColumns,
                                             const std::function<void(Entry &, const TDWSqliteStatement &, int)> &fill, TDWError *error);
    QList<QVariant> keysFor(const TDWManagedObjectPtr &object) const;
    int sourceFor(const TDWManagedObjectPtr &object) const;
    QString sortValueColumns() const;
    bool lessThan(const Entry &a, const Entry &b) const;
    QStringList dictionaryKeys() const;
    QVariantMap dictionaryForObject(const TDWManagedObjectPtr &object, const QStringList &keys) const;
    QVariantMap dictionaryForRow(const TDWSqliteStatement &row, int first, const QStringList &keys, int source) const;
    void prefetch(const QList<TDWManagedObjectPtr> &objects);

    TDWManagedObjectContext &m_context;
    const TDWFetchRequest &m_request;
    const TDWEntityDescription *m_entity = nullptr;
    QList<TDWPersistentStorePtr> m_stores;
    QList<SortTerm> m_terms;
    QString m_joins;
    QHash<QString, QString> m_joinAliases; // key path prefix -> alias
    QList<TDWManagedObjectPtr> m_pending;
    QList<QString> m_excluded; // per source: JSON array of row ids deleted in the context, or empty
    QList<TDWSqlFragment> m_predicateSql; // per source: the predicate translated for that store
    TDWStorageValueComparator m_comparator;
};
