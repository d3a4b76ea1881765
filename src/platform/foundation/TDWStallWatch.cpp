#include "platform/foundation/TDWStallWatch.h"

#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWMainThread.h"
#include "platform/foundation/TDWOperation.h"

#include <QCoreApplication>
#include <QTimer>

using namespace std::chrono_literals;

TDWStallWatch::TDWStallWatch(std::chrono::milliseconds limit, QString stallLog)
    : m_limit(limit)
    , m_stallLog(std::move(stallLog))
{
}

TDWStallWatch::~TDWStallWatch() = default;

void TDWStallWatch::setOwner(std::weak_ptr<TDWOperation> owner)
{
    m_owner = std::move(owner);
}

std::optional<TDWStallWatch::Ticket> TDWStallWatch::requestStarted(std::function<void()> cancelRequest, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    if (m_cancelled)
        return std::nullopt;
    // With nothing in flight before, the clock starts now: the client's own
    // work since the last answer is no stall.
    m_lastSignOfLife = m_inFlight.isEmpty() ? now : std::max(m_lastSignOfLife, now);
    const Ticket ticket = ++m_nextTicket;
    m_inFlight.insert(ticket, std::move(cancelRequest));
    return ticket;
}

void TDWStallWatch::touch(Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    m_lastSignOfLife = std::max(m_lastSignOfLife, now);
}

void TDWStallWatch::requestEnded(Ticket ticket)
{
    std::lock_guard lock(m_mutex);
    m_inFlight.remove(ticket);
    m_lastSignOfLife = std::max(m_lastSignOfLife, Clock::now());
}

bool TDWStallWatch::stalled(Clock::time_point now) const
{
    std::lock_guard lock(m_mutex);
    return !m_inFlight.isEmpty() && now - m_lastSignOfLife > m_limit;
}

bool TDWStallWatch::sleep(std::chrono::milliseconds pause)
{
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, pause, [this] { return m_cancelled; });
}

void TDWStallWatch::cancel()
{
    QList<std::function<void()>> stopRequests;
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        stopRequests = m_inFlight.values();
    }
    m_wake.notify_all();
    for (const std::function<void()> &stop : stopRequests)
        stop();
}

bool TDWStallWatch::isCancelled() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

TDWStallWatch::Installed TDWStallWatch::install()
{
    // Without an application no event loop would run the timer.
    if (!QCoreApplication::instance())
        return Installed{shared_from_this()};
    TDWMainThread::post([self = shared_from_this()] {
        if (self->hasEnded())
            return;
        self->m_timer = std::make_unique<QTimer>();
        self->m_timer->setInterval(TDWClock::duration(60s));
        QObject::connect(self->m_timer.get(), &QTimer::timeout, [weak = std::weak_ptr<TDWStallWatch>(self)] {
            if (auto watch = weak.lock())
                watch->check();
        });
        self->m_timer->start();
    });
    return Installed{shared_from_this()};
}

void TDWStallWatch::remove()
{
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    TDWMainThread::post([self = shared_from_this()] { self->m_timer.reset(); });
}

bool TDWStallWatch::hasEnded() const
{
    std::lock_guard lock(m_mutex);
    return m_ended;
}

void TDWStallWatch::check()
{
    if (hasEnded() || !stalled())
        return;
    tdwLog(m_stallLog);
    // This runs inside the timer's own signal: it goes once that has returned.
    m_timer->stop();
    m_timer.release()->deleteLater();
    // Cancelling ends the requests; the worker then fails the run and finishes it.
    if (auto operation = m_owner.lock())
        operation->cancel();
    else
        cancel();
}
