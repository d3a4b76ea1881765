#pragma once

#include <QString>
#include <QStringList>

// What the program does to its folders when it starts, before anything else
// writes there: the data folder, the settings folder and the backup folder
// the user chose (the default one lies inside the data folder).
// Only the one running instance may call it: another's files may be
// half-written at this very moment.
class TDWFileUpkeep
{
public:
    // The settings key listing the folders already made private.
    static inline const QString MadePrivateKey = QStringLiteral("foldersMadePrivate");

    // The folders above; the chosen backup folder only when there is one.
    static QStringList foldersAtStartup(const QString &dataDir, const QString &configDir);

    // Removes the half-written files a killed run left in those folders (the
    // files they were to replace are intact, so the leftovers are only in the
    // way), and makes private, once for each folder, what earlier versions
    // left readable by others there. A folder where some entry could not be
    // changed is walked again at the next start.
    static void atStartup(const QString &dataDir, const QString &configDir);
};
