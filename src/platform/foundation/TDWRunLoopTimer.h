#pragma once

#include "platform/foundation/TDWTimer.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

// A TDWTimer on the Qt event loop of the thread that makes it. Waits are
// measured from TDWClock::now() and pass through TDWClock::duration(); waits
// longer than a QTimer holds (about 24 days) are taken in steps.
class TDWRunLoopTimer : public QObject, public TDWTimer
{
    Q_OBJECT

public:
    TDWRunLoopTimer(const QDateTime &fireDate, std::chrono::seconds interval, std::function<void()> action);
    ~TDWRunLoopTimer() override;

    // The program's TDWTimer::Factory.
    static std::unique_ptr<TDWTimer> scheduled(const QDateTime &fireDate, std::chrono::seconds interval, std::function<void()> action);

    QDateTime fireDate() const override { return m_fireDate; }
    void setFireDate(const QDateTime &date) override;
    std::chrono::seconds interval() const override { return m_interval; }
    void invalidate() override;
    bool isValid() const override { return m_valid; }

private:
    void arm();
    void armStep();
    void fire();

    QDateTime m_fireDate;
    std::chrono::seconds m_interval;
    std::function<void()> m_action;
    bool m_valid = true;
    QTimer m_timer;
    QDeadlineTimer m_due;
};
