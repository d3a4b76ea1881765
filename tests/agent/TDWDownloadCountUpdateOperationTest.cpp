#include "BookkeepingFixture.h"

#include "TestSupport.h"
#include "agent/TDWDownloadCountUpdateOperation.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccountServiceSetting.h"

#include <QDir>

namespace {

using namespace bktest;

using TDWDownloadCountUpdateOperationTest = BookkeepingTest;

struct Counts
{
    qint64 pending = 0, failed = 0, done = 0, missing = 0, noBackup = 0;
    bool operator==(const Counts &) const = default;
};

void PrintTo(const Counts &c, std::ostream *out)
{
    *out << "pending " << c.pending << " failed " << c.failed << " done " << c.done << " missing " << c.missing << " noBackup " << c.noBackup;
}

Counts countsOf(const TDWAccountServiceSetting::Ptr &setting)
{
    return {setting->numDownloadsPending(), setting->numDownloadsFailed(), setting->numDownloadsDone(), setting->numDownloadsMissing(),
            setting->numDownloadsNoBackup()};
}

void recount(const QString &service = Docs)
{
    TDWDownloadCountUpdateOperation operation(Alice, service);
    operation.main();
}

// Only latest revisions of live items that count in the status are counted,
// each under its status; status 0 nowhere.
TEST_F(TDWDownloadCountUpdateOperationTest, CountsLatestLiveRevisionsByStatus)
{
    QList<Seed> seeds = statusTable();
    for (Seed seed : statusTable()) {
        seed.includeInStatus = false;
        seeds.append(seed);
    }
    // A second latest live revision at 4 and two at 3, so that no two counters agree by chance.
    seeds += {{.status = TDWDocRev::FileMissing}, {.status = TDWDocRev::BackedUp}, {.status = TDWDocRev::BackedUp}};
    seed(seeds);
    setCounts(Docs, false, 99, 99, 99, 99);

    recount();
    const TDWAccountServiceSetting::Ptr counted = setting();
    EXPECT_EQ(countsOf(counted), (Counts{.pending = 1, .failed = 1, .done = 3, .missing = 2, .noBackup = 1}));
    EXPECT_TRUE(counted->downloadCountsUpToDate());
    // The other services' counters are their own.
    EXPECT_FALSE(setting(Contacts)->downloadCountsUpToDate());
}

TEST_F(TDWDownloadCountUpdateOperationTest, AStoreWithNothingToCountGivesZerosUpToDate)
{
    seed({{.latest = false}, {.deleted = true}, {.status = TDWDocRev::NothingToDownload}});
    setCounts(Docs, false, 5, 4, 3, 2);
    recount();
    EXPECT_EQ(countsOf(setting()), Counts{});
    EXPECT_TRUE(setting()->downloadCountsUpToDate());
}

// A store that cannot be opened must not be counted as "every store" (nor as
// empty): the counters and their mark stay as they were.
TEST_F(TDWDownloadCountUpdateOperationTest, AStoreThatCannotBeOpenedLeavesTheCountersAlone)
{
    // Counting every store would find this one.
    seed({{}}, Contacts);
    // Docs of a second account whose store file is a folder.
    stack.addAccount(QStringLiteral("bob@example.com"), {Docs});
    stack.moc->reset();
    auto bobs = TDWAccountServiceSetting::byAccountUsername(QStringLiteral("bob@example.com"), Docs, *stack.moc);
    bobs->setStoreFilename(QStringLiteral("blocked.") + TDWStoreMgr::StoreExtension);
    bobs->setNumDownloadsPending(7);
    ASSERT_TRUE(stack.moc->save(nullptr));
    ASSERT_TRUE(QDir().mkpath(TDWFileMgr::auxiliaryStoresDir() + QStringLiteral("/blocked.") + TDWStoreMgr::StoreExtension));
    stack.moc->reset();

    tdwtest::LogCapture log;
    TDWDownloadCountUpdateOperation operation(QStringLiteral("bob@example.com"), Docs);
    operation.main();
    stack.moc->reset();
    bobs = TDWAccountServiceSetting::byAccountUsername(QStringLiteral("bob@example.com"), Docs, *stack.moc);
    EXPECT_EQ(bobs->numDownloadsPending(), 7);
    EXPECT_FALSE(bobs->downloadCountsUpToDate());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to retrieve download counts: ")));
}

TEST_F(TDWDownloadCountUpdateOperationTest, AnAccountServiceWithoutASettingIsLeftAlone)
{
    tdwtest::LogCapture log;
    TDWDownloadCountUpdateOperation operation(QStringLiteral("nobody@example.com"), Docs);
    operation.main();
    EXPECT_TRUE(log.lines().filter(QStringLiteral("ERROR")).isEmpty());
}

} // namespace
