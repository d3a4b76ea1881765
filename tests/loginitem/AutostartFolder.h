#pragma once

// A test fixture that starts every test with an empty autostart folder in the
// test program's private XDG config folder, and helpers to plant entries.

#include "loginitem/TDWLoginItemMgr.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

class AutostartFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir(TDWLoginItemMgr::autostartFolder()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(TDWLoginItemMgr::autostartFolder()));
    }

    static QString entryPath(const QString &fileName)
    {
        return QDir(TDWLoginItemMgr::autostartFolder()).filePath(fileName);
    }

    // Writes an entry file of the autostart folder; `body` follows the group header.
    static void plant(const QString &fileName, const QString &body)
    {
        QFile file(entryPath(fileName));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[Desktop Entry]\nType=Application\nName=Some Program\n" + body.toUtf8());
    }

    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static QStringList entryNames()
    {
        return QDir(TDWLoginItemMgr::autostartFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};

// Runs desktop-file-validate (desktop-file-utils) on a file; its complaints, or
// empty when the file is valid.
inline QString desktopFileComplaints(const QString &path)
{
    QProcess validate;
    validate.start(QStringLiteral("desktop-file-validate"), {path});
    if (!validate.waitForFinished(60000))
        return QStringLiteral("desktop-file-validate did not run");
    const QString output = QString::fromUtf8(validate.readAllStandardOutput() + validate.readAllStandardError());
    if (validate.exitStatus() != QProcess::NormalExit || validate.exitCode() != 0)
        return output.isEmpty() ? QStringLiteral("desktop-file-validate failed") : output;
    return output;
}
