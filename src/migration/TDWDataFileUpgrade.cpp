#include "migration/TDWDataFileUpgrade.h"

#include "common/TDWFileMgr.h"
#include "common/TDWSettingsKeys.h"
#include "migration/TDWMigrationManager.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWSafeFile.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/store/TDWPersistentStore.h"
#include "platform/store/TDWSqlValueCodec.h"
#include "platform/store/TDWStoreLayoutMigrator.h"

#include <QDir>
#include <QFileInfo>

std::shared_ptr<TDWPersistentStoreCoordinator> TDWDataFileUpgrade::run(TDWMigrationManager &manager, const QString &dataPath, const QDateTime &now)
{
    // A leftover of an interrupted rebuild; failing to remove it is not fatal,
    // a rebuild removes it again before making its own.
    TDWStoreLayoutMigrator::removeLeftover(TDWStoreLayoutMigrator::rebuildPath(dataPath));
    const QString backup = backupPath(dataPath, now);
    // Filled under a temporary name and named only once whole, so a kill
    // during the copy leaves nothing that passes for a dated copy (the
    // start-up sweeps the temporary file).
    TDWSafeFile copy(backup, TDWPrivateFiles::FileMode, TDWSafeFile::Target::CreateOnly);
    TDWError error;
    if (!copy.open(&error) || !TDWPersistentStore::copyFile(dataPath, copy.temporaryPath(), &error) || !copy.commit(&error)) {
        tdwLog(QStringLiteral("ERROR: Unable to copy %1 to %2: %3").arg(dataPath, backup, error.localizedDescription()));
        return nullptr;
    }
    std::shared_ptr<TDWPersistentStoreCoordinator> coordinator = manager.migrateFrom(dataPath);
    if (!coordinator) {
        tdwLog(QStringLiteral("Migration failed."));
        return nullptr;
    }
    tdwLog(QStringLiteral("migration success!"));
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    defaults->setBool(true, TDWSettingsKeys::SetSortTitles);
    defaults->setBool(true, TDWSettingsKeys::SetFolderTypes);
    defaults->synchronize();
    cleanDocsFolder(TDWFileMgr::backedUpItemsPathForService(QStringLiteral("docs")));
    return coordinator;
}

QString TDWDataFileUpgrade::backupPath(const QString &dataPath, const QDateTime &now)
{
    const QString seconds = QString::number(TDWSqlValueCodec::secondsSinceReferenceDate(now), 'f', 6);
    return QFileInfo(dataPath).dir().filePath(QStringLiteral("TidewellData_backup_%1.sqlite3").arg(seconds));
}

void TDWDataFileUpgrade::cleanDocsFolder(const QString &folder)
{
    const QDir dir(folder);
    if (!dir.exists())
        return;
    const QStringList entries = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    QStringList stale;
    for (const QString &entry : entries)
        if (entry.size() == 14 && entry.startsWith(QLatin1String("account.")))
            stale.append(entry);
    if (entries.size() != 2 * stale.size())
        return;
    // Files only: a folder of that name may hold backed-up items.
    for (const QString &entry : std::as_const(stale))
        QFile::remove(dir.filePath(entry));
}
