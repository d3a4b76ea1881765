#pragma once

#include "platform/foundation/TDWError.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// The one form of asynchronous work, with its result of type T. Start it with a
// completion that runs on the main thread (the thread of the QCoreApplication),
// or call run() on a worker thread to wait for the result there. The work
// itself happens on threads of the layer that made the operation (IMAP
// connections, HTTP workers), handed over through `Launch`.
//
// cancel() stops the work: a completion not yet run will not run (when
// cancel() is called on the main thread), and run() returns at once with the
// layer's own Cancelled error.
template <class T>
class TDWAsyncOperation : public std::enable_shared_from_this<TDWAsyncOperation<T>>
{
public:
    using Completion = std::function<void(const TDWError &error, const T &result)>;
    // (bytes received, bytes announced, or -1 when not announced).
    using Progress = std::function<void(qint64 received, qint64 total)>;
    // Delivers the result once, on a thread of the layer.
    using Deliver = std::function<void(const TDWError &error, T result)>;
    // Starts the work: hands `deliver` and a progress hook (called on the layer's thread) to it.
    using Launch = std::function<void(Deliver deliver, Progress progress)>;

    // `owner` is kept alive while the operation lives; `cancelWork` stops the
    // launched work from any thread; run() answers `cancelledError` when
    // cancelled before the result came.
    TDWAsyncOperation(std::shared_ptr<void> owner, Launch launch, std::function<void()> cancelWork, TDWError cancelledError)
        : m_owner(std::move(owner))
        , m_launch(std::move(launch))
        , m_cancelWork(std::move(cancelWork))
        , m_cancelledError(std::move(cancelledError))
    {
    }

    // Before start() or run(): progress of the data received, reported on the
    // main thread after start() (at most every 64 KiB and at the end), and on
    // the layer's thread, for every chunk, during run().
    void setProgress(Progress progress) { m_progress = std::move(progress); }

    void start(Completion completion)
    {
        m_completion = std::move(completion);
        std::weak_ptr<TDWAsyncOperation> weak = this->shared_from_this();
        Progress progress;
        if (m_progress) {
            progress = [weak, last = std::make_shared<std::atomic<qint64>>(-1)](qint64 received, qint64 total) {
                if (received != total && received - last->load() < 64 * 1024)
                    return;
                last->store(received);
                postToMainThread([weak, received, total] {
                    if (auto self = weak.lock(); self && !self->isCancelled() && self->m_progress)
                        self->m_progress(received, total);
                });
            };
        }
        // The layer's thread only hands the operation over: its last reference
        // is let go on the main thread, never on that thread.
        m_launch([self = this->shared_from_this()](const TDWError &error, T result) mutable {
            std::shared_ptr<TDWAsyncOperation> op = std::move(self);
            postToMainThread([op, error, result = std::move(result)] { op->finish(error, result); });
        }, progress);
    }

    // Blocks the calling thread (never the main thread of a running event loop
    // that the caller depends on) until the result is in or the operation is cancelled.
    T run(TDWError *error = nullptr)
    {
        auto state = std::make_shared<Blocking>();
        {
            std::lock_guard lock(m_mutex);
            m_blocking = state;
        }
        m_launch([state](const TDWError &e, T result) {
            std::lock_guard lock(state->mutex);
            state->error = e;
            state->result = std::move(result);
            state->done = true;
            state->condition.notify_all();
        }, m_progress);
        std::unique_lock lock(state->mutex);
        state->condition.wait(lock, [&] { return state->done || isCancelled(); });
        if (!state->done) {
            tdwSetError(error, m_cancelledError);
            return T{};
        }
        tdwSetError(error, state->error);
        return state->result;
    }

    void cancel()
    {
        if (m_cancelled.exchange(true))
            return;
        if (m_cancelWork)
            m_cancelWork();
        std::shared_ptr<Blocking> blocking;
        {
            std::lock_guard lock(m_mutex);
            blocking = m_blocking.lock();
        }
        if (blocking) {
            std::lock_guard lock(blocking->mutex);
            blocking->condition.notify_all();
        }
    }

    bool isCancelled() const { return m_cancelled; }

private:
    struct Blocking
    {
        std::mutex mutex;
        std::condition_variable condition;
        bool done = false;
        TDWError error;
        T result{};
    };

    template <class F>
    static void postToMainThread(F function)
    {
        if (QCoreApplication *app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, std::move(function), Qt::QueuedConnection);
    }

    void finish(const TDWError &error, const T &result)
    {
        if (isCancelled())
            return;
        Completion completion = std::move(m_completion);
        m_completion = nullptr;
        if (completion)
            completion(error, result);
    }

    std::shared_ptr<void> m_owner;
    Launch m_launch;
    std::function<void()> m_cancelWork;
    TDWError m_cancelledError;
    Completion m_completion;
    Progress m_progress;
    std::atomic<bool> m_cancelled = false;
    std::mutex m_mutex;
    std::weak_ptr<Blocking> m_blocking;
};
