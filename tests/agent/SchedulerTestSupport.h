#pragma once

#include "platform/foundation/TDWOperation.h"
#include "platform/foundation/TDWTimer.h"
#include "platform/network/TDWReachability.h"

#include <QDateTime>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace schedtest {

class FakeTimers;

// A timer that fires only when the test moves the clock past its fire date.
class FakeTimer : public TDWTimer
{
public:
    FakeTimer(FakeTimers &owner, const QDateTime &fireDate, std::chrono::seconds interval, std::function<void()> action);
    ~FakeTimer() override;

    QDateTime fireDate() const override { return m_fireDate; }
    void setFireDate(const QDateTime &date) override;
    std::chrono::seconds interval() const override { return m_interval; }
    void invalidate() override { m_valid = false; }
    bool isValid() const override { return m_valid; }

    // Moves the fire date one interval on and runs the action.
    void fire();

private:
    FakeTimers &m_owner;
    QDateTime m_fireDate;
    std::chrono::seconds m_interval;
    std::function<void()> m_action;
    bool m_valid = true;
};

// The clock (installed as TDWClock's "now") and the timers made through
// factory(), fired in order of their fire dates as the test advances.
class FakeTimers
{
public:
    FakeTimers();
    ~FakeTimers();

    TDWTimer::Factory factory();
    // Moves "now" on by the seconds, firing every valid timer that falls due
    // on the way (0: those due now).
    void advance(qint64 seconds);

    QDateTime now;
    // The first timer made (the scheduler's online check) and the latest one
    // (its backup timer, once one exists); null once destroyed.
    FakeTimer *first = nullptr;
    FakeTimer *latest = nullptr;
    int made = 0;

private:
    friend class FakeTimer;
    std::vector<FakeTimer *> m_live;
};

// Reachability switched by the test.
class FakeReachability : public TDWReachability
{
    Q_OBJECT

public:
    explicit FakeReachability(bool online)
        : m_online(online)
    {
    }
    bool isOnline() override { return m_online; }
    // Changes the answer; with notice, as the netlink watcher reports it.
    void set(bool online, bool notice = true);

private:
    bool m_online;
};

// A backup run that executes until the test releases it; cancelled, it
// records that and still waits, as a real run waits for its operations.
class HeldRun : public TDWOperation
{
    Q_OBJECT

public:
    void release();
    bool hasStarted() const;

protected:
    void main() override;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_isReleased = false;
    bool m_started = false;
};

// Runs the event loop until the condition holds or a generous bound passes;
// answers the condition.
bool waitFor(const std::function<bool()> &condition);

} // namespace schedtest
