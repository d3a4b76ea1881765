#include "loginitem/TDWLoginItemMgr.h"

#include "loginitem/TDWDesktopEntry.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWSafeFile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <unistd.h>

namespace {

const QString FailureLine = QStringLiteral("ERROR: SMLoginItemSetEnabled failed!");

bool writeLauncherEntry()
{
    if (!QDir().mkpath(TDWLoginItemMgr::autostartFolder()))
        return false;
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Tidewell\n"
                                        "Comment=Opens Tidewell at login\n"
                                        "Exec=%1\n"
                                        "Icon=%2\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(TDWDesktopEntry::execValueForArgument(TDWLoginItemMgr::LauncherProgram), TDWLoginItemMgr::ApplicationIcon);
    return TDWSafeFile::write(TDWLoginItemMgr::launcherEntryPath(), text.toUtf8(), nullptr);
}

bool removeLauncherEntry()
{
    return ::unlink(QFile::encodeName(TDWLoginItemMgr::launcherEntryPath()).constData()) == 0 || errno == ENOENT;
}

} // namespace

void TDWLoginItemMgr::addToLoginItems()
{
    if (!writeLauncherEntry())
        tdwLog(FailureLine);
}

void TDWLoginItemMgr::removeFromLoginItems()
{
    if (!removeLauncherEntry())
        tdwLog(FailureLine);
}

bool TDWLoginItemMgr::inLoginItems()
{
    const std::optional<TDWDesktopEntry> entry = TDWDesktopEntry::read(launcherEntryPath());
    return entry && entry->isEnabled();
}

QString TDWLoginItemMgr::autostartFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).filePath(QStringLiteral("autostart"));
}

QString TDWLoginItemMgr::launcherEntryPath()
{
    return QDir(autostartFolder()).filePath(LauncherIdentifier + QStringLiteral(".desktop"));
}
