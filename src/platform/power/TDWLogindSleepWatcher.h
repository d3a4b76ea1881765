#pragma once

#include "platform/power/TDWSleepNotices.h"

#include <QDBusConnection>

// Sleep and wake from logind: its manager's PrepareForSleep signal on the
// system bus (true before sleeping, false after waking). Where the bus or
// logind is missing (containers, CI) it logs one line and stays silent; the
// scheduler's online check and timer work without it.
class TDWLogindSleepWatcher : public TDWSleepNotices
{
    Q_OBJECT

public:
    explicit TDWLogindSleepWatcher(QDBusConnection bus = QDBusConnection::systemBus(), QObject *parent = nullptr);
    ~TDWLogindSleepWatcher() override;

    bool isWatching() const { return m_watching; }

private slots:
    void prepareForSleep(bool start);

private:
    bool m_watching = false;
};
