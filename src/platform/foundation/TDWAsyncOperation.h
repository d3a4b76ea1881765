#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/foundation/TDWMainThread.h"
#include "platform/foundation/TDWWorkerPool.h"

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// The one form of asynchronous work, with its result of type T. Start it with a
// completion that runs on the main thread (TDWMainThread), or call run() on a
// worker thread to wait for the result there. The work itself happens on
// threads of the layer that made the operation (IMAP connections; blocking
// work on the worker pool, through onWorkerPool()), handed over through `Launch`.
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
    // Work that blocks its thread until the result is in; `progress` may be empty.
    using BlockingWork = std::function<T(const Progress &progress, TDWError *error)>;

    // The launch of blocking work: it runs on a thread of the worker pool and
    // delivers its result from there.
    static Launch onWorkerPool(BlockingWork work)
    {
        return [work = std::move(work)](Deliver deliver, Progress progress) {
            TDWWorkerPool::shared().run([work, deliver = std::move(deliver), progress = std::move(progress)] {
                TDWError error;
                T result = work(progress, &error);
                deliver(error, std::move(result));
            });
        };
    }

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
                TDWMainThread::post([weak, received, total] {
                    if (auto self = weak.lock(); self && !self->isCancelled() && self->m_progress)
                        self->m_progress(received, total);
                });
            };
        }
        // The layer's thread only hands the operation over: its last reference
        // is let go on the main thread, never on that thread.
        m_launch([self = this->shared_from_this()](const TDWError &error, T result) mutable {
            // Moved, not copied: a copy left here could be the last one, let go on this thread.
            TDWMainThread::post([op = std::move(self), error, result = std::move(result)] { op->finish(error, result); });
        }, progress);
    }

    // Blocks the calling thread (never the main thread of a running event loop
    // that the caller depends on) until the result is in or the operation is cancelled.
    T run(TDWError *error = nullptr) { return wait(begin(), error); }

    // The result of work launched by begin(), for wait().
    struct Pending
    {
        std::mutex mutex;
        std::condition_variable condition;
        bool done = false;
        TDWError error;
        T result{};
    };

    // run() in two steps: begin() launches the work (nothing when already
    // cancelled) and returns at once; wait() blocks until its result is in or
    // the operation is cancelled. `delivered`, when set, is called on the
    // layer's thread once the result is in.
    std::shared_ptr<Pending> begin(std::function<void()> delivered = {})
    {
        auto state = std::make_shared<Pending>();
        {
            std::lock_guard lock(m_mutex);
            m_pending = state;
        }
        if (isCancelled())
            return state;
        m_launch([state, delivered = std::move(delivered)](const TDWError &e, T result) {
            {
                std::lock_guard lock(state->mutex);
                state->error = e;
                state->result = std::move(result);
                state->done = true;
                state->condition.notify_all();
            }
            if (delivered)
                delivered();
        }, m_progress);
        return state;
    }

    T wait(const std::shared_ptr<Pending> &state, TDWError *error = nullptr)
    {
        std::unique_lock lock(state->mutex);
        state->condition.wait(lock, [&] { return state->done || isCancelled(); });
        if (!state->done) {
            tdwSetError(error, m_cancelledError);
            return T{};
        }
        tdwSetError(error, state->error);
        return std::move(state->result);
    }

    void cancel()
    {
        if (m_cancelled.exchange(true))
            return;
        if (m_cancelWork)
            m_cancelWork();
        std::shared_ptr<Pending> pending;
        {
            std::lock_guard lock(m_mutex);
            pending = m_pending.lock();
        }
        if (pending) {
            std::lock_guard lock(pending->mutex);
            pending->condition.notify_all();
        }
    }

    bool isCancelled() const { return m_cancelled; }

private:
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
    std::weak_ptr<Pending> m_pending;
};
