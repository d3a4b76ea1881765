#include "platform/power/TDWLogindSleepWatcher.h"

#include "platform/foundation/TDWLog.h"

#include <QDBusError>

namespace {
const QString LogindService = QStringLiteral("org.freedesktop.login1");
const QString LogindPath = QStringLiteral("/org/freedesktop/login1");
const QString LogindManager = QStringLiteral("org.freedesktop.login1.Manager");
} // namespace

TDWLogindSleepWatcher::TDWLogindSleepWatcher(QDBusConnection bus, QObject *parent)
    : TDWSleepNotices(parent)
{
    if (!bus.isConnected()) {
        tdwLog(QStringLiteral("No system bus: sleep and wake are not observed"));
        return;
    }
    m_watching = bus.connect(LogindService, LogindPath, LogindManager, QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
    if (!m_watching)
        tdwLog(QStringLiteral("Unable to observe logind: sleep and wake are not observed (%1)").arg(bus.lastError().message()));
}

TDWLogindSleepWatcher::~TDWLogindSleepWatcher() = default;

void TDWLogindSleepWatcher::prepareForSleep(bool start)
{
    if (start)
        emit willSleep();
    else
        emit didWake();
}
