#pragma once

#include "platform/foundation/TDWAsyncOperation.h"

#include <QHash>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QTimer;
class TDWOperation;

// Tells a stuck server from a busy client for one operation's requests: once
// installed, a timer on the main thread looks every 60 s whether requests are
// in flight and none has shown a sign of life (sent, answered, data arriving)
// for longer than the limit. Time with no request in flight (the client's own
// work between requests) never counts. On a stall it logs `stallLog` once and
// cancels the owning operation (or, without one, the watch), which ends every
// request in flight; the worker then ends the operation, once. A cancelled
// watch also wakes a pause between requests and answers every later request
// with the layer's own Cancelled error, without asking the server.
class TDWStallWatch : public std::enable_shared_from_this<TDWStallWatch>
{
public:
    using Clock = std::chrono::steady_clock;
    using Ticket = quint64;

    TDWStallWatch(std::chrono::milliseconds limit, QString stallLog);
    ~TDWStallWatch();

    // The operation that a stall cancels (before install()).
    void setOwner(std::weak_ptr<TDWOperation> owner);

    // Runs `operation` on this thread under the watch.
    template <class T>
    T request(const std::shared_ptr<TDWAsyncOperation<T>> &operation, TDWError *error)
    {
        const std::optional<Ticket> ticket = requestStarted([operation] { operation->cancel(); });
        if (!ticket)
            operation->cancel();
        T result = operation->run(error);
        if (ticket)
            requestEnded(*ticket);
        return result;
    }

    // Launches `operation` under the watch for a thread that waits for it
    // later (TDWFetchAhead); the request ends when its answer is in.
    template <class T>
    std::shared_ptr<typename TDWAsyncOperation<T>::Pending> begin(const std::shared_ptr<TDWAsyncOperation<T>> &operation)
    {
        const std::optional<Ticket> ticket = requestStarted([operation] { operation->cancel(); });
        if (!ticket) {
            operation->cancel();
            return operation->begin();
        }
        return operation->begin([weak = weak_from_this(), ticket = *ticket] {
            if (const auto self = weak.lock())
                self->requestEnded(ticket);
        });
    }

    // The watch's side of a request: started (null once the watch is
    // cancelled: send nothing), a sign of life, ended. Safe from any thread.
    std::optional<Ticket> requestStarted(std::function<void()> cancelRequest, Clock::time_point now = Clock::now());
    void touch(Clock::time_point now = Clock::now());
    void requestEnded(Ticket ticket);
    // Whether requests are in flight and none has shown a sign of life for longer than the limit.
    bool stalled(Clock::time_point now = Clock::now()) const;

    // Waits `pause` on this thread; false when cancelled meanwhile.
    bool sleep(std::chrono::milliseconds pause);

    // Ends every request in flight and every later one. Safe from any thread.
    void cancel();
    bool isCancelled() const;

    // Starts the timer on the main thread; the guard stops it.
    struct Installed
    {
        std::shared_ptr<TDWStallWatch> watch;
        ~Installed() { watch->remove(); }
    };
    [[nodiscard]] Installed install();

private:
    void remove();
    bool hasEnded() const;
    void check();

    const std::chrono::milliseconds m_limit;
    const QString m_stallLog;
    std::weak_ptr<TDWOperation> m_owner;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_cancelled = false;
    bool m_ended = false;
    Ticket m_nextTicket = 0;
    QHash<Ticket, std::function<void()>> m_inFlight; // how to cancel each request in flight
    Clock::time_point m_lastSignOfLife;

    // Main thread only.
    std::unique_ptr<QTimer> m_timer;
};
