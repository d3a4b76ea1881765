#include "app/TDWAppAlerts.h"
#include "app/TDWAppController.h"
#include "app/TDWApplication.h"
#include "app/TDWSingleInstance.h"
#include "common/TDWFileUpkeep.h"
#include "platform/foundation/TDWLog.h"
#include "prefs/TDWRelaunch.h"

#include <QDir>
#include <QStandardPaths>
#include <QTimer>

#include <optional>

// The program's one argument of its own is "--wait-for-pid N", given by a
// restart; opening the launch URL only starts or activates it.
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
    // A restart: the old instance must have ended, or this start would only bring it forward.
    if (const std::optional<qint64> oldPid = TDWRelaunch::waitForPidArgument(QCoreApplication::arguments())) {
        if (!TDWRelaunch::waitForExit(*oldPid, TDWRelaunch::waitBoundMs())) {
            TDWLog::setLogFile(QDir(dataDir).filePath(QStringLiteral("Logs/Tidewell.log")));
            tdwLog(QStringLiteral("ERROR: Not restarting: the previous Tidewell (process %1) did not end").arg(*oldPid));
            return 1;
        }
    }
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
