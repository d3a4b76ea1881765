// tidewell-loginitem: started by the session at login (through the autostart
// entry that TDWLoginItemMgr writes), it opens the application that lies in
// its own folder and exits. A second start of a running application is the
// application's own affair.
#include "platform/foundation/TDWLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tidewell"));
    if (!QProcess::startDetached(program, {})) {
        tdwLog(QStringLiteral("ERROR: could not start %1").arg(program));
        return 1;
    }
    return 0;
}
