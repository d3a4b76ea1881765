#include "BookkeepingFixture.h"

#include "TestSupport.h"
#include "agent/TDWCompletenessCheckOperation.h"

namespace {

using namespace bktest;

using TDWCompletenessCheckOperationTest = BookkeepingTest;

bool check(const QDateTime &snapshotDate = {}, const QString &username = Alice)
{
    TDWCompletenessCheckOperation operation(username, Docs, snapshotDate);
    operation.main();
    return operation.complete();
}

// Fresh counters are trusted: the store (all backed up) is not looked at.
TEST_F(TDWCompletenessCheckOperationTest, FreshCountersAnswerWithoutCounting)
{
    seed({{.status = TDWDocRev::BackedUp}});
    setCounts(Docs, true, 0, 3, 0);
    EXPECT_FALSE(check());
    setCounts(Docs, true, 0, 0, 0, 12);
    EXPECT_TRUE(check());
}

TEST_F(TDWCompletenessCheckOperationTest, StaleCountersOrASnapshotDateCountTheStore)
{
    seed({{.status = TDWDocRev::BackedUp},
          {.status = TDWDocRev::DownloadPending, .latest = false},
          {.status = TDWDocRev::FileMissing, .deleted = true},
          {.status = TDWDocRev::ExcludedByRule},
          {.status = TDWDocRev::NothingToDownload}});
    setCounts(Docs, false, 5, 5, 5);
    EXPECT_TRUE(check());

    // A pending revision of an item left out of the status still counts here.
    seed({{.includeInStatus = false}});
    setCounts(Docs, true, 0, 0, 0);
    EXPECT_TRUE(check());
    EXPECT_FALSE(check(dotest::at(1)));
    setCounts(Docs, false, 0, 0, 0);
    EXPECT_FALSE(check());
}

TEST_F(TDWCompletenessCheckOperationTest, AnUnknownAccountIsNotComplete)
{
    tdwtest::LogCapture log;
    EXPECT_FALSE(check({}, QStringLiteral("nobody@example.com")));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to find account in TDWCompletenessCheckOperation.")));
}

} // namespace
