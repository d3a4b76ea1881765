#include "platform/store/TDWStoreLayoutMigrator.h"

#include "platform/foundation/TDWTestKillPoint.h"
#include "platform/store/TDWPersistentStore.h"
#include "platform/store/TDWSqliteConnection.h"
#include "platform/store/TDWSqliteTransaction.h"
#include "platform/store/TDWStoreError.h"
#include "platform/store/TDWStoreMetadataKeys.h"
#include "platform/store/TDWStoreSchema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QStringList SideFileSuffixes{QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")};

TDWError fileError(const QString &text)
{
    return TDWStoreError::make(TDWStoreError::FileOperation, text);
}

bool removeSideFiles(const QString &path, TDWError *error)
{
    for (const QString &suffix : SideFileSuffixes) {
        QFile side(path + suffix);
        if (side.exists() && !side.remove()) {
            tdwSetError(error, fileError(QStringLiteral("Unable to delete %1: %2").arg(side.fileName(), side.errorString())));
            return false;
        }
    }
    return true;
}

// Folds the log into the file and closes it, so nothing of the file lives in a side file.
bool checkpointAndClose(const QString &path, TDWError *error)
{
    std::unique_ptr<TDWSqliteConnection> connection = TDWSqliteConnection::open(path, {}, error);
    if (!connection)
        return false;
    TDWTestKillPoint::beforeDurableWrite();
    TDWSqliteStatement checkpoint = connection->prepare(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"), error);
    if (!checkpoint.isValid() || checkpoint.step(error) != TDWSqliteStatement::Row)
        return false;
    if (checkpoint.int64At(0) != 0) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::Sqlite, QStringLiteral("%1 is in use: its log cannot be folded in").arg(path)));
        return false;
    }
    return true;
}

bool syncPath(const QString &path, int flags, TDWError *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    const int saved = errno;
    if (fd >= 0)
        ::close(fd);
    if (!synced)
        tdwSetError(error, fileError(QStringLiteral("Unable to sync %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(saved)))));
    return synced;
}

bool foreignKeysHold(TDWSqliteConnection &connection, const QString &path, TDWError *error)
{
    TDWSqliteStatement check = connection.prepare(QStringLiteral("PRAGMA foreign_key_check"), error);
    if (!check.isValid())
        return false;
    switch (check.step(error)) {
    case TDWSqliteStatement::Done:
        return true;
    case TDWSqliteStatement::Row:
        tdwSetError(error, TDWStoreError::make(TDWStoreError::Validation,
                                               QStringLiteral("A layout step left a row of %1 pointing at no row of %2").arg(check.textAt(0), path)));
        return false;
    case TDWSqliteStatement::Failed:
        return false;
    }
    return false;
}

} // namespace

TDWStoreLayoutMigrator::TDWStoreLayoutMigrator(std::shared_ptr<const TDWManagedObjectModel> model, QString configuration, QString path)
    : m_model(std::move(model))
    , m_configuration(std::move(configuration))
    , m_path(std::move(path))
{
}

bool TDWStoreLayoutMigrator::inspect(TDWError *error)
{
    m_state = TDWStoreLayoutState::Unknown;
    m_fileVersion = 0;
    const QVariantMap metadata = TDWPersistentStore::metadataForFile(m_path, error);
    if (metadata.isEmpty())
        return false;
    m_state = m_model->layoutStateOfStoreMetadata(m_configuration, metadata, &m_fileVersion);
    return true;
}

int TDWStoreLayoutMigrator::pendingSteps() const
{
    return m_state == TDWStoreLayoutState::Older ? m_model->layoutVersion(m_configuration) - m_fileVersion : 0;
}

bool TDWStoreLayoutMigrator::migrate(const std::function<void()> &stepDone, TDWError *error)
{
    switch (m_state) {
    case TDWStoreLayoutState::Current:
        return true;
    case TDWStoreLayoutState::Older:
        break;
    case TDWStoreLayoutState::Newer:
        tdwSetError(error, TDWStoreError::make(TDWStoreError::NewerLayout, QStringLiteral("%1 has layout %2 of \"%3\"; this program knows up to %4")
                                                                               .arg(m_path)
                                                                               .arg(m_fileVersion)
                                                                               .arg(m_configuration)
                                                                               .arg(m_model->layoutVersion(m_configuration))));
        return false;
    case TDWStoreLayoutState::Unknown:
        tdwSetError(error, TDWStoreError::make(TDWStoreError::IncompatibleVersion,
                                               QStringLiteral("%1 has no layout of \"%2\" that this program knows").arg(m_path, m_configuration)));
        return false;
    }
    while (m_fileVersion < m_model->layoutVersion(m_configuration)) {
        const TDWStoreLayoutStep *step = m_model->layoutStepFrom(m_configuration, m_fileVersion);
        if (!step->rebuild) {
            if (!runInPlace(stepDone, error))
                return false;
            continue;
        }
        if (!runRebuild(*step, error))
            return false;
        ++m_fileVersion;
        if (stepDone)
            stepDone();
    }
    m_state = TDWStoreLayoutState::Current;
    return true;
}

QVariantMap TDWStoreLayoutMigrator::metadataOfVersion(int version) const
{
    QVariantMap metadata{
        {TDWStoreMetadataKeys::LayoutVersion, version},
        {TDWStoreMetadataKeys::VersionHash, m_model->versionHashOfLayout(m_configuration, version)},
    };
    if (version == m_model->layoutVersion(m_configuration))
        metadata.insert(TDWStoreMetadataKeys::ModelVersion, m_model->versionIdentifier());
    return metadata;
}

bool TDWStoreLayoutMigrator::runInPlace(const std::function<void()> &stepDone, TDWError *error)
{
    std::unique_ptr<TDWSqliteConnection> connection = TDWSqliteConnection::open(m_path, {}, error);
    // Off for the steps, so a table can be rebuilt under rows that point at it;
    // the check before the commit still refuses a dangling row.
    if (!connection || !connection->exec(QStringLiteral("PRAGMA foreign_keys=OFF"), error))
        return false;
    TDWSqliteTransaction transaction(*connection);
    if (!transaction.begin(error))
        return false;
    // Every in-place step up to the next rebuild in this one transaction: the
    // file is either as it was or at the version after all of them.
    int version = m_fileVersion;
    for (const TDWStoreLayoutStep *step; (step = m_model->layoutStepFrom(m_configuration, version)) && !step->rebuild; ++version) {
        if (!step->apply(*connection, *m_model, error))
            return false;
        if (stepDone)
            stepDone();
    }
    if (!foreignKeysHold(*connection, m_path, error) || !TDWStoreSchema::writeMetadata(*connection, metadataOfVersion(version), error))
        return false;
    TDWTestKillPoint::beforeDurableWrite();
    if (!transaction.commit(error))
        return false;
    m_fileVersion = version;
    return true;
}

bool TDWStoreLayoutMigrator::runRebuild(const TDWStoreLayoutStep &step, TDWError *error)
{
    const QString newPath = rebuildPath(m_path);
    removeLeftover(newPath);
    const bool built = [&] {
        if (!TDWPersistentStore::copyFile(m_path, newPath, error))
            return false;
        std::unique_ptr<TDWSqliteConnection> connection = TDWSqliteConnection::open(newPath, {}, error);
        if (!connection || !connection->exec(QStringLiteral("PRAGMA foreign_keys=OFF"), error) || !step.apply(*connection, *m_model, error)
            || !foreignKeysHold(*connection, newPath, error))
            return false;
        TDWSqliteTransaction transaction(*connection);
        return transaction.begin(error) && TDWStoreSchema::writeMetadata(*connection, metadataOfVersion(m_fileVersion + 1), error) && transaction.commit(error);
    }();
    if (built && replaceFile(newPath, m_path, error))
        return true;
    removeLeftover(newPath);
    return false;
}

QString TDWStoreLayoutMigrator::rebuildPath(const QString &path)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    return info.dir().filePath(info.completeBaseName() + QStringLiteral("New") + suffix);
}

bool TDWStoreLayoutMigrator::replaceFile(const QString &newPath, const QString &path, TDWError *error)
{
    if (!checkpointAndClose(newPath, error) || !removeSideFiles(newPath, error))
        return false;
    // The old file's log folded in before it goes: from here until the rename
    // the old file alone is the whole old store.
    if (!checkpointAndClose(path, error) || !removeSideFiles(path, error))
        return false;
    if (!syncPath(newPath, O_RDONLY, error))
        return false;
    TDWTestKillPoint::beforeDurableWrite();
    if (std::rename(QFile::encodeName(newPath).constData(), QFile::encodeName(path).constData()) != 0) {
        tdwSetError(error, fileError(QStringLiteral("Unable to move %1 to %2: %3").arg(newPath, path, QString::fromLocal8Bit(std::strerror(errno)))));
        return false;
    }
    return syncPath(QFileInfo(path).absolutePath(), O_RDONLY | O_DIRECTORY, error);
}

void TDWStoreLayoutMigrator::removeLeftover(const QString &path)
{
    removeSideFiles(path, nullptr);
    QFile::remove(path);
}
