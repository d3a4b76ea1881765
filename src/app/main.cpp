#include "app/TDWRegisterClasses.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWSafeFile.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QStandardPaths>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tidewell"));
    QApplication::setOrganizationDomain(QStringLiteral("tidewell.org"));
    QApplication::setDesktopFileName(QStringLiteral("org.tidewell.Tidewell"));

    const QString dataDir = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(QStringLiteral("Tidewell"));
    const QString configDir = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).filePath(QStringLiteral("Tidewell"));
    // Half-written files of a run that was killed; the files they were to
    // replace are intact, so the leftovers are only in the way.
    for (const QString &dir : {dataDir, configDir})
        TDWSafeFile::sweepTemporaryFiles(dir);
    TDWLog::setLogFile(QDir(dataDir).filePath(QStringLiteral("Logs/Tidewell.log")));
    tdwLog(QStringLiteral("Tidewell starting"));
    TDWRegisterClasses();

    QLabel window(QStringLiteral("Tidewell"));
    window.setWindowTitle(QStringLiteral("Tidewell"));
    window.resize(640, 400);
    window.show();
    return app.exec();
}
