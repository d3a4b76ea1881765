// The API backup operation where the registry lacks the classes it makes by
// name: a program of its own, since nothing is ever taken out of a registry.
#include "ApiBackupFixture.h"

#include "dataobjects/TDWDocRev.h"

#include <gtest/gtest.h>

namespace apitest {
namespace {

class TDWApiBackupOperationUnregisteredTest : public ApiBackupTest
{
protected:
    // Only the Drive download: no list retrieval, no contacts download.
    void registerStandIns() override
    {
        TDWExportOperationClasses::shared().registerClass<RecordingDownload>(QStringLiteral("TDWStraightDownloadOperation"));
    }
};

TEST_F(TDWApiBackupOperationUnregisteredTest, WithoutAListRetrievalTheDownloadsGoOnOverWhatTheStoreHolds)
{
    const TDWManagedObjectID pending = seed(QStringLiteral("docs"), TDWDocRev::DownloadPending, 3);
    auto operation = std::make_shared<TDWApiBackupOperation>(Alice, QStringLiteral("docs"));
    ASSERT_TRUE(runToEnd(operation));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: No list retrieval class \"TDWDocListRetrievalOperation\"")));
    EXPECT_EQ(Script::shared().downloaded(), QList<TDWManagedObjectID>{pending});
    EXPECT_FALSE(operation->isCancelled());
}

TEST_F(TDWApiBackupOperationUnregisteredTest, WithoutTheDownloadClassNothingIsQueuedAndTheClosingStepsRun)
{
    seed(QStringLiteral("contacts"), TDWDocRev::DownloadPending, 3);
    seed(QStringLiteral("contacts"), TDWDocRev::DownloadPending, 4);
    ASSERT_TRUE(runToEnd(std::make_shared<TDWApiBackupOperation>(Alice, QStringLiteral("contacts"))));
    // Said once, not once per revision.
    EXPECT_EQ(log.count(QStringLiteral("ERROR: No export operation class \"TDWContactExportOperation\"")), 1);
    EXPECT_TRUE(Script::shared().downloaded().isEmpty());
    // Queueing, then the closing "done": nothing was queued.
    EXPECT_EQ(statusChangesPosted(Alice, QStringLiteral("contacts")), 2);
}

} // namespace
} // namespace apitest
