#include "ImapTestPrinters.h"

#include "platform/imap/TDWImapIndexSet.h"

#include <gtest/gtest.h>

namespace {

TDWImapIndexSet build(const std::vector<std::pair<quint32, quint32>> &ranges)
{
    TDWImapIndexSet set;
    for (const auto &[first, last] : ranges)
        set.addRange(first, last);
    return set;
}

TEST(ImapIndexSet, MergesRangesIntoASequenceSet)
{
    const std::vector<std::pair<std::vector<std::pair<quint32, quint32>>, QByteArray>> cases = {
        {{}, ""},
        {{{5, 5}}, "5"},
        {{{1, 1000}}, "1:1000"},
        {{{9, 3}}, "3:9"},
        {{{1, 3}, {4, 6}}, "1:6"},
        {{{4, 6}, {1, 3}}, "1:6"},
        {{{1, 3}, {5, 6}}, "1:3,5:6"},
        {{{10, 20}, {1, 2}, {15, 30}, {5, 5}}, "1:2,5,10:30"},
        {{{1, 2}, {8, 9}, {3, 7}}, "1:9"},
        {{{0, 0}}, ""},
        {{{0, 3}}, "1:3"},
        {{{4294967290u, 4294967295u}, {1, 1}}, "1,4294967290:4294967295"},
    };
    for (const auto &[ranges, text] : cases)
        EXPECT_EQ(build(ranges).toImapSet(), text) << text.toStdString();
}

TEST(ImapIndexSet, CountsContainsAndClamps)
{
    const TDWImapIndexSet set = build({{1, 3}, {10, 20}, {30, 30}});
    EXPECT_EQ(set.count(), 15u);
    for (quint32 n : {1u, 3u, 10u, 20u, 30u})
        EXPECT_TRUE(set.contains(n)) << n;
    for (quint32 n : {0u, 4u, 9u, 21u, 29u, 31u})
        EXPECT_FALSE(set.contains(n)) << n;
    EXPECT_EQ(set.clampedTo(15).toImapSet(), "1:3,10:15");
    EXPECT_EQ(set.clampedTo(30).toImapSet(), "1:3,10:20,30");
    EXPECT_EQ(set.clampedTo(9).toImapSet(), "1:3");
    EXPECT_TRUE(set.clampedTo(0).isEmpty());
    EXPECT_EQ(set.lastIndex(), 30u);
}

} // namespace
