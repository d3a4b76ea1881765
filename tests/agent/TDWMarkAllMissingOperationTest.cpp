#include "agent/TDWMarkAllMissingOperation.h"

#include "BackupFolderFixture.h"
#include "SaveRecorder.h"

#include "SchedulerTestSupport.h"

#include "agent/TDWBackupScheduler.h"
#include "common/TDWServiceTable.h"
#include "platform/foundation/TDWBlockOperation.h"
#include "platform/foundation/TDWRunLoopTimer.h"
#include "platform/notify/TDWNotificationCenter.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

class TDWMarkAllMissingOperationTest : public BackupFolderFixture
{
protected:
    void SetUp() override
    {
        BackupFolderFixture::SetUp();
        // Offline, Back Up Now queues a run at once.
        TDWBackupSchedulerEnvironment environment;
        environment.reachability = std::make_unique<schedtest::FakeReachability>(false);
        environment.sleepNotices = std::make_unique<TDWSleepNotices>();
        environment.makeTimer = &TDWRunLoopTimer::scheduled;
        environment.makeBackupOperation = [this] {
            ++m_backupRunsMade;
            return std::make_shared<TDWBlockOperation>([] {});
        };
        environment.globalStatus = [] { return 0; };
        m_scheduler = std::make_unique<TDWBackupScheduler>(TDWServiceTable::shared().serviceConfigs(), m_moc->persistentStoreCoordinator(),
                                                           std::move(environment));
        m_token = TDWNotificationCenter::defaultCenter().addObserver(QStringLiteral("allmissing"), [this](const TDWNotification &notification) {
            // Delivered on the main thread, where the item lists live.
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            m_posted.append(notification.object());
        });
    }

    void TearDown() override
    {
        TDWNotificationCenter::defaultCenter().removeObserver(m_token);
        m_scheduler.reset();
        BackupFolderFixture::TearDown();
    }

    // Runs the operation on a worker thread, as the restore queue does, while
    // the main thread delivers its notification.
    std::shared_ptr<TDWMarkAllMissingOperation> runOnWorker()
    {
        auto operation = std::make_shared<TDWMarkAllMissingOperation>(*m_scheduler);
        std::atomic<bool> done = false;
        std::thread worker([&] {
            operation->start();
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents();
        worker.join();
        return operation;
    }

    std::unique_ptr<TDWBackupScheduler> m_scheduler;
    int m_backupRunsMade = 0;
    TDWNotificationCenter::Token m_token = 0;
    QList<QObject *> m_posted;
};

TEST_F(TDWMarkAllMissingOperationTest, EveryBackedUpRevisionBecomesMissingAndABackupIsAskedFor)
{
    QList<TDWDocRev::Ptr> revs;
    for (qint64 status = TDWDocRev::NothingToDownload; status <= TDWDocRev::ExcludedByRule; ++status)
        revs += addItem(QStringLiteral("doc%1").arg(status), QStringLiteral("Item%1").arg(status),
                        {{QStringLiteral("Old"), TDWDocRev::BackedUp}, {QStringLiteral("New"), status}});

    const auto operation = runOnWorker();

    for (const TDWDocRev::Ptr &rev : revs) {
        const qint64 expected = rev->exportStatus() == TDWDocRev::BackedUp ? TDWDocRev::FileMissing : rev->exportStatus();
        EXPECT_EQ(storedExportStatus(rev->objectID()), expected) << rev->title().toStdString() << " " << rev->exportStatus();
    }
    EXPECT_EQ(m_posted, QList<QObject *>{operation.get()});
    // Asked from the worker, carried out on the main thread.
    ASSERT_TRUE(schedtest::waitFor([this] { return m_backupRunsMade == 1; }));
}

TEST_F(TDWMarkAllMissingOperationTest, WithNothingBackedUpTheListsAreStillToldAndABackupAskedFor)
{
    addItem(QStringLiteral("doc1"), QStringLiteral("Plan"), {{QStringLiteral("Plan"), TDWDocRev::DownloadPending, false}});

    const auto operation = runOnWorker();

    EXPECT_EQ(m_posted, QList<QObject *>{operation.get()});
    // Asked from the worker, carried out on the main thread.
    ASSERT_TRUE(schedtest::waitFor([this] { return m_backupRunsMade == 1; }));
}

TEST_F(TDWMarkAllMissingOperationTest, RevisionsAreChangedInBatchesOfAThousand)
{
    QList<Revision> many(2500, Revision{QStringLiteral("Done.txt"), TDWDocRev::BackedUp, false});
    addItem(QStringLiteral("doc1"), QStringLiteral("Many"), many);
    SaveRecorder saves(m_moc->persistentStoreCoordinator());

    runOnWorker();

    EXPECT_EQ(saves.updatedCounts(), (QList<qsizetype>{1000, 1000, 500}));
}

} // namespace
