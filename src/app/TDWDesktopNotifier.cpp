#include "app/TDWDesktopNotifier.h"

#include "platform/foundation/TDWLog.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSystemTrayIcon>

namespace {
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
// The action a click on the notification itself invokes.
const QString DefaultAction = QStringLiteral("default");
} // namespace

TDWDesktopNotifier::TDWDesktopNotifier(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    m_bus.connect(ServiceName, ObjectPath, Interface, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    m_bus.connect(ServiceName, ObjectPath, Interface, QStringLiteral("NotificationClosed"), this, SLOT(notificationClosed(uint, uint)));
}

TDWDesktopNotifier::~TDWDesktopNotifier() = default;

void TDWDesktopNotifier::setTrayIcon(QSystemTrayIcon *trayIcon)
{
    if (m_trayIcon)
        disconnect(m_trayIcon, nullptr, this, nullptr);
    m_trayIcon = trayIcon;
    if (m_trayIcon)
        connect(m_trayIcon, &QSystemTrayIcon::messageClicked, this, [this] {
            if (!m_trayNotice.isEmpty())
                emit activated(m_trayNotice);
        });
}

void TDWDesktopNotifier::deliver(const Notice &notice)
{
    if (!m_bus.isConnected()) {
        showInTray(notice);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(ServiceName, ObjectPath, Interface, QStringLiteral("Notify"));
    const QStringList actions{DefaultAction, notice.actionButtonTitle, QStringLiteral("action"), notice.actionButtonTitle};
    call << QStringLiteral("Tidewell") << uint(0) << QStringLiteral("org.tidewell.Tidewell") << notice.title << notice.informativeText
         << actions << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("org.tidewell.Tidewell")}} << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, notice] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            showInTray(notice);
            return;
        }
        m_shown.insert(reply.value(), notice.userInfo);
    });
}

void TDWDesktopNotifier::showInTray(const Notice &notice)
{
    // The status item is shown even before a tray host appears; a balloon needs the host.
    if (!m_trayIcon || !m_trayIcon->isVisible() || !QSystemTrayIcon::isSystemTrayAvailable()) {
        tdwLog(QStringLiteral("ERROR: Unable to show the notice \"%1\": no notification service and no tray").arg(notice.title));
        return;
    }
    m_trayNotice = notice.userInfo;
    m_trayIcon->showMessage(notice.title, notice.informativeText);
}

void TDWDesktopNotifier::actionInvoked(uint id, const QString &)
{
    // Other programs' notifications come through the same signal.
    const auto found = m_shown.constFind(id);
    if (found == m_shown.constEnd())
        return;
    emit activated(found.value());
}

void TDWDesktopNotifier::notificationClosed(uint id, uint)
{
    m_shown.remove(id);
}
