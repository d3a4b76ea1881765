// The pieces of the All Mail walk that decide what is asked of the server:
// the batch ranges, and the watchdog's sense of a stalled request.
#include "mail/TDWAllMailUpdateOperation.h"
#include "mail/TDWImapStallWatchdog.h"

#include <gtest/gtest.h>

#include <vector>

using namespace std::chrono_literals;

namespace {

// Servers answer BAD to numbers past the message count (Dovecot does), and
// an empty folder has no valid number at all.
TEST(TDWAllMailBatchTest, BatchesNeverAskPastTheMessageCount)
{
    struct Case
    {
        qint64 first;
        qint64 count;
        const char *numbers;
    };
    const std::vector<Case> cases = {
        {1, 0, ""},
        {1, 1, "1"},
        {1, 999, "1:999"},
        {1, 1000, "1:1000"},
        {1, 2500, "1:1000"},
        {1001, 1001, "1001"},
        {2001, 2500, "2001:2500"},
        {3001, 2500, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << " of " << c.count);
        EXPECT_EQ(TDWAllMailUpdateOperation::batchNumbers(c.first, c.count).toImapSet(), QByteArray(c.numbers));
    }
}

TEST(TDWAllMailBatchTest, OnlyAnOutstandingRequestCanStall)
{
    using Clock = TDWImapStallWatchdog::Clock;
    const Clock::time_point t0 = Clock::now();
    TDWImapStallWatchdog watchdog(300s);
    EXPECT_FALSE(watchdog.stalled(t0 + 1h));

    // Long work between requests is no stall: the clock starts with the request.
    watchdog.requestStarted(t0 + 1h);
    EXPECT_FALSE(watchdog.stalled(t0 + 1h + 300s));
    EXPECT_TRUE(watchdog.stalled(t0 + 1h + 301s));

    watchdog.requestEnded();
    EXPECT_FALSE(watchdog.stalled(t0 + 2h));
}

} // namespace
