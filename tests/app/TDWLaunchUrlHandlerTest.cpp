#include "app/TDWLaunchUrlHandler.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

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

// What the calling thread writes to the terminal (standard error) while `work` runs.
QByteArray terminalOutputOf(const std::function<void()> &work)
{
    const QString path = QDir(tdwtest::freshDir()).filePath(QStringLiteral("stderr"));
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int file = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(file, STDERR_FILENO);
    ::close(file);
    work();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    QFile written(path);
    return written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray("unreadable");
}

// A program run where it was built has no desktop entry: that is noted in the
// log once for that program, as information, and never on the terminal.
TEST(TDWLaunchUrlHandler, RegistersOnlyAnInstalledHandler)
{
    const QString list = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).filePath(QStringLiteral("mimeapps.list"));
    tdwtest::LogCapture log;
    const QByteArray terminal = terminalOutputOf([] {
        EXPECT_FALSE(TDWLaunchUrlHandler::registerAsDefault());
        EXPECT_FALSE(TDWLaunchUrlHandler::registerAsDefault());
    });
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("Unable to set self as default launch protocol handler.")});
    EXPECT_EQ(terminal.toStdString(), "");
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
