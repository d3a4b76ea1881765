#include "migration/TDWMigrationManager.h"

#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWMetadataModel.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWSqliteConnection.h"
#include "platform/store/TDWStoreLayoutMigrator.h"

#include <QElapsedTimer>
#include <QFileInfo>

TDWMigrationManager::TDWMigrationManager(std::shared_ptr<const TDWManagedObjectModel> model)
    : m_model(model ? std::move(model) : TDWMasterStore::shared().managedObjectModel())
{
}

TDWMigrationManager::~TDWMigrationManager() = default;

QList<std::shared_ptr<TDWStoreLayoutMigrator>> TDWMigrationManager::storeMigrators(const QString &dataPath)
{
    QList<std::shared_ptr<TDWStoreLayoutMigrator>> migrators{
        std::make_shared<TDWStoreLayoutMigrator>(m_model, TDWMetadataModel::MasterConfiguration, dataPath)};
    // Read with plain SQL, not the model: the master store may still have an earlier layout.
    TDWSqliteConnection::Options readOnly;
    readOnly.readOnly = true;
    TDWError error;
    std::unique_ptr<TDWSqliteConnection> connection = TDWSqliteConnection::open(dataPath, readOnly, &error);
    TDWSqliteStatement names =
        connection ? connection->prepare(QStringLiteral("SELECT storeFilename FROM AccountServiceSetting WHERE storeFilename IS NOT NULL"), &error)
                   : TDWSqliteStatement();
    if (!names.isValid()) {
        tdwLog(QStringLiteral("ERROR: Unable to find source objects: %1").arg(error.localizedDescription()));
        return {};
    }
    for (TDWSqliteStatement::StepResult result; (result = names.step(&error)) != TDWSqliteStatement::Done;) {
        if (result == TDWSqliteStatement::Failed) {
            tdwLog(QStringLiteral("ERROR: Unable to retrieve objects in batch: %1").arg(error.localizedDescription()));
            return {};
        }
        const QString path = TDWStoreMgr::pathForStoreFilename(names.textAt(0));
        // A store not made yet is made with the current layout on first use.
        if (QFileInfo(path).size() > 0)
            migrators.append(std::make_shared<TDWStoreLayoutMigrator>(m_model, TDWMetadataModel::AccountServiceConfiguration, path));
    }
    return migrators;
}

std::shared_ptr<TDWPersistentStoreCoordinator> TDWMigrationManager::migrateFrom(const QString &dataPath)
{
    QElapsedTimer totalTime;
    totalTime.start();
    const QList<std::shared_ptr<TDWStoreLayoutMigrator>> migrators = storeMigrators(dataPath);
    if (migrators.isEmpty())
        return nullptr;
    qint64 total = 0;
    for (const auto &migrator : migrators) {
        TDWError error;
        if (!migrator->inspect(&error)) {
            tdwLog(QStringLiteral("ERROR: Unable to find source objects: %1").arg(error.localizedDescription()));
            return nullptr;
        }
        // A newer program's file, or one of no layout we know: never read as ours.
        if (migrator->state() == TDWStoreLayoutState::Newer || migrator->state() == TDWStoreLayoutState::Unknown) {
            tdwLog(QStringLiteral("ERROR: Unable to find source model."));
            return nullptr;
        }
        total += migrator->pendingSteps();
    }
    m_numRecordsTotal = total;
    for (const auto &migrator : migrators) {
        if (migrator->state() == TDWStoreLayoutState::Current)
            continue;
        tdwLog(QStringLiteral("before %1").arg(QFileInfo(migrator->path()).fileName()));
        TDWError error;
        if (!migrator->migrate([this] { stepDone(); }, &error)) {
            tdwLog(QStringLiteral("Exception migrating data: %1").arg(error.localizedDescription()));
            return nullptr;
        }
    }
    auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(m_model);
    TDWError error;
    if (!coordinator->addPersistentStore(TDWMetadataModel::MasterConfiguration, dataPath, {}, &error)) {
        tdwLog(QStringLiteral("ERROR: Unable to add persistent store to destination persistent store coodinator: %1").arg(error.localizedDescription()));
        return nullptr;
    }
    tdwLog(QStringLiteral("totalTime: %1").arg(double(totalTime.nsecsElapsed()) / 1e9, 0, 'f', 6));
    return coordinator;
}

bool TDWMigrationManager::storesNeedMigration(const QString &dataPath)
{
    // A file that cannot be read at all is no matter of layouts: opening it reports that.
    for (const auto &migrator : storeMigrators(dataPath))
        if (migrator->inspect(nullptr) && migrator->state() != TDWStoreLayoutState::Current)
            return true;
    return false;
}

void TDWMigrationManager::stepDone()
{
    ++m_numRecordsMigrated;
    if (m_numRecordsMigrated > m_numRecordsTotal)
        return;
    const float progress = float(double(m_numRecordsMigrated) / double(m_numRecordsTotal));
    if (progress <= m_progress)
        return;
    m_progress = progress;
    emit tdwMigrationProgressChanged(progress);
}
