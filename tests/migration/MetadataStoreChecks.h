#pragma once

#include <QString>
#include <QStringList>

// What an independent reader (the sqlite3 shell) sees of the metadata stores
// before and after an upgrade.
namespace migrationtest {

// The master store at dataPath, then the account-and-service store files it names that exist.
QStringList metadataStoreFiles(const QString &dataPath);
// Every table with its number of rows, one "Table=n" line each, by table name.
QString tableRowCounts(const QString &path);
// The file's "layoutVersion" metadata.
QString layoutVersion(const QString &path);
// Whether the table has the column.
bool hasColumn(const QString &path, const QString &table, const QString &column);
// PRAGMA integrity_check says ok and PRAGMA foreign_key_check finds nothing.
void expectSound(const QString &path);

} // namespace migrationtest
