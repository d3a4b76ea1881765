#include "loginitem/TDWLoginItemMigrator.h"

#include "loginitem/TDWDesktopEntry.h"
#include "loginitem/TDWLoginItemMgr.h"
#include "platform/foundation/TDWLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Removes the entry at `path` when it starts the application; answers whether it did.
bool removeIfOld(const QString &path, const QString &ownProgram)
{
    const std::optional<TDWDesktopEntry> entry = TDWDesktopEntry::read(path);
    if (!entry || !entry->isEnabled())
        return false; // unreadable, or switched off (it may be hiding a system-wide entry)
    const std::optional<QStringList> arguments = entry->execArguments();
    if (!arguments || !TDWLoginItemMigrator::isOldApplicationProgram(arguments->first(), ownProgram))
        return false;
    if (!QFile::remove(path)) {
        tdwLog(QStringLiteral("ERROR: could not remove the old login item %1").arg(path));
        return false;
    }
    return true;
}

} // namespace

void TDWLoginItemMigrator::migrateLoginItem()
{
    if (removeOldLoginItem())
        TDWLoginItemMgr::addToLoginItems();
}

bool TDWLoginItemMigrator::removeOldLoginItem()
{
    const QString ownProgram = QCoreApplication::applicationFilePath();
    const QString launcherEntry = QFileInfo(TDWLoginItemMgr::launcherEntryPath()).fileName();
    const QDir folder(TDWLoginItemMgr::autostartFolder());
    bool removed = false;
    for (const QString &name : folder.entryList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Hidden)) {
        if (name != launcherEntry && removeIfOld(folder.filePath(name), ownProgram))
            removed = true;
    }
    return removed;
}

bool TDWLoginItemMigrator::isOldApplicationProgram(const QString &program, const QString &ownProgram)
{
    const QFileInfo info(program);
    const QString canonical = info.canonicalFilePath();
    if (program == ownProgram || (!canonical.isEmpty() && canonical == QFileInfo(ownProgram).canonicalFilePath()))
        return true;
    const QString name = info.fileName();
    if (name.startsWith(TDWLoginItemMgr::LauncherProgram))
        return false;
    return name.startsWith(QLatin1String("Tidewell")) || name.startsWith(QLatin1String("tidewell"));
}
