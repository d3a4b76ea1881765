#include "platform/store/TDWPersistentStore.h"

#include "platform/foundation/TDWTestKillPoint.h"
#include "platform/store/TDWManagedObjectModel.h"
#include "platform/store/TDWSqliteTransaction.h"
#include "platform/store/TDWStoreLayoutMigrator.h"
#include "platform/store/TDWStoreError.h"
#include "platform/store/TDWStoreMetadataKeys.h"
#include "platform/store/TDWStoreSchema.h"

#include <QFile>
#include <QStringList>
#include <QUuid>

#include <sqlite3.h>

#include <atomic>

namespace {

// Idle connections kept per store; more are opened when threads need them at once.
constexpr size_t MaxIdleConnections = 4;

std::atomic<quint64> g_nextSequenceNumber{1};

} // namespace

TDWPersistentStore::Lease::Lease(std::shared_ptr<TDWPersistentStore> store, std::unique_ptr<TDWSqliteConnection> connection)
    : m_store(std::move(store))
    , m_connection(std::move(connection))
{
}

TDWPersistentStore::Lease &TDWPersistentStore::Lease::operator=(Lease &&other) noexcept
{
    if (this != &other) {
        giveBack();
        m_store = std::move(other.m_store);
        m_connection = std::move(other.m_connection);
    }
    return *this;
}

TDWPersistentStore::Lease::~Lease()
{
    giveBack();
}

void TDWPersistentStore::Lease::giveBack()
{
    if (m_store && m_connection)
        m_store->giveBack(std::move(m_connection));
    m_connection.reset();
    m_store.reset();
}

TDWPersistentStore::TDWPersistentStore(std::shared_ptr<const TDWManagedObjectModel> model, QString configuration, QString path,
                                       Options options)
    : m_model(std::move(model))
    , m_configuration(std::move(configuration))
    , m_path(std::move(path))
    , m_options(options)
    , m_sequenceNumber(g_nextSequenceNumber.fetch_add(1))
{
}

std::unique_ptr<TDWSqliteConnection> TDWPersistentStore::openConnection(bool create, TDWError *error) const
{
    TDWSqliteConnection::Options options;
    options.readOnly = m_options.readOnly;
    options.create = create;
    return TDWSqliteConnection::open(m_path, options, error);
}

std::shared_ptr<TDWPersistentStore> TDWPersistentStore::open(std::shared_ptr<const TDWManagedObjectModel> model, const QString &configuration,
                                                             const QString &path, const Options &options, TDWError *error)
{
    if (!model->hasConfiguration(configuration)) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::UnknownConfiguration,
                                               QStringLiteral("The model has no configuration \"%1\"").arg(configuration)));
        return nullptr;
    }
    if (QFile::exists(path) && !bringLayoutForward(model, configuration, path, options, error))
        return nullptr;
    std::shared_ptr<TDWPersistentStore> store(new TDWPersistentStore(std::move(model), configuration, path, options));
    std::unique_ptr<TDWSqliteConnection> connection = store->openConnection(!options.readOnly, error);
    if (!connection || !store->initialize(std::move(connection), error))
        return nullptr;
    return store;
}

bool TDWPersistentStore::bringLayoutForward(const std::shared_ptr<const TDWManagedObjectModel> &model, const QString &configuration,
                                            const QString &path, const Options &options, TDWError *error)
{
    // Looked at read-only first: a writer's connection would fold the log into
    // the file when it closes, and a file of a newer layout must stay as it is.
    TDWStoreLayoutMigrator migrator(model, configuration, path);
    TDWError inspectError;
    if (!migrator.inspect(&inspectError)) {
        // Not (yet) one of ours: initialize() creates an empty file's schema or refuses it.
        if (inspectError.code() == TDWStoreError::NotAStore)
            return true;
        tdwSetError(error, inspectError);
        return false;
    }
    switch (migrator.state()) {
    case TDWStoreLayoutState::Current:
    case TDWStoreLayoutState::Unknown: // refused by initialize(), with the file's own words
        return true;
    case TDWStoreLayoutState::Newer:
        return migrator.migrate({}, error); // refuses it (NewerLayout), touching nothing
    case TDWStoreLayoutState::Older:
        if (options.migrate && !options.readOnly)
            return migrator.migrate({}, error);
        tdwSetError(error, TDWStoreError::make(TDWStoreError::OlderLayout, QStringLiteral("%1 has layout %2 of \"%3\"; it must be migrated to layout %4")
                                                                               .arg(path)
                                                                               .arg(migrator.fileVersion())
                                                                               .arg(configuration)
                                                                               .arg(model->layoutVersion(configuration))));
        return false;
    }
    return false;
}

bool TDWPersistentStore::initialize(std::unique_ptr<TDWSqliteConnection> connection, TDWError *error)
{
    TDWError readError;
    QVariantMap metadata = TDWStoreSchema::readMetadata(*connection, &readError);
    if (!readError.isNull()) {
        tdwSetError(error, readError);
        return false;
    }
    if (metadata.isEmpty()) {
        bool empty = false;
        if (!TDWStoreSchema::isEmpty(*connection, &empty, error))
            return false;
        // A file that is not ours is left exactly as it is.
        if (!empty || m_options.readOnly) {
            tdwSetError(error, TDWStoreError::make(TDWStoreError::NotAStore, QStringLiteral("%1 is not a Tidewell store").arg(m_path)));
            return false;
        }
        if (!connection->exec(QStringLiteral("PRAGMA journal_mode=WAL"), error))
            return false;
        // Another process may be creating the same file; the write lock decides who does,
        // and the loser finds the metadata on its second look.
        TDWSqliteTransaction transaction(*connection);
        if (!transaction.begin(error))
            return false;
        metadata = TDWStoreSchema::readMetadata(*connection, error);
        if (metadata.isEmpty()) {
            const QString identifier = QUuid::createUuid().toString(QUuid::WithoutBraces);
            if (!TDWStoreSchema::create(*connection, *m_model, m_configuration, identifier, error))
                return false;
            metadata = TDWStoreSchema::readMetadata(*connection, error);
        }
        if (!transaction.commit(error))
            return false;
    }
    if (!m_model->isConfigurationCompatibleWithStoreMetadata(m_configuration, metadata)) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::IncompatibleVersion,
                                               QStringLiteral("%1 holds configuration \"%2\" of model %3, not configuration \"%4\" of model %5")
                                                   .arg(m_path, metadata.value(TDWStoreMetadataKeys::Configuration).toString(),
                                                        metadata.value(TDWStoreMetadataKeys::ModelVersion).toString(), m_configuration,
                                                        m_model->versionIdentifier()),
                                               {{QStringLiteral("metadata"), metadata}}));
        return false;
    }
    if (!m_options.readOnly && !connection->exec(QStringLiteral("PRAGMA journal_mode=WAL"), error))
        return false;
    if (!m_options.readOnly && metadata.value(TDWStoreMetadataKeys::IndexHash).toString() != m_model->indexHash(m_configuration)) {
        TDWSqliteTransaction transaction(*connection);
        if (!transaction.begin(error) || !TDWStoreSchema::rebuildIndexes(*connection, *m_model, m_configuration, error)
            || !transaction.commit(error))
            return false;
        metadata.insert(TDWStoreMetadataKeys::IndexHash, m_model->indexHash(m_configuration));
    }
    m_identifier = metadata.value(TDWStoreMetadataKeys::StoreIdentifier).toString().toLower();
    m_metadata = metadata;
    m_idle.push_back(std::move(connection));
    return true;
}

QVariantMap TDWPersistentStore::metadataForFile(const QString &path, TDWError *error)
{
    if (!QFile::exists(path)) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::FileOperation, QStringLiteral("No store file at %1").arg(path)));
        return {};
    }
    TDWSqliteConnection::Options options;
    options.readOnly = true;
    std::unique_ptr<TDWSqliteConnection> connection = TDWSqliteConnection::open(path, options, error);
    if (!connection)
        return {};
    TDWError readError;
    const QVariantMap metadata = TDWStoreSchema::readMetadata(*connection, &readError);
    if (metadata.isEmpty())
        tdwSetError(error, readError.isNull()
                               ? TDWStoreError::make(TDWStoreError::NotAStore, QStringLiteral("%1 is not a Tidewell store").arg(path))
                               : readError);
    return metadata;
}

bool TDWPersistentStore::holdsEntity(const TDWEntityDescription &entity) const
{
    return entity.belongsToConfiguration(m_configuration);
}

QVariantMap TDWPersistentStore::metadata() const
{
    std::lock_guard lock(m_mutex);
    return m_metadata;
}

bool TDWPersistentStore::setMetadata(const QVariantMap &values, TDWError *error)
{
    if (!canWriteMetadata(values, error))
        return false;
    Lease connection = acquire(error);
    if (!connection.isValid())
        return false;
    std::lock_guard writeLock(m_writeMutex);
    TDWSqliteTransaction transaction(*connection);
    if (!transaction.begin(error) || !TDWStoreSchema::writeMetadata(*connection, values, error) || !transaction.commit(error))
        return false;
    rememberMetadata(values);
    return true;
}

bool TDWPersistentStore::canWriteMetadata(const QVariantMap &values, TDWError *error) const
{
    if (m_options.readOnly) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::ReadOnly, QStringLiteral("%1 is read-only").arg(m_path)));
        return false;
    }
    for (const QString &key : {TDWStoreMetadataKeys::Configuration, TDWStoreMetadataKeys::StoreIdentifier, TDWStoreMetadataKeys::ModelVersion,
                               TDWStoreMetadataKeys::VersionHash, TDWStoreMetadataKeys::IndexHash}) {
        if (values.contains(key)) {
            tdwSetError(error, TDWStoreError::make(TDWStoreError::InvalidArgument, QStringLiteral("Metadata key \"%1\" is the store's own").arg(key)));
            return false;
        }
    }
    return true;
}

void TDWPersistentStore::rememberMetadata(const QVariantMap &values)
{
    std::lock_guard lock(m_mutex);
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        if (it.value().isNull())
            m_metadata.remove(it.key());
        else
            m_metadata.insert(it.key(), it.value());
    }
}

bool TDWPersistentStore::copyToPath(const QString &destination, TDWError *error)
{
    Lease source = acquire(error);
    return source.isValid() && copyDatabase(*source, destination, error);
}

bool TDWPersistentStore::copyFile(const QString &source, const QString &destination, TDWError *error)
{
    if (!QFile::exists(source)) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::FileOperation, QStringLiteral("No store file at %1").arg(source)));
        return false;
    }
    TDWSqliteConnection::Options options;
    options.readOnly = true;
    std::unique_ptr<TDWSqliteConnection> connection = TDWSqliteConnection::open(source, options, error);
    return connection && copyDatabase(*connection, destination, error);
}

bool TDWPersistentStore::copyDatabase(TDWSqliteConnection &source, const QString &destination, TDWError *error)
{
    TDWSqliteConnection::Options options;
    options.create = true;
    std::unique_ptr<TDWSqliteConnection> target = TDWSqliteConnection::open(destination, options, error);
    if (!target)
        return false;
    const auto copied = [&] {
        sqlite3_backup *backup = sqlite3_backup_init(target->handle(), "main", source.handle(), "main");
        if (!backup) {
            tdwSetError(error, target->errorFor(sqlite3_errcode(target->handle()), QStringLiteral("backup")));
            return false;
        }
        // One step copies everything within one read transaction of the source,
        // so the copy is one consistent state even while others write.
        TDWTestKillPoint::beforeDurableWrite();
        const int rc = sqlite3_backup_step(backup, -1);
        sqlite3_backup_finish(backup);
        if (rc != SQLITE_DONE) {
            tdwSetError(error, target->errorFor(rc, QStringLiteral("backup")));
            return false;
        }
        // The copy stands alone: no log file next to it.
        return target->exec(QStringLiteral("PRAGMA journal_mode=DELETE"), error) && checkIntegrity(*target, error);
    }();
    target.reset();
    if (!copied) {
        // A copy that cannot be trusted must not pass for one.
        for (const QString &suffix : {QString(), QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QFile::remove(destination + suffix);
    }
    return copied;
}

bool TDWPersistentStore::checkIntegrity(TDWSqliteConnection &connection, TDWError *error)
{
    TDWSqliteStatement check = connection.prepare(QStringLiteral("PRAGMA integrity_check"), error);
    if (!check.isValid())
        return false;
    QStringList problems;
    TDWSqliteStatement::StepResult result;
    while ((result = check.step(error)) == TDWSqliteStatement::Row)
        problems.append(check.textAt(0));
    if (result == TDWSqliteStatement::Failed)
        return false;
    if (problems == QStringList{QStringLiteral("ok")})
        return true;
    tdwSetError(error, TDWStoreError::make(TDWStoreError::Sqlite, QStringLiteral("%1 failed its integrity check: %2")
                                                                      .arg(connection.path(), problems.join(QStringLiteral("; ")))));
    return false;
}

bool TDWPersistentStore::isRemoved() const
{
    std::lock_guard lock(m_mutex);
    return m_removed;
}

TDWPersistentStore::Lease TDWPersistentStore::acquire(TDWError *error)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_removed) {
            tdwSetError(error, TDWStoreError::make(TDWStoreError::StoreRemoved, QStringLiteral("The store %1 has been removed").arg(m_path)));
            return {};
        }
        if (!m_idle.empty()) {
            std::unique_ptr<TDWSqliteConnection> connection = std::move(m_idle.back());
            m_idle.pop_back();
            return Lease(shared_from_this(), std::move(connection));
        }
    }
    std::unique_ptr<TDWSqliteConnection> connection = openConnection(false, error);
    if (!connection)
        return {};
    return Lease(shared_from_this(), std::move(connection));
}

void TDWPersistentStore::giveBack(std::unique_ptr<TDWSqliteConnection> connection)
{
    // A connection must never go back with a transaction open (a failed path that
    // forgot to roll back would otherwise hold the write lock forever).
    connection->rollback();
    std::lock_guard lock(m_mutex);
    if (!m_removed && m_idle.size() < MaxIdleConnections)
        m_idle.push_back(std::move(connection));
}

void TDWPersistentStore::markRemoved()
{
    std::vector<std::unique_ptr<TDWSqliteConnection>> closing;
    {
        std::lock_guard lock(m_mutex);
        m_removed = true;
        closing.swap(m_idle);
    }
}
