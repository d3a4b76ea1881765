#include "app/TDWTrayWatch.h"

#include <QSystemTrayIcon>

namespace {

// How often the tray host is looked for.
constexpr int CheckIntervalMs = 5000;

} // namespace

TDWTrayWatch::TDWTrayWatch(QObject *parent)
    : QObject(parent)
    , m_available(QSystemTrayIcon::isSystemTrayAvailable())
{
    connect(&m_timer, &QTimer::timeout, this, &TDWTrayWatch::check);
    m_timer.start(CheckIntervalMs);
}

void TDWTrayWatch::check()
{
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    if (available == m_available)
        return;
    m_available = available;
    emit availabilityChanged(available);
}
