#include "platform/foundation/TDWBlockOperation.h"
#include "platform/foundation/TDWOperationQueue.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Counts how many operations run at once; each one waits at the gate until
// the test lets it go, so the test decides when slots free up.
struct Gate
{
    std::atomic<int> running = 0;
    std::atomic<int> peak = 0;
    std::atomic<int> ran = 0;
    QSemaphore arrived;
    QSemaphore open;

    void pass()
    {
        const int now = ++running;
        int seen = peak;
        while (now > seen && !peak.compare_exchange_weak(seen, now)) {
        }
        ++ran;
        arrived.release();
        open.acquire();
        --running;
    }
};

// An operation whose work gets the operation itself; a concurrent one stays
// executing after its work until someone calls finish().
class TestOperation : public TDWOperation
{
public:
    TestOperation(bool concurrent, std::function<void(TestOperation *)> work) : m_concurrent(concurrent), m_work(std::move(work)) {}
    bool isConcurrent() const override { return m_concurrent; }

protected:
    void main() override { m_work(this); }

private:
    const bool m_concurrent;
    std::function<void(TestOperation *)> m_work;
};

std::shared_ptr<TestOperation> asyncOperation(std::function<void(TestOperation *)> work)
{
    return std::make_shared<TestOperation>(true, std::move(work));
}

TEST(TDWOperationQueue, NeverRunsMoreThanTheLimitAtOnce)
{
    for (int limit : {1, 3}) {
        SCOPED_TRACE(limit);
        TDWOperationQueue queue;
        queue.setMaxConcurrentOperationCount(limit);
        Gate gate;
        constexpr int Rounds = 3;
        for (int i = 0; i < Rounds * limit; ++i) {
            // Asynchronous operations hold their slot just like plain ones.
            if (i % 2)
                queue.addOperation(asyncOperation([&gate](TestOperation *op) {
                    std::thread([&gate, op] {
                        gate.pass();
                        op->finish();
                    }).detach();
                }));
            else
                queue.addOperation([&gate] { gate.pass(); });
        }
        for (int round = 0; round < Rounds; ++round) {
            gate.arrived.acquire(limit);
            EXPECT_EQ(gate.running, limit);
            EXPECT_EQ(queue.operationCount(), (Rounds - round) * limit);
            gate.open.release(limit);
        }
        queue.waitUntilAllOperationsAreFinished();
        EXPECT_EQ(gate.peak, limit);
        EXPECT_EQ(gate.ran, Rounds * limit);
        EXPECT_EQ(queue.operationCount(), 0);
    }
}

TEST(TDWOperationQueue, DefaultLimitIsTheNumberOfCores)
{
    TDWOperationQueue queue;
    EXPECT_EQ(queue.maxConcurrentOperationCount(), TDWOperationQueue::DefaultMaxConcurrentOperationCount);
    const int cores = std::max(1, QThread::idealThreadCount());
    Gate gate;
    for (int i = 0; i < cores + 2; ++i)
        queue.addOperation([&gate] { gate.pass(); });
    gate.arrived.acquire(cores);
    EXPECT_EQ(gate.running, cores);
    gate.open.release(cores + 2);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(gate.peak, cores);
}

TEST(TDWOperationQueue, WorkersAreReusedNotStartedPerOperation)
{
    for (int limit : {1, 3}) {
        SCOPED_TRACE(limit);
        TDWOperationQueue queue;
        queue.setMaxConcurrentOperationCount(limit);
        std::mutex idsMutex;
        std::set<std::thread::id> ids;
        for (int i = 0; i < 300; ++i) {
            queue.addOperation([&] {
                std::lock_guard lock(idsMutex);
                ids.insert(std::this_thread::get_id());
            });
        }
        queue.waitUntilAllOperationsAreFinished();
        EXPECT_LE(int(ids.size()), limit);
    }
}

TEST(TDWOperationQueue, CancelledBeforeStartFinishesWithoutRunning)
{
    TDWOperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    Gate gate;
    std::atomic<int> laterRan = 0;
    auto blocker = std::make_shared<TDWBlockOperation>([&gate] { gate.pass(); });
    auto waiting1 = std::make_shared<TDWBlockOperation>([&laterRan] { ++laterRan; });
    auto waiting2 = std::make_shared<TDWBlockOperation>([&laterRan] { ++laterRan; });
    QSignalSpy executing(waiting1.get(), &TDWOperation::executingChanged);
    QSignalSpy finished(waiting1.get(), &TDWOperation::finishedChanged);
    queue.addOperation(blocker);
    queue.addOperation(waiting1);
    queue.addOperation(waiting2);
    gate.arrived.acquire();
    ASSERT_TRUE(blocker->isExecuting());

    waiting1->cancel();
    EXPECT_TRUE(waiting1->isFinished()) << "a waiting operation that is cancelled finishes at once";
    EXPECT_EQ(queue.operationCount(), 2);
    EXPECT_EQ(executing.count(), 0);
    EXPECT_EQ(finished.count(), 1);

    queue.cancelAllOperations();
    EXPECT_TRUE(waiting2->isFinished());
    EXPECT_TRUE(blocker->isCancelled());
    EXPECT_TRUE(blocker->isExecuting()) << "cancel only asks a running operation to stop";
    EXPECT_EQ(queue.operationCount(), 1);

    gate.open.release();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(laterRan, 0);
    EXPECT_TRUE(blocker->isFinished());

    // Outside any queue, start() of a cancelled operation only finishes it.
    std::atomic<bool> ran = false;
    TDWBlockOperation alone([&ran] { ran = true; });
    alone.cancel();
    alone.start();
    EXPECT_FALSE(ran);
    EXPECT_TRUE(alone.isFinished());
}

TEST(TDWOperationQueue, RunningOperationSeesItsCancellation)
{
    TDWOperationQueue queue;
    Gate gate;
    std::atomic<bool> sawCancel = false;
    auto op = std::make_shared<TestOperation>(false, [&](TestOperation *self) {
        gate.pass();
        sawCancel = self->isCancelled();
    });
    queue.addOperation(op);
    gate.arrived.acquire();
    queue.cancelAllOperations();
    gate.open.release();
    op->waitUntilFinished();
    EXPECT_TRUE(sawCancel);
}

TEST(TDWOperationQueue, AsynchronousOperationFinishesFromAnotherThread)
{
    TDWOperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    std::mutex eventsMutex;
    QStringList events;
    auto record = [&](const QString &event) {
        std::lock_guard lock(eventsMutex);
        events << event;
    };
    std::thread finisher;
    std::thread::id finisherId;
    std::thread::id completionThread;
    QSemaphore mainReturned;
    auto async = asyncOperation([&](TestOperation *op) {
        record(QStringLiteral("async main"));
        finisher = std::thread([&, op] {
            // The reply arrives well after main() returned; the slot stays taken meanwhile.
            mainReturned.acquire();
            QThread::msleep(30);
            record(QStringLiteral("async finish"));
            op->finish();
        });
        finisherId = finisher.get_id();
    });
    async->setCompletionCallback([&] { completionThread = std::this_thread::get_id(); });
    QSignalSpy executing(async.get(), &TDWOperation::executingChanged);
    QSignalSpy finished(async.get(), &TDWOperation::finishedChanged);

    queue.addOperation(async);
    queue.addOperation([&] { record(QStringLiteral("next")); });
    // Wait for main() to have run, then let the reply come.
    while (!async->isExecuting() || [&] { std::lock_guard lock(eventsMutex); return events.isEmpty(); }())
        QThread::yieldCurrentThread();
    mainReturned.release();
    queue.waitUntilAllOperationsAreFinished();
    finisher.join();

    EXPECT_EQ(events, (QStringList{QStringLiteral("async main"), QStringLiteral("async finish"), QStringLiteral("next")}));
    ASSERT_EQ(executing.count(), 2);
    EXPECT_TRUE(executing.at(0).at(0).toBool());
    EXPECT_FALSE(executing.at(1).at(0).toBool());
    EXPECT_EQ(finished.count(), 1);
    EXPECT_TRUE(async->isFinished());
    EXPECT_FALSE(async->isExecuting());
    EXPECT_EQ(completionThread, finisherId);

    async->finish(); // a second finish changes nothing
    EXPECT_EQ(finished.count(), 1);
}

TEST(TDWOperationQueue, MainThreadWaitIsNotBlockedByOperationsPostingToIt)
{
    TDWOperationQueue queue;
    queue.setMaxConcurrentOperationCount(4);
    int delivered = 0; // touched on the main thread only
    constexpr int Operations = 16;
    for (int i = 0; i < Operations; ++i) {
        queue.addOperation([&delivered] {
            QMetaObject::invokeMethod(QCoreApplication::instance(), [&delivered] { ++delivered; }, Qt::QueuedConnection);
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(queue.operationCount(), 0);
    EXPECT_EQ(delivered, 0) << "posts run only when the main thread returns to its loop";
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, Operations);
}

TEST(TDWOperationQueue, CountObserverSeesEveryChangeInOrder)
{
    TDWOperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    std::mutex seenMutex;
    QList<int> seen;
    QList<int> countAtCompletion;
    QObject::connect(
        &queue, &TDWOperationQueue::operationCountChanged, &queue,
        [&](int count) {
            std::lock_guard lock(seenMutex);
            seen << count;
        },
        Qt::DirectConnection);

    Gate gate;
    QList<std::shared_ptr<TDWOperation>> ops;
    for (int i = 0; i < 3; ++i) {
        auto op = std::make_shared<TDWBlockOperation>([&gate] { gate.pass(); });
        op->setCompletionCallback([&] {
            std::lock_guard lock(seenMutex);
            countAtCompletion << queue.operationCount();
        });
        ops << op;
        queue.addOperation(op);
    }
    for (const auto &op : ops) {
        gate.open.release();
        op->waitUntilFinished();
        // The count has already fallen when finishing is over.
        EXPECT_EQ(queue.operationCount(), 2 - ops.indexOf(op));
    }
    EXPECT_EQ(seen, (QList<int>{1, 2, 3, 2, 1, 0}));
    EXPECT_EQ(countAtCompletion, (QList<int>{3, 2, 1}));
}

TEST(TDWOperationQueue, CountsStayOrderedUnderConcurrentAddsAndFinishes)
{
    TDWOperationQueue queue;
    queue.setMaxConcurrentOperationCount(4);
    QList<int> seen; // appended under the queue's own serialisation of emissions
    QObject::connect(&queue, &TDWOperationQueue::operationCountChanged, &queue, [&seen](int count) { seen << count; }, Qt::DirectConnection);
    constexpr int PerThread = 100;
    std::vector<std::thread> adders;
    for (int t = 0; t < 3; ++t) {
        adders.emplace_back([&queue] {
            for (int i = 0; i < PerThread; ++i)
                queue.addOperation([] { QThread::yieldCurrentThread(); });
        });
    }
    for (auto &adder : adders)
        adder.join();
    queue.waitUntilAllOperationsAreFinished();

    ASSERT_EQ(seen.size(), 2 * 3 * PerThread);
    int previous = 0;
    for (int count : seen) {
        ASSERT_EQ(std::abs(count - previous), 1) << "a count was reported out of order";
        previous = count;
    }
    EXPECT_EQ(seen.last(), 0);
}

TEST(TDWOperationQueue, DestroyingTheQueueCancelsWhatWaitsAndWaitsForWhatRuns)
{
    Gate gate;
    std::atomic<int> waitingRan = 0;
    std::shared_ptr<TDWOperation> running;
    std::shared_ptr<TDWOperation> waiting;
    std::shared_ptr<TestOperation> async;
    {
        TDWOperationQueue queue;
        queue.setMaxConcurrentOperationCount(2);
        QSemaphore asyncStarted;
        async = asyncOperation([&asyncStarted](TestOperation *) { asyncStarted.release(); }); // finishes only when told
        queue.addOperation(async);
        running = queue.addOperation([&gate] { gate.pass(); });
        waiting = queue.addOperation([&waitingRan] { ++waitingRan; });
        gate.arrived.acquire();
        asyncStarted.acquire();
        std::thread opener([&gate] {
            QThread::msleep(20);
            gate.open.release();
        });
        opener.detach();
    }
    EXPECT_TRUE(running->isFinished());
    EXPECT_TRUE(running->isCancelled());
    EXPECT_TRUE(waiting->isFinished());
    EXPECT_EQ(waitingRan, 0);
    EXPECT_TRUE(async->isExecuting());
    async->finish(); // after its queue is gone
    EXPECT_TRUE(async->isFinished());
}

TEST(TDWOperationQueue, RefusesOperationsThatCannotRunAgain)
{
    TDWOperationQueue first;
    TDWOperationQueue second;
    auto op = std::make_shared<TDWBlockOperation>([] {});
    EXPECT_TRUE(first.addOperation(op));
    EXPECT_FALSE(second.addOperation(op));
    EXPECT_FALSE(first.addOperation(op));
    first.waitUntilAllOperationsAreFinished();
    EXPECT_FALSE(second.addOperation(op));
    EXPECT_FALSE(second.addOperation(std::shared_ptr<TDWOperation>()));
    EXPECT_EQ(second.operationCount(), 0);
}

TEST(TDWOperationQueue, OperationThatThrowsStillFinishes)
{
    tdwtest::LogCapture log;
    TDWOperationQueue queue;
    auto op = queue.addOperation([] { throw std::runtime_error("boom"); });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(op->isFinished());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: ")));
    EXPECT_TRUE(log.contains(QStringLiteral("boom")));
}

} // namespace
