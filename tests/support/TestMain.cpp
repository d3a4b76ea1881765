// The main() of every test program: a QCoreApplication for the event loop (a
// QApplication in programs built with tdw_gtest's GUI option) and
// a private sandbox for the XDG folders, so no test reads or writes the user's
// real configuration, data or caches.
#include "TestSupport.h"

#include <QCoreApplication>
#ifdef TDW_TEST_GUI_APP
#include <QApplication>
#endif
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
// Applies the "NAME=value" lines that the build writes beside the program
// (<program>.env); a variable already set in the environment wins.
void applyBuildEnvironment()
{
    QFile file(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")) + QStringLiteral(".env"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray name = line.left(eq);
        if (qgetenv(name.constData()).isEmpty())
            qputenv(name.constData(), line.mid(eq + 1));
    }
}
} // namespace

int main(int argc, char **argv)
{
    applyBuildEnvironment();
    QTemporaryDir sandbox(QDir::tempPath() + QStringLiteral("/tidewell-test-XXXXXX"));
    tdwtest::setSandboxRoot(sandbox.path());
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
        const QString dir = sandbox.filePath(QString::fromLatin1(name).toLower());
        QDir().mkpath(dir);
        qputenv(name, QFile::encodeName(dir));
    }
    // The runtime folder must be the user's alone; the program's instance socket lives there.
    QFile::setPermissions(sandbox.filePath(QStringLiteral("xdg_runtime_dir")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
#ifdef TDW_TEST_GUI_APP
    // Test discovery runs the program without CTest's environment, and no
    // test may need a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    using DefaultApplication = QApplication;
#else
    using DefaultApplication = QCoreApplication;
#endif
    const std::unique_ptr<QCoreApplication> app =
        tdwtest::makeApplication ? tdwtest::makeApplication(argc, argv) : std::make_unique<DefaultApplication>(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    tdwtest::setSandboxRoot(QString());
    return rc;
}
