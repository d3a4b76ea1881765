#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class TDWOperationQueue;

// One unit of work, run once, usually by a TDWOperationQueue on one of its
// worker threads. Held through std::shared_ptr.
//
// A plain operation is executing while main() runs and finished when it
// returns. An operation whose isConcurrent() answers true is started the same
// way but stays executing after main() returns, until it calls finish() itself,
// from any thread (for instance when a network reply arrives).
//
// cancel() only sets a flag that main() is expected to check; an operation
// cancelled before it starts finishes without running main().
class TDWOperation : public QObject, public std::enable_shared_from_this<TDWOperation>
{
    Q_OBJECT

public:
    TDWOperation();
    ~TDWOperation() override;

    // Runs the operation in the calling thread (queues call it on a worker;
    // see mustNotBlockMainThread()). Only the first call has an effect.
    void start();

    // Marks the operation finished: no longer executing, the completion
    // callback run, the owning queue told. Safe from any thread, more than once.
    void finish();

    // Subclasses that extend cancel() call this one too.
    virtual void cancel();

    bool isCancelled() const;
    bool isExecuting() const;
    bool isFinished() const;
    virtual bool isConcurrent() const;
    // Whether main() blocks the thread it runs on (requests that wait for a
    // server, long store work). start() called on the main thread runs such an
    // operation's main() on the worker pool, so the event loop never waits for
    // it; a queue runs every operation on a worker anyway.
    virtual bool mustNotBlockMainThread() const;

    // Runs once, in the thread that finishes the operation, after the state
    // signals and before the owning queue's count falls.
    void setCompletionCallback(std::function<void()> callback);

    // Blocks until finish() has completed. Never call it from the thread that
    // must call finish().
    void waitUntilFinished();

signals:
    // Emitted in the thread that changes the state.
    void executingChanged(bool executing);
    void finishedChanged(bool finished);

protected:
    // The work. The default does nothing.
    virtual void main();

private:
    friend class TDWOperationQueue;
    void runMain();
    enum class State { Pending, Executing, Finished };

    // The queue's side of the link: whether this operation may be added, and
    // what to tell the queue on cancel and on finish.
    bool attachToQueue(std::function<void(TDWOperation *)> onCancel, std::function<void(TDWOperation *)> onFinish);

    mutable std::mutex m_mutex;
    std::condition_variable m_doneCondition;
    State m_state = State::Pending;
    bool m_done = false; // finish() has run to its end
    bool m_queued = false;
    std::atomic<bool> m_cancelled = false;
    std::function<void()> m_completion;
    std::function<void(TDWOperation *)> m_onCancel;
    std::function<void(TDWOperation *)> m_onFinish;
};
