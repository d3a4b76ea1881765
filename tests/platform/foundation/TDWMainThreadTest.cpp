#include "platform/foundation/TDWMainThread.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace {

bool onTheApplicationThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

} // namespace

TEST(TDWMainThread, IsCurrentOnlyOnTheApplicationThread)
{
    EXPECT_TRUE(TDWMainThread::isCurrent());
    bool onWorker = true;
    std::thread([&] { onWorker = TDWMainThread::isCurrent(); }).join();
    EXPECT_FALSE(onWorker);
}

TEST(TDWMainThread, PostFromAWorkerReturnsAtOnceAndRunsInOrderOnTheMainThread)
{
    std::vector<int> ran;
    std::atomic<bool> allOnMainThread = true;
    std::atomic<bool> posterReturned = false;
    // The worker posts and ends while the main thread is not running its
    // loop: a post that waited for the main thread would never return.
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            TDWMainThread::post([&, i] {
                allOnMainThread = allOnMainThread && onTheApplicationThread();
                ran.push_back(i);
            });
        posterReturned = true;
    });
    worker.join();
    EXPECT_TRUE(posterReturned);
    EXPECT_TRUE(ran.empty());
    ASSERT_TRUE(tdwtest::waitUntil([&] { return ran.size() == 3; }));
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(allOnMainThread);
}

TEST(TDWMainThread, PostOnTheMainThreadRunsAfterTheCallerReturnedToTheLoop)
{
    bool ran = false;
    TDWMainThread::post([&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_TRUE(tdwtest::waitUntil([&] { return ran; }));
}

TEST(TDWMainThread, PostWithAContextIsDroppedWhenTheContextGoesFirst)
{
    bool keptRan = false;
    bool droppedRan = false;
    QObject kept;
    auto dropped = std::make_unique<QObject>();
    std::thread([&] {
        TDWMainThread::post(dropped.get(), [&] { droppedRan = true; });
        TDWMainThread::post(&kept, [&] { keptRan = true; });
    }).join();
    dropped.reset();
    ASSERT_TRUE(tdwtest::waitUntil([&] { return keptRan; }));
    EXPECT_FALSE(droppedRan);
}

TEST(TDWMainThread, InvokeAndWaitRunsOnTheMainThreadBeforeReturning)
{
    // On the main thread: at once.
    bool ranInline = false;
    TDWMainThread::invokeAndWait([&] { ranInline = true; });
    EXPECT_TRUE(ranInline);

    std::atomic<bool> ranOnMainThread = false;
    std::atomic<bool> ranBeforeReturn = false;
    std::atomic<bool> returned = false;
    std::thread worker([&] {
        bool ran = false;
        TDWMainThread::invokeAndWait([&] {
            ran = true;
            ranOnMainThread = onTheApplicationThread();
        });
        ranBeforeReturn = ran;
        returned = true;
    });
    ASSERT_TRUE(tdwtest::waitUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnMainThread);
    EXPECT_TRUE(ranBeforeReturn);
}

// Without an application every thread stands in for the main thread and the
// work runs in the caller (a child process: this program has an application).
TEST(TDWMainThread, WithoutAnApplicationEveryThreadIsTheMainThread)
{
    QProcess probe;
    probe.start(QStringLiteral(TDW_FOUNDATION_PROBE), {QStringLiteral("mainthread")});
    ASSERT_TRUE(probe.waitForFinished(30000));
    ASSERT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().constData();
    EXPECT_EQ(probe.readAllStandardOutput(), QByteArray("1 1 1\n1 1 1\n"));
}
