#include "platform/foundation/TDWRunLoopTimer.h"

#include "platform/foundation/TDWClock.h"

#include <algorithm>
#include <limits>

namespace {
// A repeating timer never spins, whatever interval it was given.
constexpr std::chrono::seconds MinimumInterval{1};
} // namespace

TDWRunLoopTimer::TDWRunLoopTimer(const QDateTime &fireDate, std::chrono::seconds interval, std::function<void()> action)
    : m_fireDate(fireDate)
    , m_interval(std::max(interval, MinimumInterval))
    , m_action(std::move(action))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &TDWRunLoopTimer::fire);
    arm();
}

TDWRunLoopTimer::~TDWRunLoopTimer() = default;

std::unique_ptr<TDWTimer> TDWRunLoopTimer::scheduled(const QDateTime &fireDate, std::chrono::seconds interval, std::function<void()> action)
{
    return std::make_unique<TDWRunLoopTimer>(fireDate, interval, std::move(action));
}

void TDWRunLoopTimer::setFireDate(const QDateTime &date)
{
    if (!m_valid)
        return;
    m_fireDate = date;
    arm();
}

void TDWRunLoopTimer::invalidate()
{
    m_valid = false;
    m_timer.stop();
}

void TDWRunLoopTimer::arm()
{
    const std::chrono::milliseconds wait(std::max<qint64>(0, TDWClock::now().msecsTo(m_fireDate)));
    m_due = QDeadlineTimer(TDWClock::duration(wait));
    armStep();
}

void TDWRunLoopTimer::armStep()
{
    const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(m_due.remainingTimeAsDuration());
    m_timer.start(std::min(remaining, std::chrono::milliseconds(std::numeric_limits<int>::max())));
}

void TDWRunLoopTimer::fire()
{
    if (!m_due.hasExpired()) {
        armStep();
        return;
    }
    // The next firing is due one interval after this one, skipping those that
    // lie in the past already.
    const QDateTime now = TDWClock::now();
    QDateTime next = m_fireDate.addSecs(m_interval.count());
    if (next <= now) {
        const qint64 missed = m_fireDate.secsTo(now) / m_interval.count();
        next = m_fireDate.addSecs((missed + 1) * m_interval.count());
    }
    m_fireDate = next;
    arm();
    // Last: the action may move the fire date, invalidate or destroy the timer.
    m_action();
}
