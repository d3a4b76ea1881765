#include "loginitem/TDWLoginItemMgr.h"

#include "AutostartFolder.h"
#include "TestSupport.h"
#include "loginitem/TDWDesktopEntry.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {
const QString FailureLine = QStringLiteral("ERROR: SMLoginItemSetEnabled failed!");
const QString LauncherEntry = QStringLiteral("org.tidewell.TidewellLoginItem.desktop");
} // namespace

using TDWLoginItemMgrTest = AutostartFolder;

TEST_F(TDWLoginItemMgrTest, SwitchesTheLauncherOnAndOff)
{
    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWLoginItemMgr::inLoginItems());

    TDWLoginItemMgr::addToLoginItems();
    EXPECT_TRUE(TDWLoginItemMgr::inLoginItems());
    EXPECT_EQ(entryNames(), QStringList{LauncherEntry});
    TDWLoginItemMgr::addToLoginItems();
    EXPECT_EQ(entryNames(), QStringList{LauncherEntry});

    TDWLoginItemMgr::removeFromLoginItems();
    EXPECT_FALSE(TDWLoginItemMgr::inLoginItems());
    EXPECT_EQ(entryNames(), QStringList());
    TDWLoginItemMgr::removeFromLoginItems(); // nothing left to remove is no failure
    EXPECT_EQ(log.lines(), QStringList());
}

// The entry runs the installed launcher by name (not the one beside a program
// run from its build folder), names the application's icon and is listed in
// the desktop's start-up settings.
TEST_F(TDWLoginItemMgrTest, WrittenEntryRunsTheInstalledLauncherShowsItsIconAndValidates)
{
    TDWLoginItemMgr::addToLoginItems();
    const QString path = entryPath(LauncherEntry);
    EXPECT_EQ(desktopFileComplaints(path), QString());

    const std::optional<TDWDesktopEntry> entry = TDWDesktopEntry::read(path);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->execArguments(), QStringList{QStringLiteral("tidewell-loginitem")});
    EXPECT_EQ(entry->value(QStringLiteral("Icon")), QStringLiteral("org.tidewell.Tidewell"));
    EXPECT_FALSE(entry->contains(QStringLiteral("NoDisplay")));
    EXPECT_FALSE(entry->contains(QStringLiteral("Hidden")));
    EXPECT_EQ(entry->value(QStringLiteral("Type")), QStringLiteral("Application"));
    EXPECT_TRUE(entry->isEnabled());
}

TEST_F(TDWLoginItemMgrTest, CreatesAMissingAutostartFolder)
{
    ASSERT_TRUE(QDir(TDWLoginItemMgr::autostartFolder()).removeRecursively());
    TDWLoginItemMgr::addToLoginItems();
    EXPECT_TRUE(TDWLoginItemMgr::inLoginItems());
}

// An entry the user switched off in the desktop's settings is off; switching
// the launcher on again replaces it.
TEST_F(TDWLoginItemMgrTest, EntrySwitchedOffCountsAsOff)
{
    for (const QString &off : {QStringLiteral("Hidden=true\n"), QStringLiteral("X-GNOME-Autostart-enabled=false\n")}) {
        plant(LauncherEntry, QStringLiteral("Exec=/usr/bin/tidewell-loginitem\n") + off);
        EXPECT_FALSE(TDWLoginItemMgr::inLoginItems()) << off.toStdString();
        TDWLoginItemMgr::addToLoginItems();
        EXPECT_TRUE(TDWLoginItemMgr::inLoginItems()) << off.toStdString();
    }
    QFile garbage(entryPath(LauncherEntry));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly | QIODevice::Truncate));
    garbage.write("not an entry\n");
    garbage.close();
    EXPECT_FALSE(TDWLoginItemMgr::inLoginItems());
}

TEST_F(TDWLoginItemMgrTest, FailuresAreLoggedNotThrown)
{
    // A file where the autostart folder belongs: nothing can be written.
    ASSERT_TRUE(QDir(TDWLoginItemMgr::autostartFolder()).removeRecursively());
    QFile blocker(TDWLoginItemMgr::autostartFolder());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    {
        tdwtest::LogCapture log;
        TDWLoginItemMgr::addToLoginItems();
        EXPECT_EQ(log.lines(), QStringList{FailureLine});
        EXPECT_FALSE(TDWLoginItemMgr::inLoginItems());
    }
    ASSERT_TRUE(QFile::remove(TDWLoginItemMgr::autostartFolder()));

    // A non-empty folder in the entry's place cannot be unlinked.
    ASSERT_TRUE(QDir().mkpath(entryPath(LauncherEntry) + QStringLiteral("/inside")));
    tdwtest::LogCapture log;
    TDWLoginItemMgr::removeFromLoginItems();
    EXPECT_EQ(log.lines(), QStringList{FailureLine});
}
