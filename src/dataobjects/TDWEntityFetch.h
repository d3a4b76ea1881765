#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/store/TDWFetchRequest.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QList>
#include <QString>
#include <QVariantList>

#include <memory>
#include <optional>

// One fetch of the entity classes' class-level helpers, written as
//   TDWEntityFetch(moc, "Doc").where("docId = %@", {docId}).in(store).objects<TDWDoc>(error)
// Objects given as predicate arguments (TDWManagedObjectPtr) that were never
// saved get permanent identifiers first, so that they can be named in the
// predicate and found among the context's unsaved objects too. A predicate
// that does not parse fails the fetch instead of matching everything.
class TDWEntityFetch
{
public:
    TDWEntityFetch(TDWManagedObjectContext &moc, const QString &entityName);

    TDWEntityFetch &where(const QString &format, const QVariantList &arguments = {});
    TDWEntityFetch &where(const TDWPredicate &predicate);
    // A condition in SQL besides the predicate (TDWFetchRequest::setSqlCondition),
    // for hot helpers whose predicate SQLite cannot serve from an index.
    TDWEntityFetch &whereSql(const QString &sql, const QVariantList &bindings = {});
    // Restricts the fetch to these stores; none given searches every store.
    TDWEntityFetch &in(const TDWPersistentStorePtr &store);
    TDWEntityFetch &in(const QList<TDWPersistentStorePtr> &stores);
    // Restricts the fetch to the store of an object the predicate names: objects
    // link only within their store, so no other store can hold a match. An
    // object not yet placed in a store leaves the fetch as it is.
    TDWEntityFetch &inStoreOf(const TDWManagedObjectPtr &object);
    TDWEntityFetch &sortedBy(const QList<TDWSortDescriptor> &descriptors);
    TDWEntityFetch &limit(qint64 fetchLimit);
    TDWEntityFetch &offset(qint64 fetchOffset);
    TDWEntityFetch &prefetching(const QStringList &keyPaths);

    const TDWFetchRequest &request() const { return m_request; }

    // An object as a predicate argument.
    static QVariant argument(const TDWManagedObjectPtr &object) { return QVariant::fromValue(object); }

    std::optional<QList<TDWManagedObjectPtr>> objects(TDWError *error);
    template<class T>
    std::optional<QList<std::shared_ptr<T>>> objects(TDWError *error)
    {
        std::optional<QList<TDWManagedObjectPtr>> found = objects(error);
        if (!found)
            return std::nullopt;
        return cast<T>(*found);
    }
    std::optional<QList<TDWManagedObjectID>> objectIDs(TDWError *error);
    // TDWManagedObjectContext::NotFound on failure.
    qint64 count(TDWError *error);

    template<class T>
    static QList<std::shared_ptr<T>> cast(const QList<TDWManagedObjectPtr> &objects)
    {
        QList<std::shared_ptr<T>> typed;
        typed.reserve(objects.size());
        for (const TDWManagedObjectPtr &object : objects)
            typed.append(std::static_pointer_cast<T>(object));
        return typed;
    }

private:
    bool ready(TDWError *error) const;

    TDWManagedObjectContext &m_moc;
    TDWFetchRequest m_request;
    TDWError m_predicateError;
};
