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

TEST(TDWStartup, StartingRemovesWhatAKilledRunLeftHalfWritten)
{
    const QString data = tidewellFolder(QStandardPaths::GenericDataLocation);
    const QString config = tidewellFolder(QStandardPaths::GenericConfigLocation);
    const QStringList leftovers = {QDir(data).filePath(QStringLiteral("Mail/acct/.42.eml.tdw-1x")),
                                   QDir(config).filePath(QStringLiteral(".defaults.plist.tdw-9"))};
    const QStringList kept = {QDir(data).filePath(QStringLiteral("Mail/acct/42.eml")),
                              QDir(config).filePath(QStringLiteral("defaults.plist"))};
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
