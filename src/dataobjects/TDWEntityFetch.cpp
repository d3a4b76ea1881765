#include "dataobjects/TDWEntityFetch.h"

#include "platform/store/TDWStoreError.h"

namespace {

// Collects the unsaved objects among the arguments; false for one of another
// context, which this context cannot name at all.
bool collectUnsaved(const QVariant &argument, TDWManagedObjectContext &moc, QList<TDWManagedObjectPtr> *unsaved)
{
    if (argument.metaType() == QMetaType::fromType<TDWManagedObjectPtr>()) {
        const TDWManagedObjectPtr object = argument.value<TDWManagedObjectPtr>();
        if (!object || !object->objectID().isTemporaryID())
            return true;
        if (object->managedObjectContext() != &moc)
            return false;
        unsaved->append(object);
    } else if (argument.metaType().id() == QMetaType::QVariantList) {
        for (const QVariant &element : argument.toList())
            if (!collectUnsaved(element, moc, unsaved))
                return false;
    }
    return true;
}

} // namespace

TDWEntityFetch::TDWEntityFetch(TDWManagedObjectContext &moc, const QString &entityName)
    : m_moc(moc)
    , m_request(entityName)
{
}

TDWEntityFetch &TDWEntityFetch::where(const QString &format, const QVariantList &arguments)
{
    // An unsaved object has no identity a predicate can name (it would read as
    // nil and match every row without a link); a permanent identifier gives it
    // one without saving it.
    QList<TDWManagedObjectPtr> unsaved;
    for (const QVariant &argument : arguments) {
        if (!collectUnsaved(argument, m_moc, &unsaved)) {
            m_predicateError = TDWStoreError::make(TDWStoreError::InvalidArgument,
                                                   QStringLiteral("The predicate \"%1\" names an unsaved object of another context").arg(format));
            return *this;
        }
    }
    if (!unsaved.isEmpty() && !m_moc.obtainPermanentIDsForObjects(unsaved, &m_predicateError))
        return *this;
    const TDWPredicate predicate = TDWPredicate::parse(format, arguments, &m_predicateError);
    if (!predicate.isNull())
        m_request.setPredicate(predicate);
    else if (m_predicateError.isNull())
        m_predicateError = TDWStoreError::make(TDWStoreError::InvalidArgument, QStringLiteral("The predicate \"%1\" is not usable").arg(format));
    return *this;
}

TDWEntityFetch &TDWEntityFetch::where(const TDWPredicate &predicate)
{
    m_request.setPredicate(predicate);
    return *this;
}

TDWEntityFetch &TDWEntityFetch::whereSql(const QString &sql, const QVariantList &bindings)
{
    m_request.setSqlCondition(sql, bindings);
    return *this;
}

TDWEntityFetch &TDWEntityFetch::in(const TDWPersistentStorePtr &store)
{
    if (!store) {
        // A missing store must not widen the fetch to every store.
        m_predicateError = TDWStoreError::make(TDWStoreError::StoreNotFound, QStringLiteral("No store given"));
        return *this;
    }
    m_request.setAffectedStores({store});
    return *this;
}

TDWEntityFetch &TDWEntityFetch::in(const QList<TDWPersistentStorePtr> &stores)
{
    if (stores.isEmpty() || stores.contains(nullptr)) {
        m_predicateError = TDWStoreError::make(TDWStoreError::StoreNotFound, QStringLiteral("No store given"));
        return *this;
    }
    m_request.setAffectedStores(stores);
    return *this;
}

TDWEntityFetch &TDWEntityFetch::inStoreOf(const TDWManagedObjectPtr &object)
{
    if (object && object->persistentStore())
        m_request.setAffectedStores({object->persistentStore()});
    return *this;
}

TDWEntityFetch &TDWEntityFetch::sortedBy(const QList<TDWSortDescriptor> &descriptors)
{
    m_request.setSortDescriptors(descriptors);
    return *this;
}

TDWEntityFetch &TDWEntityFetch::limit(qint64 fetchLimit)
{
    m_request.setFetchLimit(fetchLimit);
    return *this;
}

TDWEntityFetch &TDWEntityFetch::offset(qint64 fetchOffset)
{
    m_request.setFetchOffset(fetchOffset);
    return *this;
}

TDWEntityFetch &TDWEntityFetch::prefetching(const QStringList &keyPaths)
{
    m_request.setRelationshipKeyPathsForPrefetching(keyPaths);
    return *this;
}

bool TDWEntityFetch::ready(TDWError *error) const
{
    if (m_predicateError.isNull())
        return true;
    tdwSetError(error, m_predicateError);
    return false;
}

std::optional<QList<TDWManagedObjectPtr>> TDWEntityFetch::objects(TDWError *error)
{
    if (!ready(error))
        return std::nullopt;
    return m_moc.executeFetchRequest(m_request, error);
}

std::optional<QList<TDWManagedObjectID>> TDWEntityFetch::objectIDs(TDWError *error)
{
    if (!ready(error))
        return std::nullopt;
    return m_moc.executeIDFetchRequest(m_request, error);
}

qint64 TDWEntityFetch::count(TDWError *error)
{
    if (!ready(error))
        return TDWManagedObjectContext::NotFound;
    return m_moc.countForFetchRequest(m_request, error);
}
