#include "app/TDWLaunchUrlHandler.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

const QByteArray Entry = "x-scheme-handler/org.tidewell.Tidewell.launch=org.tidewell.Tidewell.launch.desktop";

TEST(TDWLaunchUrlHandler, TheDefaultIsSetAndEveryOtherLineKept)
{
    struct Case
    {
        const char *name;
        QByteArray before;
        QByteArray after;
    };
    const Case cases[] = {
        {"no list yet", "", "[Default Applications]\n" + Entry + "\n"},
        {"other groups only", "[Added Associations]\ntext/plain=gedit.desktop\n",
         "[Added Associations]\ntext/plain=gedit.desktop\n\n[Default Applications]\n" + Entry + "\n"},
        {"appended to the group, before the next one",
         "[Default Applications]\ntext/html=firefox.desktop\n\n[Added Associations]\nimage/png=eog.desktop\n",
         "[Default Applications]\ntext/html=firefox.desktop\n" + Entry + "\n\n[Added Associations]\nimage/png=eog.desktop\n"},
        {"another handler replaced",
         "[Default Applications]\nx-scheme-handler/org.tidewell.Tidewell.launch=old.desktop\ntext/html=firefox.desktop\n",
         "[Default Applications]\n" + Entry + "\ntext/html=firefox.desktop\n"},
        {"a longer scheme of the same start is not ours",
         "[Default Applications]\nx-scheme-handler/org.tidewell.Tidewell.launcher=x.desktop\n",
         "[Default Applications]\nx-scheme-handler/org.tidewell.Tidewell.launcher=x.desktop\n" + Entry + "\n"},
        {"already set", "[Default Applications]\n" + Entry + "\n", "[Default Applications]\n" + Entry + "\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TDWLaunchUrlHandler::withDefaultHandler(c.before).toStdString(), c.after.toStdString()) << c.name;
}

TEST(TDWLaunchUrlHandler, RegistersOnlyAnInstalledHandler)
{
    const QString list = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).filePath(QStringLiteral("mimeapps.list"));
    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWLaunchUrlHandler::registerAsDefault());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to set self as default launch protocol handler.")));
    EXPECT_FALSE(QFile::exists(list));

    const QString applications = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    ASSERT_TRUE(QDir().mkpath(applications));
    ASSERT_TRUE(QFile::copy(tdwtest::sourcePath(QStringLiteral("src/app/desktop/org.tidewell.Tidewell.launch.desktop")),
                            QDir(applications).filePath(TDWLaunchUrlHandler::DesktopEntry)));

    EXPECT_TRUE(TDWLaunchUrlHandler::registerAsDefault());
    QFile written(list);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll().toStdString(), ("[Default Applications]\n" + Entry + "\n").toStdString());
}

} // namespace
