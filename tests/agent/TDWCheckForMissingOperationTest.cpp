#include "agent/TDWCheckForMissingOperation.h"

#include "BackupFolderFixture.h"
#include "SaveRecorder.h"
#include "TestSupport.h"

#include "common/TDWFileUtils.h"

#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "status/TDWActivityMonitor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

class TDWCheckForMissingOperationTest : public BackupFolderFixture
{
protected:
    void SetUp() override
    {
        BackupFolderFixture::SetUp();
        TDWActivityMonitor::setShared(&m_monitor);
    }

    void TearDown() override
    {
        TDWActivityMonitor::setShared(nullptr);
        BackupFolderFixture::TearDown();
    }

    // The list of the service has been retrieved completely once.
    void markListRetrieved()
    {
        const TDWAccount::Ptr account = TDWAccount::byUsername(Alice, *m_moc, nullptr);
        ASSERT_TRUE(account);
        const auto iteration = TDWBackupIteration::newWithMoc(*m_moc);
        iteration->setIterationStartTime(QDateTime(QDate(2024, 3, 1), QTime(9, 0), Qt::UTC));
        account->setLastListIteration(iteration, Docs);
        ASSERT_TRUE(m_moc->save(nullptr));
    }

    void check()
    {
        TDWCheckForMissingOperation operation(Alice, Docs);
        operation.main();
    }

    TDWActivityMonitor m_monitor;
};

TEST_F(TDWCheckForMissingOperationTest, OnlyBackedUpRevisionsWhoseFileIsGoneBecomeMissing)
{
    markListRetrieved();
    struct Case
    {
        const char *name;
        qint64 status;
        bool fileOnDisk;
        qint64 expected;
    };
    const QList<Case> cases = {
        {"backed up, file there", TDWDocRev::BackedUp, true, TDWDocRev::BackedUp},
        {"backed up, file gone", TDWDocRev::BackedUp, false, TDWDocRev::FileMissing},
        {"nothing to download", TDWDocRev::NothingToDownload, false, TDWDocRev::NothingToDownload},
        {"pending", TDWDocRev::DownloadPending, false, TDWDocRev::DownloadPending},
        {"failed", TDWDocRev::DownloadFailed, false, TDWDocRev::DownloadFailed},
        {"missing", TDWDocRev::FileMissing, false, TDWDocRev::FileMissing},
        {"excluded", TDWDocRev::ExcludedByRule, false, TDWDocRev::ExcludedByRule},
    };
    QList<TDWDocRev::Ptr> revs;
    for (int i = 0; i < cases.size(); ++i) {
        // An older revision of each item is backed up and its file is there.
        revs.append(addItem(QStringLiteral("doc%1").arg(i), QStringLiteral("Item%1").arg(i),
                            {{QStringLiteral("Old.txt")}, {QStringLiteral("Item.txt"), cases[i].status, cases[i].fileOnDisk}})
                        .last());
    }
    tdwtest::LogCapture log;

    check();

    for (int i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(storedExportStatus(revs[i]->objectID()), cases[i].expected);
        EXPECT_EQ(log.contains(QStringLiteral("ERROR: Missing file at path “%1”").arg(onDisk(revs[i]->filePath()))),
                  cases[i].expected == TDWDocRev::FileMissing && cases[i].status == TDWDocRev::BackedUp);
    }
    const auto record = m_monitor.indexRetrievalStatusForUsername(Alice, Docs);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->status, TDWActivityMonitor::ValidatingBackups);
}

TEST_F(TDWCheckForMissingOperationTest, AGoneItemFolderIsMadeAgainEmptyForTheDownload)
{
    markListRetrieved();
    const QList<TDWDocRev::Ptr> revs = addItem(QStringLiteral("doc1"), QStringLiteral("Plan"), {{QStringLiteral("Plan.pdf")}, {QStringLiteral("Plan.pdf")}});
    const QString itemFolder = onDisk(accountDir() + QStringLiteral("/Plan"));
    ASSERT_TRUE(QDir(itemFolder).removeRecursively());

    check();

    for (const TDWDocRev::Ptr &rev : revs) {
        EXPECT_EQ(storedExportStatus(rev->objectID()), TDWDocRev::FileMissing);
        EXPECT_TRUE(QFileInfo(onDisk(rev->dirPath())).isDir());
        EXPECT_TRUE(TDWFileUtils::emptyDir(onDisk(rev->dirPath())));
    }
}

TEST_F(TDWCheckForMissingOperationTest, NothingIsCheckedBeforeTheListWasRetrievedOrWhileTheChosenFolderIsAbsent)
{
    const TDWDocRev::Ptr rev = addItem(QStringLiteral("doc1"), QStringLiteral("Plan"), {{QStringLiteral("Plan.pdf"), TDWDocRev::BackedUp, false}}).last();

    check();
    EXPECT_EQ(storedExportStatus(rev->objectID()), TDWDocRev::BackedUp);
    EXPECT_FALSE(m_monitor.indexRetrievalStatusForUsername(Alice, Docs));

    // The chosen folder lies on a volume that is not mounted.
    markListRetrieved();
    const QString unmounted = m_backupFolder + QStringLiteral("-unmounted");
    ASSERT_TRUE(QDir().rename(m_backupFolder, unmounted));
    check();
    ASSERT_TRUE(QDir().rename(unmounted, m_backupFolder));
    EXPECT_EQ(storedExportStatus(rev->objectID()), TDWDocRev::BackedUp);
    EXPECT_FALSE(QFileInfo::exists(onDisk(rev->dirPath())));
}

// What a run stopped between making folders and saving their rows leaves: an
// item folder no item names (with a file a delegate already wrote), and a
// revision folder no revision names. Named ones stay, whatever they hold.
TEST_F(TDWCheckForMissingOperationTest, FoldersNoItemOrRevisionNamesAreRemovedEvenBeforeTheFirstCompleteList)
{
    const QList<TDWDocRev::Ptr> revs = addItem(QStringLiteral("doc1"), QStringLiteral("Plan"), {{QStringLiteral("Plan.pdf")}});
    const TDWDocRev::Ptr pending = addItem(QStringLiteral("doc2"), QStringLiteral("Notes"), {{QStringLiteral("Notes.txt"), TDWDocRev::DownloadPending, false}}).last();
    ASSERT_TRUE(QDir().mkpath(onDisk(pending->dirPath())));
    const QString account = accountDir();
    for (const QString &folder : {QStringLiteral("/Report/1"), QStringLiteral("/Plan/2"), QStringLiteral("/Plan-1")})
        ASSERT_TRUE(QDir().mkpath(onDisk(account + folder)));
    QFile orphanFile(onDisk(account + QStringLiteral("/Report/1/Report.vcf")));
    ASSERT_TRUE(orphanFile.open(QIODevice::WriteOnly));
    orphanFile.write("BEGIN:VCARD\r\n");
    orphanFile.close();
    tdwtest::LogCapture log;

    TDWCheckForMissingOperation(Alice, Docs).removeOrphanFolders();

    for (const QString &folder : {QStringLiteral("/Report"), QStringLiteral("/Plan/2"), QStringLiteral("/Plan-1")}) {
        EXPECT_FALSE(QFileInfo::exists(onDisk(account + folder))) << folder.toStdString();
        EXPECT_TRUE(log.contains(QStringLiteral("Removing the folder “%1”, which no backed-up item names").arg(onDisk(account + folder))))
            << folder.toStdString();
    }
    EXPECT_TRUE(QFileInfo::exists(onDisk(revs.first()->filePath())));
    EXPECT_TRUE(QFileInfo(onDisk(pending->dirPath())).isDir());
    EXPECT_EQ(QDir(onDisk(account)).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name), (QStringList{QStringLiteral("Notes"), QStringLiteral("Plan")}));

    // A chosen folder that is absent proves nothing: nothing is touched.
    ASSERT_TRUE(QDir().mkpath(onDisk(account + QStringLiteral("/Report"))));
    const QString unmounted = m_backupFolder + QStringLiteral("-unmounted");
    ASSERT_TRUE(QDir().rename(m_backupFolder, unmounted));
    TDWCheckForMissingOperation(Alice, Docs).removeOrphanFolders();
    ASSERT_TRUE(QDir().rename(unmounted, m_backupFolder));
    EXPECT_TRUE(QFileInfo::exists(onDisk(account + QStringLiteral("/Report"))));
}

TEST_F(TDWCheckForMissingOperationTest, RevisionsAreExaminedInBatchesOfAThousand)
{
    markListRetrieved();
    QList<Revision> many(2500, Revision{QStringLiteral("Gone.txt"), TDWDocRev::BackedUp, false});
    addItem(QStringLiteral("doc1"), QStringLiteral("Many"), many);
    SaveRecorder saves(m_moc->persistentStoreCoordinator());

    check();

    EXPECT_EQ(saves.updatedCounts(), (QList<qsizetype>{1000, 1000, 500}));
}

} // namespace
