#pragma once

#include "accounts/TDWLoginNotifier.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QPointer>

class QSystemTrayIcon;

// Shows notices as desktop notifications (the freedesktop Notifications
// service on the session bus) with their action, and reports a click on one.
// Where no notification service answers, the notice goes to the tray icon's
// balloon; without a tray either, it is only logged.
class TDWDesktopNotifier : public QObject, public TDWLoginNotifier
{
    Q_OBJECT

public:
    explicit TDWDesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~TDWDesktopNotifier() override;

    // The fallback's icon; not owned (it may go away).
    void setTrayIcon(QSystemTrayIcon *trayIcon);

    // Main thread; returns at once (the service is asked asynchronously).
    void deliver(const Notice &notice) override;

    static inline const QString ServiceName = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString ObjectPath = QStringLiteral("/org/freedesktop/Notifications");

signals:
    // The user clicked the notice or its action; the notice's user info.
    void activated(const QVariantMap &userInfo);

private slots:
    void actionInvoked(uint id, const QString &actionKey);
    void notificationClosed(uint id, uint reason);

private:
    void showInTray(const Notice &notice);

    QDBusConnection m_bus;
    QHash<uint, QVariantMap> m_shown; // notification id -> user info
    QPointer<QSystemTrayIcon> m_trayIcon;
    QVariantMap m_trayNotice; // the user info of the balloon last shown
};
