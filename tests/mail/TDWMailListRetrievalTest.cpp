// The mail list step of a backup run against the fake Gmail server: the
// stages in order, what the store holds after them, and what the activity
// monitor hears.
#include "mail/TDWMailListRetrievalOperation.h"

#include "MailSyncFixture.h"

#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupSettingHistory.h"
#include "mail/TDWDeletedMessages.h"
#include "mail/TDWMailFolderListUpdateOperation.h"
#include "platform/foundation/TDWFileLock.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "status/TDWActivityMonitor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

using namespace std::chrono_literals;

namespace {

const QString Mail = QStringLiteral("mail");
const QString StatusChange = QStringLiteral("indexretrievalstatuschange");
const QString Succeeded = QStringLiteral("NOTIFICATION_INDEXRETRIEVAL_SUCCEEDED");
const QString FolderListChanged = QStringLiteral("mailfolderlistchanged");
const QString RetrievalAttempted = QStringLiteral("retrievalattempted");

class MailListRetrievalTest : public MailSyncFixture
{
protected:
    void SetUp() override
    {
        MailSyncFixture::SetUp();
        TDWActivityMonitor::setShared(&m_monitor);
        m_observer = TDWNotificationCenter::defaultCenter().addObserver({}, [this](const TDWNotification &notification) {
            if (QStringList{StatusChange, Succeeded, FolderListChanged, RetrievalAttempted}.contains(notification.name()))
                m_notifications.append({notification.name(), notification.userInfo()});
        });
    }

    void TearDown() override
    {
        TDWNotificationCenter::defaultCenter().removeObserver(m_observer);
        TDWActivityMonitor::setShared(nullptr);
        MailSyncFixture::TearDown();
    }

    std::shared_ptr<TDWMailListRetrievalOperation> retrieve(const TDWManagedObjectID &iteration)
    {
        auto operation = std::make_shared<TDWMailListRetrievalOperation>(Alice, iteration);
        EXPECT_EQ(runCountingCompletions(operation), 1);
        return operation;
    }

    bool retrieveOk(int days)
    {
        retrieve(newIteration(days));
        const auto record = m_monitor.indexRetrievalStatusForUsername(Alice, Mail);
        return record && record->status == TDWActivityMonitor::RetrievingList && !m_notifications.isEmpty()
            && m_notifications.last().first == Succeeded;
    }

    QStringList notificationNames() const
    {
        QStringList names;
        for (const auto &[name, userInfo] : m_notifications)
            names.append(name);
        return names;
    }

    TDWBackupIteration::Ptr lastListIteration()
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        return TDWAccount::byUsername(Alice, *moc, nullptr)->lastListIterationForService(Mail);
    }

    TDWActivityMonitor m_monitor;
    TDWNotificationCenter::Token m_observer;
    QList<std::pair<QString, QVariantMap>> m_notifications;
};

TEST_F(MailListRetrievalTest, AFirstListingRunsEveryStageAndTellsTheMonitorInOrder)
{
    ASSERT_TRUE(startServer({{"generate", 1500}}));
    const TDWManagedObjectID iteration = newIteration(0);
    EXPECT_FALSE(retrieve(iteration)->isCancelled());

    // Started; folders; batch 1 light, found unknown to the store and so
    // fetched again in full; batch 1001; done.
    EXPECT_EQ(notificationNames(), (QStringList{StatusChange, FolderListChanged, StatusChange, StatusChange, StatusChange, Succeeded}));
    for (const auto &[name, userInfo] : m_notifications)
        EXPECT_EQ(userInfo.value(QStringLiteral("accountUsername")).toString(), Alice) << name.toStdString();
    EXPECT_EQ(m_notifications.first().second.value(QStringLiteral("service")).toString(), Mail);
    const auto record = m_monitor.indexRetrievalStatusForUsername(Alice, Mail);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->status, TDWActivityMonitor::RetrievingList);
    EXPECT_TRUE(record->initial);
    EXPECT_DOUBLE_EQ(record->pctComplete, 1000.0 / 1499.0);

    // Folders, All Mail and the run's record, as the sqlite3 shell reads them.
    EXPECT_EQ(sqlite3(QStringLiteral("SELECT count(*) FROM \"Doc\" WHERE \"deleted\" = 0")), QStringLiteral("1500"));
    EXPECT_EQ(sqlite3(QStringLiteral("SELECT \"backup\" FROM \"MailFolder\" WHERE \"current\" = 1 AND \"messageTag\" = 'Work'")),
              QStringLiteral("1"));
    EXPECT_EQ(count(QStringLiteral("BackupSettingHistory"), QStringLiteral("settingName = 'backupmailfolder:Work' and current = 1 and backupEnabled = 1")), 1);
    EXPECT_EQ(count(QStringLiteral("BackupSettingHistory"), QStringLiteral("settingName = 'backupunlabeled' and current = 1")), 1);
    const TDWBackupIteration::Ptr recorded = lastListIteration();
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->objectID(), iteration);
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        EXPECT_EQ(TDWAccount::byUsername(Alice, *moc, nullptr)->lastStatus(), 1);
    }

    // The next run is an update; a setting that did not change keeps its record,
    // one that did is closed and a new one opened.
    m_notifications.clear();
    const qint64 settings = count(QStringLiteral("BackupSettingHistory"), QStringLiteral("TRUEPREDICATE"));
    ASSERT_TRUE(retrieveOk(1));
    EXPECT_FALSE(m_monitor.indexRetrievalStatusForUsername(Alice, Mail)->initial);
    EXPECT_EQ(count(QStringLiteral("BackupSettingHistory"), QStringLiteral("TRUEPREDICATE")), settings);
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const TDWMailFolder::Ptr work = TDWMailFolder::currentByStore(m_mailStore, QStringLiteral("Work"), *moc, nullptr);
        ASSERT_TRUE(work);
        work->setBackup(false);
        ASSERT_TRUE(moc->save(nullptr));
    }
    ASSERT_TRUE(retrieveOk(2));
    EXPECT_EQ(count(QStringLiteral("BackupSettingHistory"), QStringLiteral("TRUEPREDICATE")), settings + 1);
    EXPECT_EQ(count(QStringLiteral("BackupSettingHistory"),
                    QStringLiteral("settingName = 'backupmailfolder:Work' and current = 0 and obsoletedDate = %@"), {m_start.addDays(2)}),
              1);
    EXPECT_EQ(count(QStringLiteral("BackupSettingHistory"),
                    QStringLiteral("settingName = 'backupmailfolder:Work' and current = 1 and backupEnabled = 0 and firstSeenDate = %@"),
                    {m_start.addDays(2)}),
              1);
}

// A localized account: the folder list update finds All Mail and the system
// folders by their special-use attributes, and All Mail follows.
TEST_F(MailListRetrievalTest, ALocalizedAccountIsListedThroughItsOwnFolderNames)
{
    ASSERT_TRUE(startServer({{"generate", 40}, {"language", "pt-BR"}}));
    ASSERT_TRUE(retrieveOk(0));
    EXPECT_EQ(sqlite3(QStringLiteral("SELECT \"encodedFolderPath\" FROM \"MailFolder\" WHERE \"current\" = 1 AND \"folderType\" = 5")),
              QStringLiteral("[Gmail]/Todos os e-mails"));
    EXPECT_EQ(count(QStringLiteral("MailFolder"), QStringLiteral("current = 1 and folderType = 3 and messageTag = %@"), {QStringLiteral("\\Sent")}), 1);
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("deleted = 0")), 40);
    EXPECT_GT(count(QStringLiteral("MailItem"), QStringLiteral("current = 1 and mailFolder.messageTag = %@"), {QStringLiteral("\\Inbox")}), 0);
}

// A failed folder list stops the run before All Mail: nothing is listed, the
// run is not recorded as the account's last listing, and the monitor shows the failure.
TEST_F(MailListRetrievalTest, AFailedFolderListStopsTheRunBeforeAllMail)
{
    ASSERT_TRUE(startServer({{"generate", 20}}));
    m_server.control({{"op", "fault"}, {"type", "no"}, {"command", "LIST"}, {"times", 100}});
    retrieve(newIteration(0));

    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("TRUEPREDICATE")), 0);
    EXPECT_FALSE(lastListIteration());
    EXPECT_EQ(m_monitor.indexRetrievalStatusForUsername(Alice, Mail)->status, TDWActivityMonitor::ListRetrievalFailed);
    EXPECT_EQ(notificationNames(), (QStringList{StatusChange, StatusChange}));
    bool logged = false;
    for (const QString &line : loggedLines())
        logged = logged || line.startsWith(QLatin1String("ERROR: Unable to retrieve foldersWithFlags in TDWMailFolderListUpdateOperation: "));
    EXPECT_TRUE(logged);
}

// A folder list that never comes: the watchdog cancels the update, which
// finishes once, as failed, and changes nothing.
TEST_F(MailListRetrievalTest, AStalledFolderListIsCancelledByTheWatchdogAndFinishesOnce)
{
    ASSERT_TRUE(startServer({{"generate", 5}}));
    // The session's own time-out must not end the request before the watchdog sees it.
    session()->setTimeout(3600);
    m_server.control({{"op", "fault"}, {"type", "stall"}, {"command", "LIST"}});
    const TDWManagedObjectID iteration = newIteration(0);
    TDWClock::setDurationScale(0.01);
    auto operation = std::make_shared<TDWMailFolderListUpdateOperation>(Alice, iteration);
    EXPECT_EQ(runCountingCompletions(operation), 1);
    EXPECT_TRUE(operation->isCancelled());
    EXPECT_FALSE(operation->success());
    EXPECT_TRUE(loggedLines().contains(QStringLiteral("ERROR: Timeout when retrieving the list of folders.")));
    EXPECT_EQ(count(QStringLiteral("MailFolder"), QStringLiteral("TRUEPREDICATE")), 0);
    EXPECT_TRUE(notificationNames().isEmpty());
}

// Cancelling the step (the account's mail was switched off) ends the stage
// waiting on the server at once; no later stage runs.
TEST_F(MailListRetrievalTest, CancellingEndsTheStageInFlightAndStopsTheRun)
{
    ASSERT_TRUE(startServer({{"generate", 5}}));
    m_server.control({{"op", "fault"}, {"type", "stall"}, {"command", "LIST"}});
    auto operation = std::make_shared<TDWMailListRetrievalOperation>(Alice, newIteration(0));
    TDWOperationQueue queue;
    queue.addOperation(operation);
    // The folder list is asked for once the monitor has heard of the start.
    ASSERT_TRUE(tdwtest::waitUntil([&] { return m_monitor.indexRetrievalStatusForUsername(Alice, Mail).has_value(); }));
    QThread::msleep(300);
    operation->cancel();
    EXPECT_TRUE(tdwtest::waitUntil([&] { return queue.operationCount() == 0; }, 60s));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(m_monitor.indexRetrievalStatusForUsername(Alice, Mail)->status, TDWActivityMonitor::ListRetrievalFailed);
    EXPECT_FALSE(lastListIteration());
    EXPECT_EQ(count(QStringLiteral("MailFolder"), QStringLiteral("TRUEPREDICATE")), 0);
    EXPECT_FALSE(notificationNames().contains(Succeeded));
}

// Folders gone from the server for longer than the keeping time leave the
// store with their label links, and old iterations are outdated; with the
// keeping time off everything stays.
TEST_F(MailListRetrievalTest, ExpiredFoldersLinksAndIterationsGoAfterTheKeepingTime)
{
    ASSERT_TRUE(startServer({{"generate", 30}}));
    TDWUserDefaults::standard()->setInteger(-1, DeleteReferenceDeltaSeconds);
    ASSERT_TRUE(retrieveOk(0));
    const qint64 workLinks = count(QStringLiteral("MailItem"), QStringLiteral("mailFolder.messageTag = 'Work'"));
    ASSERT_GT(workLinks, 0);
    m_server.control({{"op", "hide"}, {"folders", QJsonArray{"Work"}}});
    ASSERT_TRUE(retrieveOk(1));
    ASSERT_TRUE(retrieveOk(2));
    EXPECT_EQ(count(QStringLiteral("MailFolder"), QStringLiteral("messageTag = 'Work' and current = 0 and obsoletedDate = %@"), {m_start.addDays(1)}), 1);
    EXPECT_EQ(count(QStringLiteral("MailItem"), QStringLiteral("mailFolder.messageTag = 'Work'")), workLinks);
    EXPECT_EQ(count(QStringLiteral("MailFolder"), QStringLiteral("current = 1 and messageTag = %@"), {QStringLiteral("\\Inbox")}), 1);

    TDWUserDefaults::standard()->setInteger(3600, DeleteReferenceDeltaSeconds);
    ASSERT_TRUE(retrieveOk(3));
    EXPECT_EQ(sqlite3(QStringLiteral("SELECT count(*) FROM \"MailFolder\" WHERE \"messageTag\" = 'Work'")), QStringLiteral("0"));
    EXPECT_EQ(count(QStringLiteral("MailItem"), QStringLiteral("mailFolder = nil")), 0);
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("deleted = 0")), 30);
    const auto moc = TDWMasterStore::shared().newMoc();
    qint64 outdated = 0, kept = 0;
    const auto iterations = TDWEntityFetch(*moc, QStringLiteral("BackupIteration")).objects<TDWBackupIteration>(nullptr);
    ASSERT_TRUE(iterations);
    for (const TDWBackupIteration::Ptr &iteration : *iterations)
        (iteration->outdated() ? outdated : kept) += 1;
    EXPECT_EQ(outdated, 3);
    EXPECT_EQ(kept, 1);
}

// The keeping time of the expiry here and of the purge of All Mail.
TEST(MailListRetrievalExpiry, TheKeepingTimeIsNinetyDaysUnlessSetAndNoneWhenOff)
{
    struct Case
    {
        std::optional<qint64> setting; // none: unset
        std::optional<qint64> seconds; // none: nothing expires
    };
    const Case cases[] = {{std::nullopt, 7776000}, {0, 7776000}, {-1, std::nullopt}, {3600, 3600}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.setting ? *c.setting : -99);
        if (c.setting)
            TDWUserDefaults::standard()->setInteger(*c.setting, DeleteReferenceDeltaSeconds);
        else
            TDWUserDefaults::standard()->removeObjectForKey(DeleteReferenceDeltaSeconds);
        EXPECT_EQ(TDWDeletedMessages::keepingSeconds(), c.seconds);
    }
    TDWUserDefaults::standard()->removeObjectForKey(DeleteReferenceDeltaSeconds);
}

TEST(MailListRetrievalRepair, AMessageFileLooksEmptyByItsBytesOnly)
{
    struct Case
    {
        const char *label;
        QByteArray bytes;
        bool empty;
    };
    const Case cases[] = {
        {"nothing", QByteArray(), true},
        {"ten bytes", QByteArrayLiteral("1234567890"), true},
        {"eleven bytes", QByteArrayLiteral("12345678901"), false},
        {"count line of zero", QByteArrayLiteral("0         \n<?xml"), true},
        {"count line of zero, exactly", QByteArrayLiteral("0         \n"), true},
        {"count of 120", QByteArrayLiteral("120       \nFrom"), false},
        {"8-bit bytes", QByteArray("27        \nSubject: caf\xe9 \xff\xfe\x80"), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(TDWMailListRetrievalOperation::messageFileLooksEmpty(c.bytes.left(11)), c.empty);
    }
}

// The one-time repair: backed-up revisions whose files are missing or empty
// are downloaded again; a message of 8-bit bytes is a good backup and stays.
TEST_F(MailListRetrievalTest, TheOneTimeRepairMarksEmptyAndMissingFilesAndKeepsEightBitMessages)
{
    // No server: the run fails at the folder list, after the repair.
    TDWUserDefaults::standard()->setString(QStringLiteral("127.0.0.1:1"), QStringLiteral("Hostname"));
    const QDir mailFolder(TDWFileMgr::backedUpItemsPathForService(Mail));
    struct File
    {
        QString name;
        std::optional<QByteArray> bytes; // none: no file
        qint64 status;
        bool repaired;
    };
    const QList<File> files = {
        {QStringLiteral("missing"), std::nullopt, TDWDocRev::BackedUp, true},
        {QStringLiteral("ten"), QByteArrayLiteral("1234567890"), TDWDocRev::BackedUp, true},
        {QStringLiteral("empty"), QByteArrayLiteral("0         \n<?xml version=\"1.0\"?>\n"), TDWDocRev::BackedUp, true},
        {QStringLiteral("latin1"), QByteArray("30        \nSubject: Gr\xfc\xdf" "e\n\nCaf\xe9 \xa3" "5\n"), TDWDocRev::BackedUp, false},
        {QStringLiteral("ascii"), QByteArrayLiteral("12        \nSubject: x\n"), TDWDocRev::BackedUp, false},
        {QStringLiteral("queued"), QByteArrayLiteral("0         \n"), 1, false},
    };
    QHash<QString, TDWManagedObjectID> revisions;
    for (const File &file : files) {
        auto doc = TDWDoc::newWithMoc(*m_moc, m_mailStore);
        doc->setDocId(file.name);
        doc->setDocType(QStringLiteral("message"));
        doc->setAccountUsername(Alice);
        doc->setService(Mail);
        auto revision = TDWDocRev::newWithMoc(*m_moc, m_mailStore);
        revision->setDoc(doc);
        revision->setLatest(true);
        revision->setExportStatus(file.status);
        revision->setFilePath(m_account->dirPath() + QStringLiteral("/") + file.name + QStringLiteral(".emlx"));
        if (file.bytes) {
            const QString path = mailFolder.filePath(revision->filePath());
            ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
            QFile out(path);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(*file.bytes);
            out.close();
            ASSERT_TRUE(TDWFileLock::setLocked(path, true));
        }
        save();
        revisions.insert(file.name, revision->objectID());
    }

    retrieve(newIteration(0));
    const auto moc = TDWMasterStore::shared().newMoc();
    int attempted = 0;
    for (const File &file : files) {
        SCOPED_TRACE(file.name.toStdString());
        const auto revision = std::dynamic_pointer_cast<TDWDocRev>(moc->existingObjectWithID(revisions.value(file.name), nullptr));
        ASSERT_TRUE(revision);
        EXPECT_EQ(revision->exportStatus(), file.repaired ? qint64(TDWDocRev::DownloadFailed) : file.status);
        EXPECT_EQ(QFile::exists(mailFolder.filePath(revision->filePath())), file.bytes && !file.repaired);
        attempted += file.repaired;
    }
    EXPECT_EQ(notificationNames().count(RetrievalAttempted), attempted);
    for (const auto &[name, userInfo] : m_notifications) {
        if (name == RetrievalAttempted) {
            EXPECT_EQ(userInfo.value(QStringLiteral("docrev_status")).toLongLong(), qint64(TDWDocRev::DownloadFailed));
        }
    }
    EXPECT_TRUE(TDWAccountServiceSetting::byAccountUsername(Alice, Mail, *moc)->fixedMailData211BugFix());
    EXPECT_EQ(m_monitor.indexRetrievalStatusForUsername(Alice, Mail)->status, TDWActivityMonitor::ListRetrievalFailed);

    // Once done, the repair does not run again.
    QFile emptied(mailFolder.filePath(m_account->dirPath() + QStringLiteral("/ascii.emlx")));
    ASSERT_TRUE(TDWFileLock::setLocked(emptied.fileName(), false));
    ASSERT_TRUE(emptied.open(QIODevice::WriteOnly | QIODevice::Truncate));
    emptied.close();
    retrieve(newIteration(1));
    EXPECT_TRUE(QFile::exists(emptied.fileName()));
    moc->reset();
    EXPECT_EQ(std::dynamic_pointer_cast<TDWDocRev>(moc->existingObjectWithID(revisions.value(QStringLiteral("ascii")), nullptr))->exportStatus(),
              qint64(TDWDocRev::BackedUp));
}

} // namespace
