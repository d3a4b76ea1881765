#include "DataObjectsTestSupport.h"

#include "TestSupport.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <gtest/gtest.h>

namespace {

using dotest::at;

class TDWBackupIterationTest : public ::testing::Test
{
protected:
    void SetUp() override { TDWUserDefaults::standard()->removeObjectForKey(TDWSettingsKeys::LatestBackupIterationUrl); }
    void TearDown() override { TDWUserDefaults::standard()->removeObjectForKey(TDWSettingsKeys::LatestBackupIterationUrl); }

    // An iteration started at hour `start`, ended at `end` unless it is 0.
    TDWBackupIteration::Ptr iteration(int start, int end, bool outdated = false)
    {
        auto iteration = TDWBackupIteration::newWithMoc(*stack.moc);
        iteration->setIterationStartTime(at(start));
        if (end)
            iteration->setIterationEndTime(at(end));
        iteration->setOutdated(outdated);
        EXPECT_TRUE(stack.moc->save(nullptr));
        return iteration;
    }

    static QList<QDateTime> starts(const std::optional<QList<TDWBackupIteration::Ptr>> &iterations)
    {
        QList<QDateTime> times;
        for (const auto &iteration : iterations.value_or(QList<TDWBackupIteration::Ptr>()))
            times << iteration->iterationStartTime();
        return times;
    }

    dotest::MetadataStack stack;
};

TEST_F(TDWBackupIterationTest, WithNoIterationsEverythingIsEmpty)
{
    EXPECT_EQ(TDWBackupIteration::allSnapshots(*stack.moc), std::optional<QList<TDWBackupIteration::Ptr>>(QList<TDWBackupIteration::Ptr>()));
    EXPECT_EQ(TDWBackupIteration::allComplete(*stack.moc), std::optional<QList<TDWBackupIteration::Ptr>>(QList<TDWBackupIteration::Ptr>()));
    EXPECT_FALSE(TDWBackupIteration::hasAtLeastOneShapshot(*stack.moc));
    EXPECT_FALSE(TDWBackupIteration::latestBackupIteration(*stack.moc, nullptr));
}

TEST_F(TDWBackupIterationTest, AnUnfinishedIterationIsNoSnapshotButCounts)
{
    iteration(1, 0);
    EXPECT_TRUE(starts(TDWBackupIteration::allSnapshots(*stack.moc)).isEmpty());
    EXPECT_TRUE(TDWBackupIteration::hasAtLeastOneShapshot(*stack.moc));
    EXPECT_EQ(TDWBackupIteration::latestBackupIteration(*stack.moc, nullptr)->iterationStartTime(), at(1));
}

TEST_F(TDWBackupIterationTest, SnapshotListsAndCutOffs)
{
    iteration(4, 5);
    iteration(1, 2);
    iteration(3, 0);
    iteration(0, 1, true);
    iteration(6, 7);
    EXPECT_EQ(starts(TDWBackupIteration::allSnapshots(*stack.moc)), (QList<QDateTime>{at(1), at(4), at(6)}));
    EXPECT_EQ(starts(TDWBackupIteration::allComplete(*stack.moc)), (QList<QDateTime>{at(1), at(4), at(6)}));
    // Strictly later only.
    EXPECT_EQ(starts(TDWBackupIteration::allCompleteSinceReferenceDate(at(4), *stack.moc)), (QList<QDateTime>{at(6)}));
    // Unfinished ones count as history; outdated ones do not.
    QList<QDateTime> candidates = starts(TDWBackupIteration::backupIterationsNotOutdatedBefore(at(4), *stack.moc));
    std::sort(candidates.begin(), candidates.end());
    EXPECT_EQ(candidates, (QList<QDateTime>{at(1), at(3)}));
}

TEST_F(TDWBackupIterationTest, LatestIsTheOneTheDefaultNamesAcrossARestart)
{
    auto named = iteration(1, 2);
    iteration(5, 0);
    TDWUserDefaults::standard()->setString(named->objectID().uriRepresentation().toString(), TDWSettingsKeys::LatestBackupIterationUrl);
    stack.reopen();
    EXPECT_EQ(TDWBackupIteration::latestBackupIteration(*stack.moc, nullptr)->iterationStartTime(), at(1));

    // A default naming a deleted iteration, or nothing this coordinator knows, falls back to the newest start.
    stack.moc->deleteObject(TDWBackupIteration::latestBackupIteration(*stack.moc, nullptr));
    ASSERT_TRUE(stack.moc->save(nullptr));
    EXPECT_EQ(TDWBackupIteration::latestBackupIteration(*stack.moc, nullptr)->iterationStartTime(), at(5));
    TDWUserDefaults::standard()->setString(QStringLiteral("x-tidewell://nowhere/BackupIteration/p1"), TDWSettingsKeys::LatestBackupIterationUrl);
    EXPECT_EQ(TDWBackupIteration::latestBackupIteration(*stack.moc, nullptr)->iterationStartTime(), at(5));
}

TEST_F(TDWBackupIterationTest, AFailedCountIsNoSnapshot)
{
    iteration(1, 2);
    const QString master = TDWMasterStore::shared().masterStore()->path();
    ASSERT_EQ(dotest::sqlite(master, QStringLiteral("DROP TABLE BackupIteration")), QString());
    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWBackupIteration::hasAtLeastOneShapshot(*stack.moc));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to determine if there is at least one snapshot: ")));
    TDWError error;
    EXPECT_FALSE(TDWBackupIteration::latestBackupIteration(*stack.moc, &error));
    EXPECT_FALSE(error.isNull());
}

} // namespace
