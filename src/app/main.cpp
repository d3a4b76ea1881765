#include "app/TDWAppAlerts.h"
#include "app/TDWAppController.h"
#include "app/TDWSingleInstance.h"
#include "common/TDWFileUpkeep.h"
#include "platform/foundation/TDWLog.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTimer>

// The program takes no arguments of its own: opening the launch URL only
// starts or activates it.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
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

    TDWLog::setLogFile(QDir(dataDir).filePath(QStringLiteral("Logs/Tidewell.log")));
    // Only the one running instance looks after the folders.
    TDWFileUpkeep::atStartup(dataDir, configDir);
    tdwLog(QStringLiteral("Tidewell starting"));

    TDWAppController controller(std::make_unique<TDWAppAlerts>());
    QObject::connect(&instance, &TDWSingleInstance::activationRequested, &controller, &TDWAppController::activate);
    // Queued: a stop during start-up takes effect once the event loop runs.
    QObject::connect(&controller, &TDWAppController::stopped, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    controller.applicationWillFinishLaunching();
    QTimer::singleShot(0, &controller, &TDWAppController::applicationDidFinishLaunching);
    return app.exec();
}
