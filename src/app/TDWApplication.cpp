#include "app/TDWApplication.h"

#include "platform/foundation/TDWUncaughtException.h"

TDWApplication::TDWApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

bool TDWApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        TDWUncaughtException::logCurrent(QStringLiteral("the event loop"));
        return false;
    }
}
