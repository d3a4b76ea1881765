#include "SchedulerTestSupport.h"

#include "platform/foundation/TDWClock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <algorithm>

namespace schedtest {

namespace {
// Bound on waiting for work on other threads; it normally takes milliseconds.
constexpr int WaitBoundMs = 10000;
} // namespace

FakeTimer::FakeTimer(FakeTimers &owner, const QDateTime &fireDate, std::chrono::seconds interval, std::function<void()> action)
    : m_owner(owner)
    , m_fireDate(fireDate)
    , m_interval(interval)
    , m_action(std::move(action))
{
    m_owner.m_live.push_back(this);
    if (!m_owner.first)
        m_owner.first = this;
    m_owner.latest = this;
    ++m_owner.made;
}

FakeTimer::~FakeTimer()
{
    std::erase(m_owner.m_live, this);
    if (m_owner.first == this)
        m_owner.first = nullptr;
    if (m_owner.latest == this)
        m_owner.latest = nullptr;
}

void FakeTimer::setFireDate(const QDateTime &date)
{
    if (m_valid)
        m_fireDate = date;
}

void FakeTimer::fire()
{
    m_fireDate = m_fireDate.addSecs(m_interval.count());
    m_action();
}

FakeTimers::FakeTimers()
    : now(QDate(2024, 3, 1), QTime(12, 0), Qt::UTC)
{
    TDWClock::setNowProvider([this] { return now; });
}

FakeTimers::~FakeTimers()
{
    TDWClock::setNowProvider({});
}

TDWTimer::Factory FakeTimers::factory()
{
    return [this](const QDateTime &fireDate, std::chrono::seconds interval, std::function<void()> action) {
        return std::make_unique<FakeTimer>(*this, fireDate, interval, std::move(action));
    };
}

void FakeTimers::advance(qint64 seconds)
{
    const QDateTime target = now.addSecs(seconds);
    for (;;) {
        FakeTimer *due = nullptr;
        for (FakeTimer *timer : m_live) {
            if (timer->isValid() && timer->fireDate() <= target && (!due || timer->fireDate() < due->fireDate()))
                due = timer;
        }
        if (!due)
            break;
        now = std::max(now, due->fireDate());
        due->fire();
    }
    now = target;
}

void FakeReachability::set(bool online, bool notice)
{
    m_online = online;
    if (notice)
        emit changed();
}

void HeldRun::release()
{
    std::lock_guard lock(m_mutex);
    m_isReleased = true;
    m_released.notify_all();
}

bool HeldRun::hasStarted() const
{
    std::lock_guard lock(m_mutex);
    return m_started;
}

void HeldRun::main()
{
    std::unique_lock lock(m_mutex);
    m_started = true;
    m_released.wait(lock, [this] { return m_isReleased; });
}

bool waitFor(const std::function<bool()> &condition)
{
    QDeadlineTimer bound(WaitBoundMs);
    while (!condition() && !bound.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    return condition();
}

} // namespace schedtest
