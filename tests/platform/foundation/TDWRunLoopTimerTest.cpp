#include "platform/foundation/TDWRunLoopTimer.h"

#include "platform/foundation/TDWClock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// Bound on waiting for a firing that the shrunk clock makes immediate.
constexpr int FiringBoundMs = 10000;

// A fixed "now" and waits shrunk to a millisecond, so the timers fire at once.
class TDWRunLoopTimerTest : public ::testing::Test
{
protected:
    TDWRunLoopTimerTest()
    {
        TDWClock::setNowProvider([this] { return now; });
        TDWClock::setDurationScale(1e-9);
    }
    ~TDWRunLoopTimerTest() override
    {
        TDWClock::setNowProvider({});
        TDWClock::setDurationScale(1.0);
    }

    static bool runUntil(const std::function<bool()> &done)
    {
        QDeadlineTimer bound(FiringBoundMs);
        while (!done() && !bound.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        return done();
    }

    QDateTime now = QDateTime(QDate(2024, 3, 1), QTime(12, 0), Qt::UTC);
};

TEST_F(TDWRunLoopTimerTest, FiresAndIsDueAgainOneIntervalLater)
{
    // The shrunk clock would fire it again at once: the first firing ends it.
    QDateTime nextAfterFirstFiring;
    TDWRunLoopTimer timer(now.addSecs(3600), 60s, [&] {
        nextAfterFirstFiring = timer.fireDate();
        EXPECT_TRUE(timer.isValid());
        timer.invalidate();
    });
    ASSERT_TRUE(runUntil([&] { return nextAfterFirstFiring.isValid(); }));
    EXPECT_EQ(nextAfterFirstFiring, now.addSecs(3660));
    EXPECT_EQ(timer.interval(), 60s);
}

TEST_F(TDWRunLoopTimerTest, FiringsMissedWhileAsleepAreSkipped)
{
    int firings = 0;
    QDateTime nextAfterFirstFiring;
    TDWRunLoopTimer timer(now.addSecs(-10 * 3600 - 5), 3600s, [&] {
        ++firings;
        nextAfterFirstFiring = timer.fireDate();
        timer.invalidate();
    });
    ASSERT_TRUE(runUntil([&] { return firings >= 1; }));
    // One firing for the ten missed; the next lies ahead.
    EXPECT_EQ(firings, 1);
    EXPECT_EQ(nextAfterFirstFiring, now.addSecs(3600 - 5));
}

TEST_F(TDWRunLoopTimerTest, AnInvalidatedTimerNeverFiresAndKeepsItsDate)
{
    int invalidFirings = 0;
    TDWRunLoopTimer invalidated(now, 60s, [&] { ++invalidFirings; });
    invalidated.invalidate();
    invalidated.setFireDate(now.addSecs(-1));
    EXPECT_FALSE(invalidated.isValid());
    EXPECT_EQ(invalidated.fireDate(), now);

    // A timer armed after it for the same moment fires after it would have.
    bool laterFired = false;
    TDWRunLoopTimer later(now, 60s, [&] { laterFired = true; });
    ASSERT_TRUE(runUntil([&] { return laterFired; }));
    EXPECT_EQ(invalidFirings, 0);
}

TEST_F(TDWRunLoopTimerTest, TheActionMayDestroyTheTimer)
{
    int firings = 0;
    std::unique_ptr<TDWTimer> timer;
    timer = TDWRunLoopTimer::scheduled(now, 60s, [&] {
        ++firings;
        timer.reset();
    });
    ASSERT_TRUE(runUntil([&] { return !timer; }));
    EXPECT_EQ(firings, 1);
}

TEST_F(TDWRunLoopTimerTest, AnIntervalBelowOneSecondIsOneSecond)
{
    TDWRunLoopTimer timer(now.addSecs(60), 0s, [] {});
    EXPECT_EQ(timer.interval(), 1s);
}

} // namespace
