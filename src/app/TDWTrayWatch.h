#pragma once

#include <QObject>
#include <QTimer>

// Whether the desktop has a tray host to show the status icon in. Some
// desktops have none, and a host may start or go away while the program
// runs, so it is looked at again every few seconds.
class TDWTrayWatch : public QObject
{
    Q_OBJECT

public:
    explicit TDWTrayWatch(QObject *parent = nullptr);

    bool isAvailable() const { return m_available; }

signals:
    void availabilityChanged(bool available);

private:
    void check();

    QTimer m_timer;
    bool m_available;
};
