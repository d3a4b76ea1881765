#include "loginitem/TDWLoginItemMigrator.h"

#include "AutostartFolder.h"
#include "TestSupport.h"
#include "loginitem/TDWLoginItemMgr.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {
const QString LauncherEntry = QStringLiteral("org.tidewell.TidewellLoginItem.desktop");
} // namespace

using TDWLoginItemMigratorTest = AutostartFolder;

// Entries of other programs, entries that cannot be read and entries switched
// off stay as they are, and the launcher is left off.
TEST_F(TDWLoginItemMigratorTest, LeavesEverythingElseAlone)
{
    const QString bodies[] = {
        QStringLiteral("Exec=/usr/bin/MyTidewell\n"),
        QStringLiteral("Exec=/opt/backup-tidewell --daily\n"),
        QStringLiteral("Exec=\"/opt/Sync for Tidewell/sync\"\n"),
        QStringLiteral("Exec=/opt/Tidewell/bin/tidewell-loginitem\n"), // a launcher, not the application
        QStringLiteral("Exec=env LANG=C tidewell\n"),
        QStringLiteral("Exec=\"/opt/Tidewell/tidewell\n"),              // broken quoting
        QStringLiteral("Comment=no Exec line\n"),
        QStringLiteral("Exec=/opt/old/Tidewell\nHidden=true\n"),        // switched off, may hide a system entry
        QStringLiteral("Exec=tidewell\nX-GNOME-Autostart-enabled=false\n"),
    };
    for (int i = 0; i < int(std::size(bodies)); ++i)
        plant(QStringLiteral("entry%1.desktop").arg(i), bodies[i]);
    QFile notAnEntry(entryPath(QStringLiteral("tidewell.desktop")));
    ASSERT_TRUE(notAnEntry.open(QIODevice::WriteOnly));
    notAnEntry.write("Exec=tidewell\n"); // no [Desktop Entry] group
    notAnEntry.close();
    const QStringList before = entryNames();

    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWLoginItemMigrator::removeOldLoginItem());
    TDWLoginItemMigrator::migrateLoginItem();
    EXPECT_EQ(entryNames(), before);
    EXPECT_FALSE(TDWLoginItemMgr::inLoginItems());
    EXPECT_EQ(log.lines(), QStringList());
}

TEST_F(TDWLoginItemMigratorTest, NoOldEntriesLeaveTheLauncherAsItIs)
{
    TDWLoginItemMigrator::migrateLoginItem();
    EXPECT_EQ(entryNames(), QStringList());

    // Switched off by the user: stays off, byte for byte.
    plant(LauncherEntry, QStringLiteral("Exec=/usr/bin/tidewell-loginitem\nHidden=true\n"));
    const QByteArray off = contents(entryPath(LauncherEntry));
    TDWLoginItemMigrator::migrateLoginItem();
    EXPECT_EQ(contents(entryPath(LauncherEntry)), off);
    EXPECT_FALSE(TDWLoginItemMgr::inLoginItems());
}

// Each kind of old entry is removed and the launcher switched on instead.
TEST_F(TDWLoginItemMigratorTest, ReplacesOldEntriesByTheLauncher)
{
    const QString link = QDir(tdwtest::freshDir()).filePath(QStringLiteral("start-backups"));
    ASSERT_TRUE(QFile::link(QCoreApplication::applicationFilePath(), link));
    const QString bodies[] = {
        QStringLiteral("Exec=/home/someone/Tidewell\n"),
        QStringLiteral("Exec=\"/home/someone/Old Copies/Tidewell 2.AppImage\" --hidden\n"),
        QStringLiteral("Exec=/opt/tidewell/bin/tidewell %U\n"),
        QStringLiteral("Exec=tidewell\n"),
        QStringLiteral("Exec=/usr/local/bin/TidewellHelper\n"),
        QStringLiteral("Exec=\"%1\"\n").arg(QCoreApplication::applicationFilePath()),
        QStringLiteral("Exec=\"%1\"\n").arg(link), // the running program under another name
    };
    for (const QString &body : bodies) {
        SCOPED_TRACE(body.toStdString());
        SetUp();
        plant(QStringLiteral("older.desktop"), body);
        plant(QStringLiteral("unrelated.desktop"), QStringLiteral("Exec=/usr/bin/NotTidewell\n"));
        TDWLoginItemMigrator::migrateLoginItem();
        EXPECT_EQ(entryNames(), (QStringList{LauncherEntry, QStringLiteral("unrelated.desktop")}));
        EXPECT_TRUE(TDWLoginItemMgr::inLoginItems());
    }
}

TEST_F(TDWLoginItemMigratorTest, LauncherEntrySurvivesMigration)
{
    TDWLoginItemMgr::addToLoginItems();
    plant(QStringLiteral("Tidewell.desktop"), QStringLiteral("Exec=/opt/Tidewell\n"));
    plant(QStringLiteral("second.desktop"), QStringLiteral("Exec=tidewell\n"));

    EXPECT_TRUE(TDWLoginItemMigrator::removeOldLoginItem());
    EXPECT_EQ(entryNames(), QStringList{LauncherEntry});
    EXPECT_TRUE(TDWLoginItemMgr::inLoginItems());
    EXPECT_FALSE(TDWLoginItemMigrator::removeOldLoginItem());
    EXPECT_EQ(entryNames(), QStringList{LauncherEntry});
}

TEST(TDWLoginItemMigrator, RecognisesTheApplicationByItsProgram)
{
    const QString own = QStringLiteral("/usr/lib/tidewell/run-me");
    struct Row
    {
        const char *program;
        bool old;
    };
    const Row rows[] = {
        {"/usr/lib/tidewell/run-me", true},
        {"/elsewhere/Tidewell", true},
        {"/elsewhere/TidewellBeta", true},
        {"/elsewhere/tidewell", true},
        {"tidewell-1.4", true},
        {"/elsewhere/tidewell-loginitem", false},
        {"tidewell-loginitem", false},
        {"/opt/Tidewell/run-me", false},
        {"/elsewhere/MyTidewell", false},
        {"/elsewhere/TIDEWELL", false},
    };
    for (const Row &row : rows)
        EXPECT_EQ(TDWLoginItemMigrator::isOldApplicationProgram(QString::fromUtf8(row.program), own), row.old) << row.program;
}
