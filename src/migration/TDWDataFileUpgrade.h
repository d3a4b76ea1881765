#pragma once

#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QDateTime>
#include <QString>

#include <memory>

class TDWMigrationManager;

// The store work of the upgrade window, on its worker thread: clears what an
// interrupted earlier attempt left, keeps a dated copy of the master store
// (through SQLite's backup API, so rows still in its log are in the copy; named
// only once whole; no copy, no upgrade), migrates the stores, and tidies up
// after a success.
class TDWDataFileUpgrade
{
public:
    // The coordinator of the migrated master store at dataPath, or null on
    // failure (logged); the stores are then as the failure left them (see
    // TDWMigrationManager) and the dated copy stays.
    static std::shared_ptr<TDWPersistentStoreCoordinator> run(TDWMigrationManager &manager, const QString &dataPath, const QDateTime &now);

    // "TidewellData_backup_%f.sqlite3" beside the data file, %f the seconds since
    // 1 January 2001 UTC with six decimals.
    static QString backupPath(const QString &dataPath, const QDateTime &now);
    // Removes the 14-character "account." entries an old release left beside the
    // account folders of the docs items folder: only when there is exactly one such
    // entry per other entry.
    static void cleanDocsFolder(const QString &folder);
};
