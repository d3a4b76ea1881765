// The piece of the All Mail walk that decides what is asked of the server:
// the batch ranges.
#include "mail/TDWAllMailUpdateOperation.h"

#include <gtest/gtest.h>

#include <vector>

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

} // namespace
