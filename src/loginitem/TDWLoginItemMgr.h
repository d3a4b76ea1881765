#pragma once

#include <QString>

// Starting the program at login. The launcher tidewell-loginitem, which opens
// the application, is registered as an XDG autostart entry in the user's
// autostart folder ($XDG_CONFIG_HOME/autostart), named after the launcher's
// identifier; that name is the only key the three operations use.
class TDWLoginItemMgr
{
public:
    // The application's identifier followed by "LoginItem".
    static inline const QString LauncherIdentifier = QStringLiteral("org.tidewell.TidewellLoginItem");
    static inline const QString LauncherProgram = QStringLiteral("tidewell-loginitem");

    // Writes the launcher's entry, switched on. A failure is only logged.
    static void addToLoginItems();
    // Removes the launcher's entry. A failure is only logged.
    static void removeFromLoginItems();
    // Whether the launcher's entry exists and is switched on.
    static bool inLoginItems();

    static QString autostartFolder();
    static QString launcherEntryPath();
    // The launcher in the folder of the running program.
    static QString launcherPath();
};
