// The mail backup of one account in a backup run, made by name through the
// program's own class registration, against the fake Gmail server: the list,
// the download batch and its limit, and how a pass that fails or is stopped
// ends.
#include "mail/TDWMailBackupOperation.h"
#include "mail/TDWMultiMessageExportOperation.h"

#include "MailSyncFixture.h"

#include "agent/TDWBackupOperationClasses.h"
#include "app/TDWRegisterClasses.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "status/TDWActivityMonitor.h"

#include <QDirIterator>
#include <QFileInfo>

using namespace std::chrono_literals;

namespace {

const QString Mail = QStringLiteral("mail");

class MailBackupOperationTest : public MailSyncFixture
{
protected:
    void SetUp() override
    {
        MailSyncFixture::SetUp();
        TDWRegisterClasses();
        TDWActivityMonitor::setShared(&m_monitor);
    }

    void TearDown() override
    {
        TDWActivityMonitor::setShared(nullptr);
        for (const QString &key : {QStringLiteral("ThrottleLevel"), QStringLiteral("DontDoExports")})
            TDWUserDefaults::standard()->removeObjectForKey(key);
        MailSyncFixture::TearDown();
    }

    std::shared_ptr<TDWOperation> makeBackup()
    {
        return TDWBackupOperationClasses::shared().create(QStringLiteral("TDWMailBackupOperation"), Alice, Mail);
    }

    // One backup run of the account's mail, `days` after the test's start.
    void backUp(int days, const std::function<void(TDWOperation &)> &whileRunning = {})
    {
        newIteration(days);
        const std::shared_ptr<TDWOperation> operation = makeBackup();
        ASSERT_TRUE(operation);
        TDWOperationQueue queue;
        queue.addOperation(operation);
        if (whileRunning)
            whileRunning(*operation);
        ASSERT_TRUE(tdwtest::waitUntil([&] { return queue.operationCount() == 0; }, 300s));
        QCoreApplication::sendPostedEvents();
    }

    qint64 withStatus(qint64 status) { return count(QStringLiteral("DocRev"), QStringLiteral("latest = 1 and exportStatus = %@"), {status}); }

    // Message files in the backup folder, by path, with their modification times.
    QMap<QString, QDateTime> messageFiles()
    {
        QMap<QString, QDateTime> files;
        QDirIterator it(TDWFileMgr::backedUpItemsPathForService(Mail), {QStringLiteral("*.emlx")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            files.insert(path, QFileInfo(path).lastModified());
        }
        return files;
    }

    std::optional<bool> allQueuedExportsBackedUpLast()
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const auto setting = TDWAccountServiceSetting::byAccountUsername(Alice, Mail, *moc);
        return setting ? std::optional<bool>(setting->allQueuedExportsBackedUpLast()) : std::nullopt;
    }

    TDWActivityMonitor m_monitor;
};

TEST_F(MailBackupOperationTest, ABackupRunListsAndDownloadsEveryMessageAndASecondOneWritesNothing)
{
    ASSERT_TRUE(startServer({{"generate", 40}}));
    backUp(0);
    EXPECT_EQ(withStatus(TDWDocRev::BackedUp), 40);
    const QMap<QString, QDateTime> files = messageFiles();
    EXPECT_EQ(files.size(), 40);
    EXPECT_EQ(allQueuedExportsBackedUpLast(), true);
    EXPECT_FALSE(m_monitor.indexRetrievalStatusForUsername(Alice, Mail));

    backUp(1);
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("1 = 1")), 40);
    EXPECT_EQ(messageFiles(), files);
    EXPECT_EQ(allQueuedExportsBackedUpLast(), true);

    // A flag change opens a revision, whose message is downloaded again.
    m_server.control({{"op", "flag"}, {"uid", serverMessages().at(7).toObject().value(QStringLiteral("uid"))}, {"add", QJsonArray{"\\Flagged"}}});
    backUp(2);
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("1 = 1")), 41);
    EXPECT_EQ(withStatus(TDWDocRev::BackedUp), 40);
    EXPECT_EQ(messageFiles().size(), 41);
}

// "slow" downloads at most 250 messages a run: the rest waits for the next run.
TEST_F(MailBackupOperationTest, ARunDownloadsAtMostTheThrottleLevelsBatch)
{
    TDWUserDefaults::standard()->setString(QStringLiteral("slow"), QStringLiteral("ThrottleLevel"));
    ASSERT_TRUE(startServer({{"generate", 252}}));
    backUp(0);
    EXPECT_EQ(withStatus(TDWDocRev::BackedUp), 250);
    EXPECT_EQ(withStatus(TDWDocRev::DownloadPending), 2);
    EXPECT_EQ(allQueuedExportsBackedUpLast(), true);
    backUp(1);
    EXPECT_EQ(withStatus(TDWDocRev::BackedUp), 252);
}

TEST_F(MailBackupOperationTest, AFailedDownloadIsRecordedOnTheMailSetting)
{
    ASSERT_TRUE(startServer({{"generate", 5}}));
    m_server.control({{"op", "fault"}, {"type", "no"}, {"command", "UID FETCH"}, {"contains", "BODY"}, {"times", 1}});
    backUp(0);
    EXPECT_EQ(withStatus(TDWDocRev::BackedUp), 4);
    EXPECT_EQ(withStatus(TDWDocRev::DownloadFailed), 1);
    EXPECT_EQ(allQueuedExportsBackedUpLast(), false);
    // Failed messages are asked for again.
    backUp(1);
    EXPECT_EQ(withStatus(TDWDocRev::BackedUp), 5);
    EXPECT_EQ(allQueuedExportsBackedUpLast(), true);
}

TEST_F(MailBackupOperationTest, DontDoExportsListsWithoutDownloading)
{
    TDWUserDefaults::standard()->setBool(true, QStringLiteral("DontDoExports"));
    ASSERT_TRUE(startServer({{"generate", 5}}));
    backUp(0);
    EXPECT_EQ(withStatus(TDWDocRev::DownloadPending), 5);
    EXPECT_TRUE(messageFiles().isEmpty());
}

// Mail turned off for the account while its backup runs stops the backup;
// the closing steps still run and the monitor hears that the account is done.
TEST_F(MailBackupOperationTest, TurningMailOffStopsTheBackup)
{
    ASSERT_TRUE(startServer({{"generate", 200}}));
    m_server.control({{"op", "fault"}, {"type", "stall"}, {"command", "UID FETCH"}, {"seconds", 5}, {"times", 1000}});
    backUp(0, [&](TDWOperation &) {
        ASSERT_TRUE(tdwtest::waitUntil([&] { return withStatus(TDWDocRev::DownloadPending) == 200; }));
        // Another account's change is no concern of this backup.
        TDWNotificationCenter::defaultCenter().post(QStringLiteral("accountUpdate"), nullptr, {{"accountUsername", QStringLiteral("bob@example.com")}});
        m_account->setEnabled(false, Mail);
        save();
        TDWNotificationCenter::defaultCenter().post(QStringLiteral("accountUpdate"), nullptr, {{"accountUsername", Alice}});
    });
    // Only the requests made before the stop were answered and written.
    EXPECT_LE(withStatus(TDWDocRev::BackedUp), TDWMultiMessageExportOperation::MaxRequestsInFlight);
    EXPECT_EQ(allQueuedExportsBackedUpLast(), false);
    EXPECT_FALSE(m_monitor.indexRetrievalStatusForUsername(Alice, Mail));
}

} // namespace
