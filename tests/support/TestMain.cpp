// The main() of every test program: a QCoreApplication for the event loop and
// a private sandbox for the XDG folders, so no test reads or writes the user's
// real configuration, data or caches.
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
QTemporaryDir *g_sandbox = nullptr;
}

QString tdwtest::sandboxRoot()
{
    return g_sandbox->path();
}

int main(int argc, char **argv)
{
    QTemporaryDir sandbox(QDir::tempPath() + QStringLiteral("/tidewell-test-XXXXXX"));
    g_sandbox = &sandbox;
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QString dir = sandbox.filePath(QString::fromLatin1(name).toLower());
        QDir().mkpath(dir);
        qputenv(name, QFile::encodeName(dir));
    }
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    g_sandbox = nullptr;
    return rc;
}
