// The program itself, started as a user starts it, in this test's private
// XDG folders.

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QString tidewellFolder(QStandardPaths::StandardLocation location)
{
    return QDir(QStandardPaths::writableLocation(location)).filePath(QStringLiteral("Tidewell"));
}

void putFile(const QString &path)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x");
}

// Waits until the program has logged that it is running.
bool waitUntilStarted(QProcess &app, const QString &logPath)
{
    for (int i = 0; i < 600 && app.state() == QProcess::Running; ++i) {
        QFile log(logPath);
        if (log.open(QIODevice::ReadOnly) && log.readAll().contains("Tidewell starting"))
            return true;
        QThread::msleep(50);
    }
    return false;
}

// The settings of a user who chose `backupFolder` for the backup.
void putSettingsChoosing(const QString &backupFolder)
{
    const QString path = QDir(tidewellFolder(QStandardPaths::GenericConfigLocation)).filePath(QStringLiteral("defaults.plist"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
               "\t<key>altbackuploc</key>\n\t<string>" + backupFolder.toUtf8() + "</string>\n</dict>\n</plist>\n");
}

TEST(TDWStartup, StartingRemovesWhatAKilledRunLeftHalfWritten)
{
    const QString data = tidewellFolder(QStandardPaths::GenericDataLocation);
    const QString config = tidewellFolder(QStandardPaths::GenericConfigLocation);
    const QString chosen = tdwtest::freshDir(QStringLiteral("chosen backup"));
    putSettingsChoosing(chosen);
    const QStringList leftovers = {QDir(data).filePath(QStringLiteral("Mail/acct/.42.eml.tdw-1x")),
                                   QDir(config).filePath(QStringLiteral(".defaults.plist.tdw-9")),
                                   QDir(chosen).filePath(QStringLiteral("Google Drive/acct/Plan/1/.Plan.pdf.tdw-2")),
                                   QDir(data).filePath(QStringLiteral("Store Backups/.2026-01-01 00-00-00.tdw-3/TidewellData.sqlite3"))};
    const QStringList kept = {QDir(data).filePath(QStringLiteral("Mail/acct/42.eml")),
                              QDir(chosen).filePath(QStringLiteral("Google Drive/acct/Plan/1/Plan.pdf"))};
    for (const QString &path : leftovers + kept)
        putFile(path);

    QProcess app;
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(QStringLiteral(TDW_APP_PROGRAM), {});
    ASSERT_TRUE(app.waitForStarted(30000));
    const bool started = waitUntilStarted(app, QDir(data).filePath(QStringLiteral("Logs/Tidewell.log")));
    app.kill();
    app.waitForFinished(30000);
    ASSERT_TRUE(started);

    for (const QString &path : leftovers)
        EXPECT_FALSE(QFileInfo::exists(path)) << qPrintable(path);
    for (const QString &path : kept)
        EXPECT_TRUE(QFileInfo::exists(path)) << qPrintable(path);
    EXPECT_FALSE(QFileInfo::exists(QDir(data).filePath(QStringLiteral("Store Backups/.2026-01-01 00-00-00.tdw-3"))));
}

mode_t modeOf(const QString &path)
{
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Starts the program and ends it once it has started (its log, which earlier
// starts may have begun, says so once more).
void startAndEnd()
{
    const QString logPath = QDir(tidewellFolder(QStandardPaths::GenericDataLocation)).filePath(QStringLiteral("Logs/Tidewell.log"));
    const auto starts = [&logPath] {
        QFile log(logPath);
        return log.open(QIODevice::ReadOnly) ? log.readAll().count("Tidewell starting") : 0;
    };
    const qsizetype startsBefore = starts();
    QProcess app;
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(QStringLiteral(TDW_APP_PROGRAM), {});
    ASSERT_TRUE(app.waitForStarted(30000));
    bool started = false;
    for (int i = 0; i < 600 && !started && app.state() == QProcess::Running; ++i) {
        started = starts() > startsBefore;
        QThread::msleep(50);
    }
    app.kill();
    app.waitForFinished(30000);
    ASSERT_TRUE(started);
}

// What an earlier version left readable by all, in the data, settings and
// chosen backup folders, is made private at the first start, once; a link
// there is not followed, so what it points to keeps its mode.
TEST(TDWStartup, StartingMakesAnEarlierBackupPrivateOnce)
{
    const mode_t savedUmask = ::umask(022);
    const QString data = tidewellFolder(QStandardPaths::GenericDataLocation);
    const QString config = tidewellFolder(QStandardPaths::GenericConfigLocation);
    const QString chosen = tdwtest::freshDir(QStringLiteral("chosen backup"));
    const QString outside = tdwtest::freshDir(QStringLiteral("outside"));
    const QString sentinel = QDir(outside).filePath(QStringLiteral("sentinel.txt"));
    putSettingsChoosing(chosen);
    const struct
    {
        QString path;
        mode_t before;
        mode_t after;
    } rows[] = {
        {QDir(data).filePath(QStringLiteral("Mail/acct/1.eml")), 0644, 0600},
        {QDir(data).filePath(QStringLiteral("Mail/acct")), 0755, 0700},
        {QDir(data).filePath(QStringLiteral("Store Backups/2026-01-01 00-00-00/TidewellData.sqlite3")), 0644, 0600},
        {data, 0755, 0700},
        {QDir(config).filePath(QStringLiteral("defaults.plist")), 0644, 0600},
        {QDir(chosen).filePath(QStringLiteral("Google Drive/acct/Plan/1/Plan.pdf")), 0444, 0400}, // locked
        {QDir(chosen).filePath(QStringLiteral("Google Drive")), 0755, 0700},
        {chosen, 0755, 0700},
        {sentinel, 0644, 0644},
        {outside, 0755, 0755},
    };
    // Files first (their folders are made on the way), then every mode.
    for (const auto &row : rows) {
        if (!QFileInfo::exists(row.path))
            putFile(row.path);
    }
    for (const auto &row : rows)
        ASSERT_EQ(::chmod(QFile::encodeName(row.path).constData(), row.before), 0) << qPrintable(row.path);
    ASSERT_TRUE(QFile::link(outside, QDir(chosen).filePath(QStringLiteral("Google Drive/linked"))));
    ::umask(savedUmask);

    startAndEnd();
    for (const auto &row : rows)
        EXPECT_EQ(modeOf(row.path), row.after) << qPrintable(row.path);

    // Once: a second start walks no more.
    const QString later = QDir(data).filePath(QStringLiteral("Mail/acct/1.eml"));
    ASSERT_EQ(::chmod(QFile::encodeName(later).constData(), 0640), 0);
    startAndEnd();
    EXPECT_EQ(modeOf(later), mode_t(0640));
}

// A second start, and opening the launch URL, find the running program, ask it
// forward and end; the running one carries on.
TEST(TDWStartup, ALaterStartOrTheLaunchUrlActivatesTheRunningProgramAndEnds)
{
    QProcess app;
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(QStringLiteral(TDW_APP_PROGRAM), {});
    ASSERT_TRUE(app.waitForStarted(30000));
    const QString logPath = QDir(tidewellFolder(QStandardPaths::GenericDataLocation)).filePath(QStringLiteral("Logs/Tidewell.log"));
    ASSERT_TRUE(waitUntilStarted(app, logPath));
    // Started means listening for later starts.
    const QString socket = QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation))
                               .filePath(QStringLiteral("org.tidewell.Tidewell/instance"));
    for (int i = 0; i < 600 && !QFileInfo::exists(socket); ++i)
        QThread::msleep(50);
    ASSERT_TRUE(QFileInfo::exists(socket));

    for (const QStringList &arguments : {QStringList{}, QStringList{QStringLiteral("org.tidewell.Tidewell.launch:")}}) {
        QProcess later;
        later.setProcessChannelMode(QProcess::ForwardedChannels);
        later.start(QStringLiteral(TDW_APP_PROGRAM), arguments);
        ASSERT_TRUE(later.waitForStarted(30000));
        EXPECT_TRUE(later.waitForFinished(60000)) << qPrintable(arguments.join(QLatin1Char(' ')));
        EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(later.exitCode(), 0);
        EXPECT_EQ(app.state(), QProcess::Running);
    }
    app.kill();
    app.waitForFinished(30000);
}

} // namespace

// Start-up moves a user whose older setup started the program itself at
// login over to the login launcher.
TEST(TDWStartup, StartingMovesAnOldLoginEntryToTheLauncher)
{
    const QString autostart = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).filePath(QStringLiteral("autostart"));
    const QString old = QDir(autostart).filePath(QStringLiteral("Tidewell.desktop"));
    const QString launcher = QDir(autostart).filePath(QStringLiteral("org.tidewell.TidewellLoginItem.desktop"));
    putFile(old);
    QFile entry(old);
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Tidewell\nExec=/opt/Tidewell/tidewell\n");
    entry.close();

    QProcess app;
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(QStringLiteral(TDW_APP_PROGRAM), {});
    ASSERT_TRUE(app.waitForStarted(30000));
    for (int i = 0; i < 600 && !QFileInfo::exists(launcher) && app.state() == QProcess::Running; ++i)
        QThread::msleep(50);
    app.kill();
    app.waitForFinished(30000);

    EXPECT_TRUE(QFileInfo::exists(launcher));
    EXPECT_FALSE(QFileInfo::exists(old));
}
