#include "app/TDWAppAlerts.h"
#include "app/TDWAppController.h"
#include "app/TDWApplication.h"
#include "app/TDWSingleInstance.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWSafeFile.h"

#include <QDir>
#include <QStandardPaths>
#include <QTimer>

// The program takes no arguments of its own: opening the launch URL only
// starts or activates it.
int main(int argc, char **argv)
{
    TDWApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tidewell"));
    QApplication::setApplicationVersion(QStringLiteral(TDW_VERSION));
    QApplication::setOrganizationDomain(QStringLiteral("tidewell.org"));
    QApplication::setDesktopFileName(QStringLiteral("org.tidewell.Tidewell"));
    // Closing the windows leaves the status item; quitting is a menu command.
    QApplication::setQuitOnLastWindowClosed(false);

    const QString dataDir = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(QStringLiteral("Tidewell"));
    const QString configDir = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).filePath(QStringLiteral("Tidewell"));
    TDWSingleInstance instance;
    if (!instance.claim())
        return 0;

    // Half-written files of a run that was killed; the files they were to
    // replace are intact, so the leftovers are only in the way. Only the one
    // running instance may sweep: another's files may be half-written now.
    for (const QString &dir : {dataDir, configDir})
        TDWSafeFile::sweepTemporaryFiles(dir);
    TDWLog::setLogFile(QDir(dataDir).filePath(QStringLiteral("Logs/Tidewell.log")));
    tdwLog(QStringLiteral("Tidewell starting"));

    TDWAppController controller(std::make_unique<TDWAppAlerts>());
    QObject::connect(&instance, &TDWSingleInstance::activationRequested, &controller, &TDWAppController::activate);
    // Queued: a stop during start-up takes effect once the event loop runs.
    QObject::connect(&controller, &TDWAppController::stopped, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    controller.applicationWillFinishLaunching();
    QTimer::singleShot(0, &controller, &TDWAppController::applicationDidFinishLaunching);
    return app.exec();
}
