// The counting rules and texts of a restore's progress, as its window shows them.
#include "PinnedZoneAndLocale.h"

#include "restore/TDWRecoveryProgress.h"

#include <gtest/gtest.h>

namespace {

using State = TDWRecoveryProgress::State;

struct Row
{
    const char *name;
    qint64 numFileItems;
    const char *title;
    bool multipleTopLevel;
    bool asMailbox;
    qint64 numNoBackup;
    qint64 numDocs;
    qint64 numSteps;
    qint64 filesDone;
    qint64 mailboxesDone;
    bool failed;
    State state;
    const char *text;
};

const Row Rows[] = {
    {"everything restored", 3, "", true, false, 0, 3, 3, 3, 0, false, State::Finished, "Restoring…"},
    {"under way", 3, "", true, false, 0, 3, 3, 1, 0, false, State::InProgress, "Restoring…"},
    {"single titled item not backed up", 1, "Budget", false, false, 1, 1, 0, 0, 0, false, State::FinishedNotBackedUp,
     "Unable to restore “Budget” because it is not backed up."},
    {"one of several not backed up, none restored", 1, "", true, false, 1, 1, 0, 0, 0, false, State::FinishedNotBackedUp,
     "Unable to restore 1 item because it is not backed up."},
    {"a folder of two files never backed up", 2, "Projects", true, false, 2, 2, 0, 0, 0, false, State::FinishedNotBackedUp,
     "Unable to restore 2 items because they are not backed up."},
    {"seven of ten", 10, "", true, false, 3, 10, 7, 7, 0, false, State::FinishedNotBackedUp,
     "Restored 7 of 10 items.  The others were not backed up."},
    {"purged revisions: the of figure is every file item", 10, "", true, false, 3, 7, 7, 7, 0, false, State::FinishedNotBackedUp,
     "Restored 7 of 10 items.  The others were not backed up."},
    {"four of five messages", 5, "", true, true, 1, 5, 5, 4, 1, false, State::FinishedNotBackedUp,
     "Restored 4 of 5 messages.  The other was not backed up."},
    {"mailbox steps count: not finished before the last message", 5, "", true, true, 0, 5, 6, 4, 1, false, State::InProgress, "Restoring…"},
    {"thousands grouped", 1235, "", true, false, 1, 1235, 1234, 1234, 0, false, State::FinishedNotBackedUp,
     "Restored 1,234 of 1,235 items.  The other was not backed up."},
    {"failure, several items", 3, "", true, false, 0, 3, 3, 1, 0, true, State::Failed, "Unable to restore items."},
    {"failure, single titled item", 1, "Lease", false, false, 0, 1, 1, 0, 0, true, State::Failed, "Unable to restore item."},
    {"failure of messages", 3, "", true, true, 0, 3, 4, 1, 1, true, State::Failed, "Unable to restore messages."},
};

TEST(TDWRecoveryProgress, StatesAndTextsFollowTheCounts)
{
    const PinnedZoneAndLocale pinned("UTC", "en_US");
    for (const Row &row : Rows) {
        SCOPED_TRACE(row.name);
        TDWRecoveryProgress progress(QString::fromUtf8(row.title), row.multipleTopLevel, row.asMailbox);
        progress.setPlan({row.numNoBackup, row.numDocs, row.numFileItems, 0, row.numSteps});
        for (qint64 i = 0; i < row.mailboxesDone; ++i)
            progress.dirRecoverySuccessful();
        for (qint64 i = 0; i < row.filesDone; ++i)
            progress.docRecoverySuccessful(10);
        if (row.failed)
            progress.recoveryFailure(TDWError::withDescription(QStringLiteral("Test"), 28, QStringLiteral("No space left on device")));
        EXPECT_EQ(progress.state(), row.state);
        EXPECT_EQ(progress.text(), QString::fromUtf8(row.text));
    }
}

TEST(TDWRecoveryProgress, NothingCountsAfterTheFirstFailure)
{
    TDWRecoveryProgress progress(QString(), true, false);
    progress.setPlan({0, 3, 3, 30, 3});
    progress.docRecoverySuccessful(10);
    const TDWError first = TDWError::withDescription(QStringLiteral("Test"), 1, QStringLiteral("first"));
    progress.recoveryFailure(first);
    progress.recoveryFailure(TDWError::withDescription(QStringLiteral("Test"), 2, QStringLiteral("second")));
    progress.docRecoverySuccessful(10);
    progress.dirRecoverySuccessful();
    EXPECT_EQ(progress.failureError(), first);
    EXPECT_EQ(progress.numDocsRecovered(), 1);
    EXPECT_EQ(progress.numDirsRecovered(), 0);
    EXPECT_EQ(progress.bytesRecovered(), 10);
}

TEST(TDWRecoveryProgress, TheBarIsTheShareOfStepsDoneWithinZeroAndOne)
{
    TDWRecoveryProgress progress(QString(), true, true);
    // Before the plan is known, and before the first file: indeterminate.
    EXPECT_FALSE(progress.barValue());
    progress.setPlan({0, 4, 4, 0, 6}); // two mailboxes and four messages; no bytes at all
    EXPECT_FALSE(progress.barValue());
    progress.dirRecoverySuccessful();
    progress.dirRecoverySuccessful();
    EXPECT_FALSE(progress.barValue()) << "busy until the first file is copied";
    progress.docRecoverySuccessful(0);
    ASSERT_TRUE(progress.barValue());
    EXPECT_DOUBLE_EQ(*progress.barValue(), 0.5);
    for (int i = 0; i < 3; ++i)
        progress.docRecoverySuccessful(0);
    EXPECT_EQ(progress.state(), State::Finished);
    EXPECT_DOUBLE_EQ(*progress.barValue(), 1.0);
    // More reports than steps (a plan handed over late) never push it past 1.
    TDWRecoveryProgress late(QString(), true, false);
    late.docRecoverySuccessful(5);
    late.docRecoverySuccessful(5);
    late.setPlan({0, 1, 1, 5, 1});
    EXPECT_DOUBLE_EQ(*late.barValue(), 1.0);
}

TEST(TDWRecoveryProgress, ACancelledRequestIsNoLongerInProgress)
{
    TDWRecoveryProgress progress(QString(), true, false);
    progress.recoveryCancelled();
    EXPECT_EQ(progress.state(), State::Cancelled);
}

} // namespace
