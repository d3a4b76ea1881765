#pragma once

#include <QString>

// Replaces start-at-login entries of the older kind, autostart entries that
// start the application itself, by the launcher, so that a user who had the
// program start at login keeps that behaviour. Start-up runs it at every launch.
class TDWLoginItemMigrator
{
public:
    // Runs removeOldLoginItem() and, when it removed any, switches the launcher on.
    static void migrateLoginItem();
    // Removes every switched-on autostart entry whose program is the application:
    // one whose file name begins with "Tidewell" or "tidewell" (older builds and
    // copies elsewhere too, but never the launcher), or the running program
    // itself. Entries that cannot be read, and entries switched off, stay.
    // Answers whether it removed at least one.
    static bool removeOldLoginItem();

    // Whether an autostart entry running `program` starts the application;
    // `ownProgram` is the running program's path.
    static bool isOldApplicationProgram(const QString &program, const QString &ownProgram);
};
