#pragma once

#include <chrono>
#include <functional>
#include <memory>

// The program's one set of worker threads: operation queues run their
// operations on it, asynchronous operations their blocking work, and any
// other work that must leave the calling thread goes through it.
//
// A job runs at once on an idle worker, or on a new one: jobs may block (a
// network exchange, a queue waiting for its operations), so the pool never
// makes one wait for another. A worker idle for 30 seconds ends.
class TDWWorkerPool
{
public:
    static TDWWorkerPool &shared();

    TDWWorkerPool();
    // Waits for every job to return.
    ~TDWWorkerPool();
    TDWWorkerPool(const TDWWorkerPool &) = delete;
    TDWWorkerPool &operator=(const TDWWorkerPool &) = delete;

    // Runs `job` on a worker, never in the caller.
    void run(std::function<void()> job);

    // Blocks until no job waits or runs, or `limit` has passed; answers
    // whether the pool is idle. Never call it from a job.
    bool waitForDone(std::chrono::milliseconds limit);

private:
    struct Core;

    std::shared_ptr<Core> m_core;
};
