// The build installed into a fresh prefix with `cmake --install`, as a package
// or a user would: the desktop entries pass the desktop's own validator, name
// the application icon and run programs the install put in place, and the icon
// is there in the icon theme, scalable and at each bitmap size at that size.
#include "AutostartFolder.h"
#include "TestSupport.h"

#include "loginitem/TDWDesktopEntry.h"
#include "loginitem/TDWLoginItemMgr.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace {

const QString IconFile = QStringLiteral("org.tidewell.Tidewell");

class InstallTest : public AutostartFolder
{
protected:
    static void SetUpTestSuite()
    {
        s_prefix = new QString(tdwtest::freshDir(QStringLiteral("prefix")));
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(QStringLiteral("cmake"), {QStringLiteral("--install"), qEnvironmentVariable("TDW_BINARY_ROOT"),
                                                QStringLiteral("--prefix"), *s_prefix});
        ASSERT_TRUE(install.waitForFinished(240000));
        ASSERT_EQ(install.exitCode(), 0) << install.readAll().toStdString();
    }

    static void TearDownTestSuite()
    {
        QDir(*s_prefix).removeRecursively();
        delete s_prefix;
        s_prefix = nullptr;
    }

    static QString installed(const QString &relative) { return QDir(*s_prefix).filePath(relative); }

    // The entry validates, names the icon and runs a program of the install.
    static void expectInstalledEntry(const QString &path)
    {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(desktopFileComplaints(path), QString());
        const std::optional<TDWDesktopEntry> entry = TDWDesktopEntry::read(path);
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(entry->value(QStringLiteral("Icon")), IconFile);
        const std::optional<QStringList> exec = entry->execArguments();
        ASSERT_TRUE(exec.has_value());
        // Run by name from the session's search path, which holds the prefix's bin folder.
        EXPECT_FALSE(exec->first().contains(u'/')) << exec->first().toStdString();
        EXPECT_TRUE(QFileInfo(installed(QStringLiteral("bin/") + exec->first())).isExecutable()) << exec->first().toStdString();
    }

    static QString *s_prefix;
};

QString *InstallTest::s_prefix = nullptr;

TEST_F(InstallTest, MenuAndLaunchEntriesValidateAndNameTheIcon)
{
    for (const char *entry : {"org.tidewell.Tidewell.desktop", "org.tidewell.Tidewell.launch.desktop"})
        expectInstalledEntry(installed(QStringLiteral("share/applications/") + QLatin1String(entry)));
}

TEST_F(InstallTest, TheAutostartEntryRunsTheInstalledLauncher)
{
    TDWLoginItemMgr::addToLoginItems();
    expectInstalledEntry(TDWLoginItemMgr::launcherEntryPath());
}

TEST_F(InstallTest, TheIconIsInstalledScalableAndAtEachBitmapSize)
{
    QFile svg(installed(QStringLiteral("share/icons/hicolor/scalable/apps/") + IconFile + QStringLiteral(".svg")));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    QXmlStreamReader reader(&svg);
    QStringList elements;
    while (reader.readNext() != QXmlStreamReader::Invalid && !reader.atEnd())
        if (reader.isStartElement())
            elements << reader.name().toString();
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    ASSERT_FALSE(elements.isEmpty());
    EXPECT_EQ(elements.first(), QStringLiteral("svg"));
    EXPECT_EQ(elements.count(QStringLiteral("path")), 2); // the cloud and its arrow

    const QRegularExpression sizeFolder(QStringLiteral("^(\\d+)x(\\d+)$"));
    QList<int> sizes;
    for (const QString &folder : QDir(installed(QStringLiteral("share/icons/hicolor"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch match = sizeFolder.match(folder);
        if (!match.hasMatch())
            continue;
        const int size = match.captured(1).toInt();
        EXPECT_EQ(match.captured(2).toInt(), size) << folder.toStdString();
        const QImage image(installed(QStringLiteral("share/icons/hicolor/%1/apps/%2.png").arg(folder, IconFile)));
        EXPECT_EQ(image.size(), QSize(size, size)) << folder.toStdString();
        sizes << size;
    }
    std::sort(sizes.begin(), sizes.end());
    for (const int needed : {16, 24, 32, 48, 64, 128, 256})
        EXPECT_TRUE(sizes.contains(needed)) << needed;
}

} // namespace
