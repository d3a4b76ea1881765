#pragma once

#include <QString>

// Starting the program at login. The launcher tidewell-loginitem, which opens
// the application, is registered as an XDG autostart entry in the user's
// autostart folder ($XDG_CONFIG_HOME/autostart), named after the launcher's
// identifier; that name is the only key the three operations use. The entry
// runs the installed launcher by its name, found on the session's search
// path, never one in a build folder that may be gone by the next login; it
// stays visible in the desktop's start-up settings, where the user can
// switch it off.
class TDWLoginItemMgr
{
public:
    // The application's identifier followed by "LoginItem".
    static inline const QString LauncherIdentifier = QStringLiteral("org.tidewell.TidewellLoginItem");
    static inline const QString LauncherProgram = QStringLiteral("tidewell-loginitem");
    // The icon installed with the application, which its entries name.
    static inline const QString ApplicationIcon = QStringLiteral("org.tidewell.Tidewell");

    // Writes the launcher's entry, switched on. A failure is only logged.
    static void addToLoginItems();
    // Removes the launcher's entry. A failure is only logged.
    static void removeFromLoginItems();
    // Whether the launcher's entry exists and is switched on.
    static bool inLoginItems();

    static QString autostartFolder();
    static QString launcherEntryPath();
};
