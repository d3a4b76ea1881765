#include "mail/TDWImapRequestWatch.h"

#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWOperation.h"

#include <QCoreApplication>
#include <QTimer>

using namespace std::chrono_literals;

TDWImapRequestWatch::TDWImapRequestWatch(QString stallLog)
    : m_stallLog(std::move(stallLog))
    , m_watchdog(TDWClock::duration(300s))
{
}

TDWImapRequestWatch::~TDWImapRequestWatch() = default;

void TDWImapRequestWatch::setOwner(std::weak_ptr<TDWOperation> owner)
{
    m_owner = std::move(owner);
}

bool TDWImapRequestWatch::beginRequest(std::function<void()> cancelRequest)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled)
            return false;
        m_cancelRequest = std::move(cancelRequest);
    }
    m_watchdog.requestStarted();
    return true;
}

void TDWImapRequestWatch::endRequest()
{
    m_watchdog.requestEnded();
    std::lock_guard lock(m_mutex);
    m_cancelRequest = nullptr;
}

bool TDWImapRequestWatch::sleep(std::chrono::milliseconds pause)
{
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, pause, [this] { return m_cancelled; });
}

void TDWImapRequestWatch::cancel()
{
    std::function<void()> stopRequest;
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        stopRequest = m_cancelRequest;
    }
    m_wake.notify_all();
    if (stopRequest)
        stopRequest();
}

TDWImapRequestWatch::Installed TDWImapRequestWatch::install()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [self = shared_from_this()] {
            if (self->hasEnded())
                return;
            self->m_timer = std::make_unique<QTimer>();
            self->m_timer->setInterval(TDWClock::duration(60s));
            QObject::connect(self->m_timer.get(), &QTimer::timeout, [weak = std::weak_ptr<TDWImapRequestWatch>(self)] {
                if (auto watch = weak.lock())
                    watch->check();
            });
            self->m_timer->start();
        }, Qt::QueuedConnection);
    return Installed{shared_from_this()};
}

void TDWImapRequestWatch::remove()
{
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [self = shared_from_this()] { self->m_timer.reset(); }, Qt::QueuedConnection);
}

bool TDWImapRequestWatch::hasEnded()
{
    std::lock_guard lock(m_mutex);
    return m_ended;
}

void TDWImapRequestWatch::check()
{
    if (hasEnded() || !m_watchdog.stalled())
        return;
    tdwLog(m_stallLog);
    // This runs inside the timer's own signal: it goes once that has returned.
    m_timer->stop();
    m_timer.release()->deleteLater();
    // Cancelling ends the request; the worker then fails the run and finishes it.
    if (auto operation = m_owner.lock())
        operation->cancel();
    else
        cancel();
}
