#include "platform/foundation/TDWFetchAhead.h"

#include "HeldOperation.h"

#include <gtest/gtest.h>

#include <thread>

using foundationtest::HeldOperation;

TEST(TDWFetchAhead, TakesTheAnswerOfTheFetchStartedLast)
{
    TDWFetchAhead<int> ahead;
    EXPECT_FALSE(ahead.isStarted());
    HeldOperation first;
    ahead.start(first.operation);
    EXPECT_EQ(first.launches, 1);
    EXPECT_TRUE(ahead.isStarted());

    // The answer may come before or after the taker waits for it.
    std::thread answering([&] { first.deliver(TDWError(), 7); });
    TDWError error;
    EXPECT_EQ(ahead.take(&error), 7);
    EXPECT_TRUE(error.isNull());
    EXPECT_FALSE(ahead.isStarted());
    answering.join();

    // A second start drops the fetch not taken: it is cancelled, never waited for.
    HeldOperation dropped;
    HeldOperation kept;
    ahead.start(dropped.operation);
    ahead.start(kept.operation);
    EXPECT_TRUE(dropped.operation->isCancelled());
    kept.deliver(TDWError(), 8);
    EXPECT_EQ(ahead.take(&error), 8);
}

TEST(TDWFetchAhead, CancelFromAnotherThreadEndsTheWaitWithTheCancelledError)
{
    TDWFetchAhead<int> ahead;
    HeldOperation held;
    ahead.start(held.operation);
    std::thread cancelling([&] { ahead.cancel(); });
    TDWError error;
    EXPECT_EQ(ahead.take(&error), 0);
    EXPECT_EQ(error.code(), HeldOperation::CancelledCode);
    cancelling.join();
}

TEST(TDWFetchAhead, UnderAWatchTheRequestEndsWithItsAnswer)
{
    auto watch = std::make_shared<TDWStallWatch>(std::chrono::seconds(300), QStringLiteral("stuck"));
    TDWFetchAhead<int> ahead;
    HeldOperation held;
    ahead.start(held.operation, watch);
    EXPECT_TRUE(watch->stalled(TDWStallWatch::Clock::now() + std::chrono::seconds(301)));
    held.deliver(TDWError(), 1);
    EXPECT_FALSE(watch->stalled(TDWStallWatch::Clock::now() + std::chrono::hours(1)));
    // A cancelled watch asks nothing more.
    watch->cancel();
    HeldOperation refused;
    ahead.start(refused.operation, watch);
    EXPECT_EQ(refused.launches, 0);
}
