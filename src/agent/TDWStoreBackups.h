#pragma once

#include <QDateTime>
#include <QString>

// The dated copies of the metadata stores that a backup run leaves in
// "Store Backups" of the application's data folder: at most one a day, none
// older than a week. Each store is copied as one consistent state with SQLite's
// online backup and checked, so writers elsewhere in the program may go on
// saving meanwhile.
class TDWStoreBackups
{
public:
    static constexpr qint64 MaxAgeSeconds = 604800;
    static constexpr qint64 MinIntervalSeconds = 86400;

    // Prunes snapshots older than a week and makes a new one unless one is less
    // than a day old. Failures are logged; none is passed on.
    static void backUpStoresIfNecessary();
    // Creates the folder at path (not its parents) and copies the stores into it.
    static bool backUpStoresTo(const QString &path);

    // A snapshot folder's name for its creation time: local "yyyy-MM-dd HH-mm-ss".
    static QString folderNameForDate(const QDateTime &date);
};
