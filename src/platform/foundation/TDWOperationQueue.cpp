#include "platform/foundation/TDWOperationQueue.h"

#include "platform/foundation/TDWBlockOperation.h"
#include "platform/foundation/TDWWorkerPool.h"

#include <QSet>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

// The queue's state. Operations reach it through weak references and workers
// through strong ones, so one that finishes after the queue is gone touches
// nothing freed.
struct TDWOperationQueue::Core : std::enable_shared_from_this<Core>
{
    // A worker with nothing ready stays this long for more before it goes
    // back to the pool, so that a queue fed one operation at a time keeps
    // its thread.
    static constexpr std::chrono::milliseconds WorkerLinger{100};

    // Serialises each count change with its emission, so observers see the
    // counts in order. Recursive: an observer may add or cancel operations.
    std::recursive_mutex notifyMutex;

    mutable std::mutex mutex;
    std::condition_variable emptied;
    std::condition_variable work;        // ready operations, or stopping
    std::condition_variable workersGone; // the last worker ended
    TDWOperationQueue *queue = nullptr;  // null once the queue is being destroyed
    bool stopping = false;
    int maxConcurrent = DefaultMaxConcurrentOperationCount;
    QList<std::shared_ptr<TDWOperation>> operations; // not finished, in order
    QList<std::shared_ptr<TDWOperation>> waiting;    // not yet handed to a worker
    QList<std::shared_ptr<TDWOperation>> ready;      // handed to the workers, not yet picked up
    QSet<TDWOperation *> started;                    // handed to a worker, counted against the limit
    int workers = 0;
    int idleWorkers = 0;

    int limit() const { return maxConcurrent > 0 ? maxConcurrent : std::max(1, QThread::idealThreadCount()); }

    // Hands waiting operations to workers while the limit allows. Idle workers
    // take ready ones first, and a busy worker comes back for more once its
    // operation has run; a new worker starts only when neither can, so a queue
    // never has more workers than its limit.
    void dispatch()
    {
        std::lock_guard lock(mutex);
        if (stopping)
            return;
        while (started.size() < limit() && !waiting.isEmpty()) {
            std::shared_ptr<TDWOperation> operation = waiting.takeFirst();
            started.insert(operation.get());
            ready.append(std::move(operation));
            work.notify_one();
        }
        const qsizetype missing = std::min(ready.size() - idleWorkers, started.size() - workers);
        for (qsizetype i = 0; i < missing; ++i) {
            ++workers;
            TDWWorkerPool::shared().run([self = shared_from_this()] { workerLoop(self); });
        }
    }

    // A job on the worker pool that runs ready operations until none comes
    // for a while; it holds the core, so the last one may end after the
    // queue is gone.
    static void workerLoop(const std::shared_ptr<Core> &self)
    {
        std::unique_lock lock(self->mutex);
        for (;;) {
            // Ready work is always run, even while stopping: it was cancelled and ends at once.
            if (!self->ready.isEmpty()) {
                std::shared_ptr<TDWOperation> operation = self->ready.takeFirst();
                lock.unlock();
                operation->start();
                operation.reset();
                lock.lock();
                continue;
            }
            if (self->stopping)
                break;
            ++self->idleWorkers;
            const bool woken = self->work.wait_for(lock, WorkerLinger, [&] { return !self->ready.isEmpty() || self->stopping; });
            --self->idleWorkers;
            if (!woken)
                break;
        }
        if (--self->workers == 0)
            self->workersGone.notify_all();
    }

    // Emits the count; the caller holds notifyMutex, under which the
    // destructor clears `queue`.
    void announce(int count)
    {
        if (queue)
            emit queue->operationCountChanged(count);
    }

    void cancelled(TDWOperation *operation)
    {
        // One that never started need not wait for a free slot to finish.
        std::shared_ptr<TDWOperation> notStarted;
        {
            std::lock_guard lock(mutex);
            const auto it = std::find_if(waiting.begin(), waiting.end(), [operation](const auto &candidate) { return candidate.get() == operation; });
            if (it == waiting.end())
                return;
            notStarted = *it;
            waiting.erase(it);
        }
        notStarted->start();
    }

    void finished(TDWOperation *operation)
    {
        {
            std::lock_guard notify(notifyMutex);
            int count;
            {
                std::lock_guard lock(mutex);
                const auto same = [operation](const auto &candidate) { return candidate.get() == operation; };
                operations.removeIf(same);
                waiting.removeIf(same);
                started.remove(operation);
                count = int(operations.size());
            }
            announce(count);
            // Waiters return only once observers have seen the count fall.
            std::lock_guard lock(mutex);
            if (operations.isEmpty())
                emptied.notify_all();
        }
        dispatch();
    }
};

TDWOperationQueue::TDWOperationQueue(QObject *parent)
    : QObject(parent), m_core(std::make_shared<Core>())
{
    m_core->queue = this;
}

TDWOperationQueue::~TDWOperationQueue()
{
    {
        std::lock_guard notify(m_core->notifyMutex);
        std::lock_guard lock(m_core->mutex);
        m_core->queue = nullptr;
    }
    cancelAllOperations();
    std::unique_lock lock(m_core->mutex);
    m_core->stopping = true;
    m_core->work.notify_all();
    m_core->workersGone.wait(lock, [this] { return m_core->workers == 0; });
}

void TDWOperationQueue::setMaxConcurrentOperationCount(int count)
{
    {
        std::lock_guard lock(m_core->mutex);
        m_core->maxConcurrent = count > 0 ? count : DefaultMaxConcurrentOperationCount;
    }
    m_core->dispatch();
}

int TDWOperationQueue::maxConcurrentOperationCount() const
{
    std::lock_guard lock(m_core->mutex);
    return m_core->maxConcurrent;
}

bool TDWOperationQueue::addOperation(const std::shared_ptr<TDWOperation> &operation)
{
    if (!operation)
        return false;
    const std::weak_ptr<Core> weakCore = m_core;
    auto onCancel = [weakCore](TDWOperation *op) {
        if (const auto core = weakCore.lock())
            core->cancelled(op);
    };
    auto onFinish = [weakCore](TDWOperation *op) {
        if (const auto core = weakCore.lock())
            core->finished(op);
    };
    if (!operation->attachToQueue(onCancel, onFinish))
        return false;
    {
        std::lock_guard notify(m_core->notifyMutex);
        int count;
        {
            std::lock_guard lock(m_core->mutex);
            m_core->operations.append(operation);
            m_core->waiting.append(operation);
            count = int(m_core->operations.size());
        }
        m_core->announce(count);
    }
    m_core->dispatch();
    return true;
}

std::shared_ptr<TDWOperation> TDWOperationQueue::addOperation(std::function<void()> block)
{
    auto operation = std::make_shared<TDWBlockOperation>(std::move(block));
    addOperation(operation);
    return operation;
}

QList<std::shared_ptr<TDWOperation>> TDWOperationQueue::operations() const
{
    std::lock_guard lock(m_core->mutex);
    return m_core->operations;
}

int TDWOperationQueue::operationCount() const
{
    std::lock_guard lock(m_core->mutex);
    return int(m_core->operations.size());
}

void TDWOperationQueue::cancelAllOperations()
{
    for (const std::shared_ptr<TDWOperation> &operation : operations())
        operation->cancel();
}

void TDWOperationQueue::waitUntilAllOperationsAreFinished()
{
    std::unique_lock lock(m_core->mutex);
    while (!m_core->operations.isEmpty())
        m_core->emptied.wait(lock);
}
