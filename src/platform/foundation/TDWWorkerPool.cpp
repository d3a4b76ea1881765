#include "platform/foundation/TDWWorkerPool.h"

#include <QList>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <thread>

// Workers hold the core, so one that ends after the pool is gone touches nothing freed.
struct TDWWorkerPool::Core : std::enable_shared_from_this<Core>
{
    static constexpr std::chrono::seconds IdleWorkerLifetime{30};

    std::mutex mutex;
    std::condition_variable work;        // a job is waiting, or stopping
    std::condition_variable workersGone; // the last worker ended
    std::condition_variable idle;        // no job waits or runs
    QList<std::function<void()>> jobs;   // not yet taken by a worker
    int workers = 0;
    int idleWorkers = 0;
    int running = 0;
    bool stopping = false;

    static void workerLoop(std::shared_ptr<Core> self)
    {
        pthread_setname_np(pthread_self(), "tdw-worker");
        std::unique_lock lock(self->mutex);
        for (;;) {
            if (!self->jobs.isEmpty()) {
                std::function<void()> job = self->jobs.takeFirst();
                ++self->running;
                lock.unlock();
                job();
                // What the job held goes before the worker counts as idle.
                job = nullptr;
                lock.lock();
                if (--self->running == 0 && self->jobs.isEmpty())
                    self->idle.notify_all();
                continue;
            }
            if (self->stopping)
                break;
            ++self->idleWorkers;
            const bool woken = self->work.wait_for(lock, IdleWorkerLifetime, [&] { return !self->jobs.isEmpty() || self->stopping; });
            --self->idleWorkers;
            if (!woken)
                break;
        }
        if (--self->workers == 0)
            self->workersGone.notify_all();
    }
};

TDWWorkerPool &TDWWorkerPool::shared()
{
    static TDWWorkerPool pool;
    return pool;
}

TDWWorkerPool::TDWWorkerPool()
    : m_core(std::make_shared<Core>())
{
}

TDWWorkerPool::~TDWWorkerPool()
{
    std::unique_lock lock(m_core->mutex);
    m_core->stopping = true;
    m_core->work.notify_all();
    m_core->workersGone.wait(lock, [this] { return m_core->workers == 0; });
}

bool TDWWorkerPool::waitForDone(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_core->mutex);
    return m_core->idle.wait_for(lock, limit, [this] { return m_core->running == 0 && m_core->jobs.isEmpty(); });
}

void TDWWorkerPool::run(std::function<void()> job)
{
    std::lock_guard lock(m_core->mutex);
    m_core->jobs.append(std::move(job));
    // Each waiting job has an idle worker of its own, or starts one.
    if (m_core->jobs.size() > m_core->idleWorkers) {
        ++m_core->workers;
        std::thread(&Core::workerLoop, m_core).detach();
    } else {
        m_core->work.notify_one();
    }
}
