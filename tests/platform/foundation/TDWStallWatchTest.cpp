#include "platform/foundation/TDWStallWatch.h"

#include "HeldOperation.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

using Clock = TDWStallWatch::Clock;

using foundationtest::HeldOperation;

TEST(TDWStallWatch, OnlyRequestsInFlightWithoutASignOfLifeStall)
{
    const Clock::time_point t0 = Clock::now();
    TDWStallWatch watch(300s, QStringLiteral("stuck"));
    EXPECT_FALSE(watch.stalled(t0 + 1h));

    // Long work between requests is no stall: the clock starts with the request.
    const auto first = watch.requestStarted([] {}, t0 + 1h);
    ASSERT_TRUE(first);
    EXPECT_FALSE(watch.stalled(t0 + 1h + 300s));
    EXPECT_TRUE(watch.stalled(t0 + 1h + 301s));

    // Data arriving, or a second request going out, is a sign of life.
    watch.touch(t0 + 1h + 200s);
    EXPECT_FALSE(watch.stalled(t0 + 1h + 500s));
    const auto second = watch.requestStarted([] {}, t0 + 1h + 400s);
    EXPECT_FALSE(watch.stalled(t0 + 1h + 700s));
    EXPECT_TRUE(watch.stalled(t0 + 1h + 701s));

    watch.requestEnded(*first);
    watch.requestEnded(*second);
    EXPECT_FALSE(watch.stalled(t0 + 3h));
}

TEST(TDWStallWatch, CancellingEndsRequestsInFlightAndRefusesLaterOnesWithoutAsking)
{
    auto watch = std::make_shared<TDWStallWatch>(300s, QStringLiteral("stuck"));
    HeldOperation inFlight;
    auto pending = watch->begin(inFlight.operation);
    EXPECT_EQ(inFlight.launches, 1);
    EXPECT_FALSE(watch->stalled(Clock::now() + 299s));

    watch->cancel();
    TDWError error;
    inFlight.operation->wait(pending, &error);
    EXPECT_EQ(error.code(), HeldOperation::CancelledCode);
    EXPECT_FALSE(watch->sleep(1h));

    HeldOperation later;
    error = TDWError();
    watch->request(later.operation, &error);
    EXPECT_EQ(later.launches, 0);
    EXPECT_EQ(error.code(), HeldOperation::CancelledCode);
}

TEST(TDWStallWatch, AnAnswerEndsTheRequest)
{
    auto watch = std::make_shared<TDWStallWatch>(300s, QStringLiteral("stuck"));
    HeldOperation held;
    auto pending = watch->begin(held.operation);
    EXPECT_TRUE(watch->stalled(Clock::now() + 301s));
    held.deliver(TDWError(), 42);
    EXPECT_FALSE(watch->stalled(Clock::now() + 1h));
    TDWError error;
    EXPECT_EQ(held.operation->wait(pending, &error), 42);
    EXPECT_TRUE(error.isNull());
}

} // namespace
