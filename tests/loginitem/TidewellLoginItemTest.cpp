// The launcher program, run from a folder of its own beside a stand-in for
// the application that records how it was started.
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

namespace {

// A copy of the launcher in a fresh folder whose name needs quoting in a shell.
QString launcherCopy()
{
    const QString folder = tdwtest::freshDir(QStringLiteral("my apps"));
    const QString copy = QDir(folder).filePath(QStringLiteral("tidewell-loginitem"));
    EXPECT_TRUE(QFile::copy(QStringLiteral(TDW_LOGINITEM_PROGRAM), copy));
    return copy;
}

struct Outcome
{
    int exitCode = -1;
    QString errorOutput;
};

Outcome run(const QString &program)
{
    QProcess process;
    process.start(program, {});
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
}

// The detached child writes its file on its own schedule; wait for it.
QByteArray awaitFile(const QString &path)
{
    const QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray text = file.readAll();
            if (text.endsWith('\n'))
                return text;
        }
        QThread::msleep(20);
    }
    return {};
}

} // namespace

TEST(TidewellLoginItem, StartsTheApplicationBesideItWithoutArguments)
{
    const QString launcher = launcherCopy();
    const QDir folder = QFileInfo(launcher).dir();
    const QString record = folder.filePath(QStringLiteral("started"));
    QFile application(folder.filePath(QStringLiteral("tidewell")));
    ASSERT_TRUE(application.open(QIODevice::WriteOnly));
    application.write("#!/bin/sh\necho \"$0 $#\" > \"$(dirname \"$0\")/started\"\n");
    application.close();
    ASSERT_TRUE(application.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    const Outcome result = run(launcher);
    EXPECT_EQ(result.exitCode, 0) << result.errorOutput.toStdString();
    EXPECT_EQ(awaitFile(record), (application.fileName() + QStringLiteral(" 0\n")).toUtf8());
}

TEST(TidewellLoginItem, ReportsAMissingApplication)
{
    const Outcome result = run(launcherCopy());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.errorOutput.contains(QStringLiteral(" ERROR: could not start "))) << result.errorOutput.toStdString();
}
