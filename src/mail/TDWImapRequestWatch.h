#pragma once

#include "mail/TDWImapStallWatchdog.h"
#include "platform/foundation/TDWAsyncOperation.h"
#include "platform/foundation/TDWError.h"
#include "platform/imap/TDWImapError.h"

#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QTimer;
class TDWOperation;

// The IMAP requests of one mail operation that works on a worker thread with
// blocking requests, under a watchdog on the main thread: every 60 s it looks
// whether the request now outstanding has waited more than 300 s for its
// answer (time between requests never counts), and if so logs `stallLog` and
// cancels the owning operation, which ends the request; the worker then ends
// the operation, once. Cancelling also wakes a pause between requests.
class TDWImapRequestWatch : public std::enable_shared_from_this<TDWImapRequestWatch>
{
public:
    explicit TDWImapRequestWatch(QString stallLog);
    ~TDWImapRequestWatch();

    // The operation that a stall cancels (before install()).
    void setOwner(std::weak_ptr<TDWOperation> owner);

    // Runs `operation` on this thread, the watchdog looking on; a cancelled
    // watch answers the IMAP layer's Cancelled error without asking.
    template <class T>
    T request(const std::shared_ptr<TDWAsyncOperation<T>> &operation, TDWError *error)
    {
        if (!beginRequest([operation] { operation->cancel(); })) {
            tdwSetError(error, TDWImapError::make(TDWImapError::Cancelled, QStringLiteral("The operation was cancelled.")));
            return T{};
        }
        T result = operation->run(error);
        endRequest();
        return result;
    }

    // Waits `pause` on this thread; false when cancelled meanwhile.
    bool sleep(std::chrono::milliseconds pause);

    // Ends the request in flight and every later one. Safe from any thread.
    void cancel();

    // Starts the watchdog's timer on the main thread; the guard stops it.
    struct Installed
    {
        std::shared_ptr<TDWImapRequestWatch> watch;
        ~Installed() { watch->remove(); }
    };
    [[nodiscard]] Installed install();

private:
    bool beginRequest(std::function<void()> cancelRequest);
    void endRequest();
    void remove();
    bool hasEnded();
    void check();

    const QString m_stallLog;
    TDWImapStallWatchdog m_watchdog;
    std::weak_ptr<TDWOperation> m_owner;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_cancelled = false;
    bool m_ended = false;
    std::function<void()> m_cancelRequest;

    // Main thread only.
    std::unique_ptr<QTimer> m_timer;
};
