#include "platform/store/TDWPersistentStoreCoordinator.h"

#include "platform/store/TDWManagedObjectModel.h"
#include "platform/store/TDWStoreError.h"

#include <QFile>
#include <QFileInfo>

#include <mutex>

namespace {

const QStringList SideFileSuffixes{QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")};

QString canonicalPath(const QString &path)
{
    return QFileInfo(path).absoluteFilePath();
}

bool removeSideFiles(const QString &path, TDWError *error)
{
    for (const QString &suffix : SideFileSuffixes) {
        QFile side(path + suffix);
        if (side.exists() && !side.remove()) {
            tdwSetError(error, TDWStoreError::make(TDWStoreError::FileOperation,
                                                   QStringLiteral("Unable to delete %1: %2").arg(side.fileName(), side.errorString())));
            return false;
        }
    }
    return true;
}

} // namespace

TDWPersistentStoreCoordinator::TDWPersistentStoreCoordinator(std::shared_ptr<const TDWManagedObjectModel> model)
    : m_model(std::move(model))
{
    Q_ASSERT(m_model && m_model->isFinalized());
    qRegisterMetaType<TDWSaveNotification>();
    TDWManagedObjectID::registerMetaTypes();
}

TDWPersistentStoreCoordinator::~TDWPersistentStoreCoordinator()
{
    for (const TDWPersistentStorePtr &store : std::as_const(m_stores))
        store->markRemoved();
}

TDWPersistentStorePtr TDWPersistentStoreCoordinator::addPersistentStore(const QString &configuration, const QString &path,
                                                                        const TDWPersistentStore::Options &options, TDWError *error)
{
    const QString absolute = canonicalPath(path);
    if (persistentStoreForPath(absolute)) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::InvalidArgument, QStringLiteral("%1 is already open").arg(absolute)));
        return nullptr;
    }
    if (!options.readOnly && !QFile::exists(absolute) && !removeSideFiles(absolute, error))
        return nullptr;
    TDWPersistentStorePtr store = TDWPersistentStore::open(m_model, configuration, absolute, options, error);
    if (!store)
        return nullptr;
    std::unique_lock lock(m_mutex);
    for (const TDWPersistentStorePtr &existing : std::as_const(m_stores)) {
        if (existing->identifier() == store->identifier()) {
            // A copy of a store file added beside its original would make identifiers ambiguous.
            store->markRemoved();
            tdwSetError(error, TDWStoreError::make(TDWStoreError::InvalidArgument,
                                                   QStringLiteral("%1 has the identifier of %2").arg(absolute, existing->path())));
            return nullptr;
        }
    }
    m_stores.append(store);
    m_storesByIdentifier.insert(store->identifier(), store);
    return store;
}

bool TDWPersistentStoreCoordinator::removePersistentStore(const TDWPersistentStorePtr &store, TDWError *error)
{
    {
        std::unique_lock lock(m_mutex);
        if (!store || !m_stores.removeOne(store)) {
            tdwSetError(error, TDWStoreError::make(TDWStoreError::StoreNotFound, QStringLiteral("The coordinator does not hold this store")));
            return false;
        }
        m_storesByIdentifier.remove(store->identifier());
    }
    store->markRemoved();
    return true;
}

bool TDWPersistentStoreCoordinator::destroyPersistentStoreAtPath(const QString &path, TDWError *error)
{
    if (TDWPersistentStorePtr store = persistentStoreForPath(path); store && !removePersistentStore(store, error))
        return false;
    return deleteStoreFiles(canonicalPath(path), error);
}

bool TDWPersistentStoreCoordinator::deleteStoreFiles(const QString &path, TDWError *error)
{
    if (!removeSideFiles(path, error))
        return false;
    QFile file(path);
    if (!file.remove()) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::FileOperation,
                                               QStringLiteral("Unable to delete %1: %2").arg(path, file.errorString())));
        return false;
    }
    return true;
}

QList<TDWPersistentStorePtr> TDWPersistentStoreCoordinator::persistentStores() const
{
    std::shared_lock lock(m_mutex);
    return m_stores;
}

bool TDWPersistentStoreCoordinator::copyStoreFileAtPath(const QString &path, const QString &destination, TDWError *error) const
{
    if (const TDWPersistentStorePtr store = persistentStoreForPath(path))
        return store->copyToPath(destination, error);
    return TDWPersistentStore::copyFile(path, destination, error);
}

bool TDWPersistentStoreCoordinator::isSideFileName(const QString &fileName)
{
    return std::any_of(SideFileSuffixes.cbegin(), SideFileSuffixes.cend(), [&](const QString &suffix) { return fileName.endsWith(suffix); });
}

TDWPersistentStorePtr TDWPersistentStoreCoordinator::persistentStoreForPath(const QString &path) const
{
    const QString absolute = canonicalPath(path);
    std::shared_lock lock(m_mutex);
    for (const TDWPersistentStorePtr &store : m_stores)
        if (store->path() == absolute)
            return store;
    return nullptr;
}

TDWPersistentStorePtr TDWPersistentStoreCoordinator::persistentStoreForIdentifier(const QString &identifier) const
{
    // Identifiers are lower case everywhere (URI hosts are lowered by QUrl too).
    std::shared_lock lock(m_mutex);
    return m_storesByIdentifier.value(identifier);
}

QList<TDWPersistentStorePtr> TDWPersistentStoreCoordinator::persistentStoresForEntity(const TDWEntityDescription &entity) const
{
    QList<TDWPersistentStorePtr> result;
    std::shared_lock lock(m_mutex);
    for (const TDWPersistentStorePtr &store : m_stores)
        if (store->holdsEntity(entity))
            result.append(store);
    return result;
}

TDWManagedObjectID TDWPersistentStoreCoordinator::managedObjectIDForURIRepresentation(const QUrl &uri) const
{
    const TDWManagedObjectID id = TDWManagedObjectID::fromURIRepresentation(uri);
    if (id.isNull())
        return {};
    const TDWEntityDescription *entity = m_model->entity(id.entityName());
    const TDWPersistentStorePtr store = persistentStoreForIdentifier(id.storeIdentifier());
    if (!entity || !store || !store->holdsEntity(*entity))
        return {};
    return id;
}

QVariantMap TDWPersistentStoreCoordinator::metadataForStoreAtPath(const QString &path, TDWError *error)
{
    return TDWPersistentStore::metadataForFile(path, error);
}

void TDWPersistentStoreCoordinator::postSaveNotification(const TDWSaveNotification &notification)
{
    emit contextDidSave(notification);
}
