#include "platform/foundation/TDWBlockOperation.h"
#include "platform/foundation/TDWWorkerPool.h"

#include "TestSupport.h"

#include <QSemaphore>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

using namespace std::chrono_literals;

TEST(TDWWorkerPool, JobsThatWaitForEachOtherAllRunAtOnceOffTheCaller)
{
    // Each job waits until all have started: a pool that made a job wait for
    // a free worker would never get them all going.
    constexpr int Jobs = 24;
    TDWWorkerPool pool;
    QSemaphore started;
    QSemaphore allStarted;
    std::mutex idsMutex;
    std::set<std::thread::id> ids;
    for (int i = 0; i < Jobs; ++i) {
        pool.run([&] {
            {
                std::lock_guard lock(idsMutex);
                ids.insert(std::this_thread::get_id());
            }
            started.release();
            allStarted.acquire();
        });
    }
    ASSERT_TRUE(started.tryAcquire(Jobs, 30000));
    allStarted.release(Jobs);
    ASSERT_TRUE(pool.waitForDone(30s));
    EXPECT_EQ(int(ids.size()), Jobs);
    EXPECT_FALSE(ids.contains(std::this_thread::get_id()));
}

TEST(TDWWorkerPool, AnIdleWorkerTakesTheNextJob)
{
    TDWWorkerPool pool;
    std::set<std::thread::id> ids;
    for (int i = 0; i < 50; ++i) {
        pool.run([&] { ids.insert(std::this_thread::get_id()); });
        ASSERT_TRUE(pool.waitForDone(30s));
    }
    EXPECT_EQ(ids.size(), 1u);
}

TEST(TDWWorkerPool, WaitForDoneAnswersFalseWhileAJobRuns)
{
    TDWWorkerPool pool;
    QSemaphore release;
    pool.run([&] { release.acquire(); });
    EXPECT_FALSE(pool.waitForDone(50ms));
    release.release();
    EXPECT_TRUE(pool.waitForDone(30s));
}

TEST(TDWWorkerPool, DestroyingThePoolWaitsForItsJobs)
{
    std::atomic<bool> finished = false;
    {
        TDWWorkerPool pool;
        pool.run([&] {
            std::this_thread::sleep_for(50ms);
            finished = true;
        });
    }
    EXPECT_TRUE(finished);
}

// An operation that says it must not block the main thread, started there,
// runs its work on a worker and finishes from there; any other runs in the caller.
TEST(TDWWorkerPool, OperationsThatMustNotBlockTheMainThreadLeaveIt)
{
    class Blocking : public TDWBlockOperation
    {
    public:
        Blocking(bool mustLeave, std::function<void()> block) : TDWBlockOperation(std::move(block)), m_mustLeave(mustLeave) {}
        bool mustNotBlockMainThread() const override { return m_mustLeave; }

    private:
        const bool m_mustLeave;
    };
    for (const bool mustLeave : {true, false}) {
        SCOPED_TRACE(mustLeave);
        std::atomic<bool> ranInCaller = false;
        QSemaphore release;
        const auto caller = std::this_thread::get_id();
        auto operation = std::make_shared<Blocking>(mustLeave, [&] {
            ranInCaller = std::this_thread::get_id() == caller;
            if (!ranInCaller)
                release.acquire();
        });
        operation->start();
        EXPECT_EQ(operation->isFinished(), !mustLeave);
        release.release();
        operation->waitUntilFinished();
        EXPECT_EQ(ranInCaller, !mustLeave);
    }
}
