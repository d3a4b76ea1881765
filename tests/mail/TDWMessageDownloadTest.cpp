// Message download against the fake Gmail server: every message of a first
// synchronisation downloaded into message files that an independent reader
// accepts, and the ways a download pass fails.
#include "mail/TDWMultiMessageExportOperation.h"

#include "MailSyncFixture.h"
#include "MailTestSupport.h"
#include "MessageFileChecker.h"
#include "PeakMemory.h"
#include "TestSupport.h"

#include "accounts/TDWKeychainMgr.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWSafeFile.h"
#include "status/TDWActivityMonitor.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class MessageDownloadTest : public MailSyncFixture
{
protected:
    void SetUp() override
    {
        MailSyncFixture::SetUp();
        TDWActivityMonitor::setShared(&m_monitor);
    }

    void TearDown() override
    {
        TDWActivityMonitor::setShared(nullptr);
        MailSyncFixture::TearDown();
    }

    QList<TDWManagedObjectID> idsNeedingRetrieval()
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        return TDWDocRev::idsNeedingRetrievalByService(QStringLiteral("mail"), m_mailStore, TDWDocRev::NoLimit, *moc, nullptr).value_or(
            QList<TDWManagedObjectID>());
    }

    std::shared_ptr<TDWMultiMessageExportOperation> download(const QList<TDWManagedObjectID> &ids, const QString &username = Alice)
    {
        auto operation = std::make_shared<TDWMultiMessageExportOperation>(username, ids);
        TDWOperationQueue queue;
        queue.addOperation(operation);
        EXPECT_TRUE(tdwtest::waitUntil([&] { return queue.operationCount() == 0; }, 120s));
        EXPECT_TRUE(operation->isFinished());
        return operation;
    }

    qint64 countWithStatus(qint64 status) { return count(QStringLiteral("DocRev"), QStringLiteral("exportStatus = %@"), {status}); }

    // The latest revision of the message with that All Mail UID, in `moc`.
    TDWDocRev::Ptr revisionWithUid(TDWManagedObjectContext &moc, qint64 uid)
    {
        const TDWDoc::Ptr doc = docWithUid(moc, uid);
        return doc ? TDWDocRev::latestForDoc(doc, QDateTime(), moc, nullptr) : nullptr;
    }

    // Where the message file of the message with that All Mail UID goes.
    QString messagePath(qint64 uid)
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const TDWDocRev::Ptr revision = revisionWithUid(*moc, uid);
        return revision ? QDir(TDWFileMgr::backedUpItemsPathForService(QStringLiteral("mail"))).filePath(revision->filePath()) : QString();
    }

    // Python's verdict on the message file of the message with that All Mail UID.
    QString checkerVerdict(qint64 uid, const QByteArray &serverBytes, qint64 flags)
    {
        const QString path = messagePath(uid);
        return path.isEmpty() ? QStringLiteral("no message with UID %1").arg(uid) : mailtest::messageFileVerdict(path, serverBytes, flags);
    }

    qint64 statusOfUid(qint64 uid)
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const TDWDocRev::Ptr revision = revisionWithUid(*moc, uid);
        return revision ? revision->exportStatus() : -1;
    }

    // Starts the server with these messages (with no flags, in the inbox) and lists them.
    void startWithMessages(const QList<QByteArray> &messages)
    {
        QJsonArray scenario;
        for (const QByteArray &message : messages)
            scenario.append(QJsonObject{{"raw_base64", QString::fromLatin1(message.toBase64())}, {"labels", QJsonArray{"\\Inbox"}}});
        ASSERT_TRUE(startServer({{"messages", scenario}}));
        ASSERT_TRUE(sync(0));
    }

    // The server's UID of its i-th message.
    qint64 uidOf(qsizetype i) { return serverMessages().at(i).toObject().value(QStringLiteral("uid")).toInteger(); }

    // The next answer to a body fetch of `uid` runs `extra` bytes past the message (padding lines).
    void armLongLiteral(qint64 uid, qint64 extra)
    {
        m_server.control({{"op", "fault"}, {"type", "long_literal"}, {"command", "UID FETCH"}, {"contains", QStringLiteral("FETCH %1 (").arg(uid)},
                          {"extra", double(extra)}});
    }

    // Files under the mail backup folder whose names are temporary ones.
    QStringList temporaryFiles()
    {
        QStringList found;
        QDirIterator it(TDWFileMgr::backedUpItemsPathForService(QStringLiteral("mail")), QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (TDWSafeFile::isTemporaryName(QFileInfo(path).fileName()))
                found.append(path);
        }
        return found;
    }

    TDWActivityMonitor m_monitor;
};

struct ServerMessage
{
    QByteArray bytes;
    QStringList flags;
    qint64 flagWord;
};

TEST_F(MessageDownloadTest, EveryMessageIsStoredAsTheServerSentIt)
{
    QByteArray large = "Date: Fri, 10 Jan 2025 08:00:00 -0500\r\nSubject: large\r\n\r\n";
    for (int i = 0; i < 20000; ++i)
        large += "line " + QByteArray::number(i) + " \xe9t\xe9\r\n";
    const QList<ServerMessage> messages = {
        {"Date: Tue, 03 Mar 2020 10:00:00 +0100\r\nFrom: Bob <bob@example.org>\r\nSubject: =?UTF-8?B?R3LDvMOfZQ==?=\r\n\r\nCaf\x8e\r\n",
         {"\\Seen", "\\Flagged"}, 17},
        {"From: c@example.org\r\nTo: alice@example.com\r\n\r\nno subject, no date\r\n", {"\\Answered"}, 4},
        {"Subject: plain\r\nDate: Wed, 1 Jan 2025 00:00:00 +0000\r\n\r\nbody\r\n", {"\\Seen"}, 1},
        {large, {}, 0},
    };
    QJsonArray scenario;
    for (const ServerMessage &message : messages)
        scenario.append(QJsonObject{{"raw_base64", QString::fromLatin1(message.bytes.toBase64())},
                                    {"flags", QJsonArray::fromStringList(message.flags)},
                                    {"labels", QJsonArray{"\\Inbox"}}});
    ASSERT_TRUE(startServer({{"messages", scenario}}));
    ASSERT_TRUE(sync(0));
    const QList<TDWManagedObjectID> ids = idsNeedingRetrieval();
    ASSERT_EQ(ids.size(), messages.size());

    const auto operation = download(ids);
    EXPECT_TRUE(operation->completeSuccess());
    EXPECT_EQ(operation->numRequested(), messages.size());
    EXPECT_EQ(countWithStatus(TDWDocRev::BackedUp), messages.size());
    const QJsonArray listed = serverMessages();
    ASSERT_EQ(listed.size(), messages.size());
    for (qsizetype i = 0; i < messages.size(); ++i)
        EXPECT_EQ(checkerVerdict(listed.at(i).toObject().value(QStringLiteral("uid")).toInteger(), messages.at(i).bytes, messages.at(i).flagWord),
                  QString())
            << "message " << i;
    // Each download was reported begun and ended, in that order.
    EXPECT_TRUE(tdwtest::waitUntil([&] {
        for (const TDWManagedObjectID &id : ids)
            if (m_monitor.docRevExportRetrievalInProgress(id))
                return false;
        return true;
    }));
    EXPECT_TRUE(idsNeedingRetrieval().isEmpty());
}

TEST_F(MessageDownloadTest, TenAnswersWithoutDataStopTheRequests)
{
    ASSERT_TRUE(startServer({{"generate", 30}}));
    ASSERT_TRUE(sync(0));
    m_server.control({{"op", "fault"}, {"type", "no"}, {"command", "UID FETCH"}, {"times", 1000}});
    const auto operation = download(idsNeedingRetrieval());
    EXPECT_FALSE(operation->completeSuccess());
    // The tenth failure stops new requests; at most the three others in flight follow it.
    EXPECT_GE(operation->numRequested(), TDWMultiMessageExportOperation::MaxFailures);
    EXPECT_LE(operation->numRequested(), TDWMultiMessageExportOperation::MaxFailures + TDWMultiMessageExportOperation::MaxRequestsInFlight - 1);
    EXPECT_EQ(countWithStatus(TDWDocRev::DownloadFailed), operation->numRequested());
    EXPECT_EQ(countWithStatus(TDWDocRev::DownloadPending), 30 - operation->numRequested());
}

const QList<QByteArray> SmallMessages = {
    "Date: Tue, 03 Mar 2020 10:00:00 +0100\r\nSubject: first\r\n\r\none\r\n",
    "Subject: second\r\n\r\ntwo\r\n",
    "Subject: third\r\n\r\nthree\r\n",
    "Subject: fourth\r\n\r\nfour\r\n",
};

// A server that announces a message 4 GiB beyond the size it listed gets that
// message failed as the answer begins, its reason in the log: no file and no
// temporary file for it, the rest of the pass backed up, memory flat. The next
// pass asks for it again; and a message backed up before keeps its file whole
// when a new download of it is refused.
TEST_F(MessageDownloadTest, AMessageFarOverItsListedSizeFailsAloneWithFlatMemory)
{
    startWithMessages(SmallMessages);
    const qint64 victim = uidOf(1);
    const qint64 listed = SmallMessages.at(1).size();
    constexpr qint64 Extra = qint64(4) << 30;
    const QString refusal = QStringLiteral("ERROR: Unable to retrieve message: The server announced a message of %1 bytes but listed it at %2 bytes.")
                                .arg(listed + Extra)
                                .arg(listed);
    armLongLiteral(victim, Extra);
    {
        mailtest::PeakMemory memory;
        if (!memory.isAvailable())
            GTEST_SKIP() << "the peak resident set cannot be reset here";
        const auto operation = download(idsNeedingRetrieval());
        EXPECT_LT(memory.peakKiB(), 200 * 1024);
        EXPECT_FALSE(operation->completeSuccess());
        EXPECT_EQ(operation->numRequested(), SmallMessages.size());
    }
    EXPECT_EQ(statusOfUid(victim), TDWDocRev::DownloadFailed);
    EXPECT_EQ(countWithStatus(TDWDocRev::BackedUp), SmallMessages.size() - 1);
    EXPECT_FALSE(QFile::exists(messagePath(victim)));
    EXPECT_EQ(temporaryFiles(), QStringList());
    EXPECT_EQ(loggedLines().filter(refusal).size(), 1) << loggedLines().join(u'\n').toStdString();
    EXPECT_TRUE(loggedLines().filter(QStringLiteral("ERROR: Stopped downloading")).isEmpty());

    // The next pass fetches it whole.
    EXPECT_TRUE(download(idsNeedingRetrieval())->completeSuccess());
    EXPECT_EQ(statusOfUid(victim), TDWDocRev::BackedUp);
    EXPECT_EQ(checkerVerdict(victim, SmallMessages.at(1), 0), QString());

    // Asked for again (as for a file found missing), it is refused again and the earlier copy stays.
    const QFileInfo file(messagePath(victim));
    QFile earlier(file.filePath());
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    const QByteArray earlierBytes = earlier.readAll();
    earlier.close();
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        revisionWithUid(*moc, victim)->setExportStatus(TDWDocRev::FileMissing);
        ASSERT_TRUE(moc->save(nullptr));
    }
    armLongLiteral(victim, Extra);
    EXPECT_FALSE(download(idsNeedingRetrieval())->completeSuccess());
    EXPECT_EQ(statusOfUid(victim), TDWDocRev::DownloadFailed);
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), earlierBytes);
    EXPECT_EQ(temporaryFiles(), QStringList());
}

// Servers count a little differently: a message a little longer than listed
// is stored as it was sent, every byte of it.
TEST_F(MessageDownloadTest, AMessageALittleOverItsListedSizeIsStoredAsSent)
{
    startWithMessages(SmallMessages);
    const qint64 uid = uidOf(2);
    constexpr qint64 Extra = 1000;
    armLongLiteral(uid, Extra);
    const auto operation = download(idsNeedingRetrieval());
    EXPECT_TRUE(operation->completeSuccess());
    EXPECT_EQ(countWithStatus(TDWDocRev::BackedUp), SmallMessages.size());
    const QByteArray padding = (QByteArray(78, 'x') + "\r\n").repeated(Extra / 80 + 1).left(Extra);
    EXPECT_EQ(checkerVerdict(uid, SmallMessages.at(2) + padding, 0), QString());
    EXPECT_EQ(checkerVerdict(uidOf(1), SmallMessages.at(1), 0), QString());
}

// How a pass meets failures. A message that vanished between the listing and
// its download is skipped and counted once; a lost connection and a refused
// sign-in end the pass at once, told in one line, with the account left
// needing attention (completeSuccess false), not after ten counted failures.
struct FailureCase
{
    const char *name;
    QJsonObject fault;   // armed once the messages are listed
    bool signInRefused;  // the token is refused from the next sign-in on
    int maxRequested;    // requests made, at most
    int backedUp;
    QString stopReason;  // in the one line that ends the pass (the server's address for the connection); empty: it ran to its end
};

void PrintTo(const FailureCase &c, std::ostream *os)
{
    *os << c.name;
}

class DownloadFailureTest : public MessageDownloadTest, public ::testing::WithParamInterface<FailureCase>
{
};

constexpr int FailureCaseMessages = 30;

const FailureCase FailureCases[] = {
    {"Vanished", {{"op", "fault"}, {"type", "expunge"}, {"command", "UID FETCH"}, {"nth", 5}}, false, FailureCaseMessages,
     FailureCaseMessages - 1, {}},
    {"DroppedConnection", {{"op", "fault"}, {"type", "drop"}, {"command", "UID FETCH"}, {"times", 1000}}, false,
     TDWMultiMessageExportOperation::MaxRequestsInFlight, 0, QStringLiteral("127.0.0.1")},
    {"RefusedSignIn", {}, true, TDWMultiMessageExportOperation::MaxRequestsInFlight, 0, QStringLiteral("did not accept the sign-in")},
};

TEST_P(DownloadFailureTest, AMessageIsSkippedAndTheConnectionOrSignInStopsThePass)
{
    const FailureCase &c = GetParam();
    ASSERT_TRUE(startServer({{"generate", FailureCaseMessages}}));
    ASSERT_TRUE(sync(0));
    const QList<TDWManagedObjectID> ids = idsNeedingRetrieval();
    ASSERT_EQ(ids.size(), FailureCaseMessages);
    if (!c.fault.isEmpty())
        m_server.control(c.fault);
    if (c.signInRefused) {
        // The connections the listing left open are signed in already.
        TDWError error;
        session()->disconnectOperation()->run(&error);
        m_server.control({{"op", "expire_token"}, {"token", m_token}});
    }
    const qsizetype linesBefore = loggedLines().size();

    const auto operation = download(ids);
    EXPECT_FALSE(operation->completeSuccess());
    EXPECT_GE(operation->numRequested(), 1);
    EXPECT_LE(operation->numRequested(), c.maxRequested);
    EXPECT_EQ(countWithStatus(TDWDocRev::BackedUp), c.backedUp);
    // A request that brought no message is recorded failed; what was not asked for waits for the next pass.
    EXPECT_EQ(countWithStatus(TDWDocRev::DownloadFailed), operation->numRequested() - c.backedUp);
    EXPECT_EQ(countWithStatus(TDWDocRev::DownloadPending), FailureCaseMessages - operation->numRequested());
    const QStringList lines = loggedLines().mid(linesBefore);
    const QStringList stops = lines.filter(QStringLiteral("ERROR: Stopped downloading messages of %1: ").arg(Alice));
    if (c.stopReason.isEmpty()) {
        EXPECT_TRUE(stops.isEmpty()) << stops.join(u'\n').toStdString();
        EXPECT_EQ(lines.filter(QStringLiteral("ERROR: Unable to retrieve message")).size(), 1);
    } else {
        ASSERT_EQ(stops.size(), 1) << lines.join(u'\n').toStdString();
        EXPECT_TRUE(stops.first().contains(c.stopReason)) << stops.first().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Failures, DownloadFailureTest, ::testing::ValuesIn(FailureCases),
                         [](const ::testing::TestParamInfo<FailureCase> &info) { return std::string(info.param.name); });

// A download that cannot start is a failed one: the account must show that
// it needs attention, not a pass that backed everything up.
TEST_F(MessageDownloadTest, ADownloadThatCannotStartIsAFailure)
{
    ASSERT_TRUE(startServer({{"generate", 3}}));
    ASSERT_TRUE(sync(0));
    const QList<TDWManagedObjectID> ids = idsNeedingRetrieval();

    // No mail store to read the revisions from.
    EXPECT_FALSE(download(ids, QStringLiteral("nobody@example.com"))->completeSuccess());

    // No credential, hence no IMAP session.
    TDWKeychainMgr::keychainMgr()->deleteCredentialForUsername(Alice);
    const auto operation = download(ids);
    EXPECT_FALSE(operation->completeSuccess());
    EXPECT_EQ(operation->numRequested(), 0);
    EXPECT_EQ(countWithStatus(TDWDocRev::DownloadPending), 3);
}

TEST_F(MessageDownloadTest, AStalledServerIsGivenUp)
{
    ASSERT_TRUE(startServer({{"generate", 6}}));
    ASSERT_TRUE(sync(0));
    m_server.control({{"op", "fault"}, {"type", "stall"}, {"command", "UID FETCH"}, {"times", 1000}});
    // 600 s of silence become 0.6 s.
    TDWClock::setDurationScale(0.001);
    const auto operation = download(idsNeedingRetrieval());
    EXPECT_FALSE(operation->completeSuccess());
    EXPECT_TRUE(loggedLines().contains(QStringLiteral("ERROR: Looks like export operation got stuck. Killing off.")));
    EXPECT_EQ(operation->numRequested(), TDWMultiMessageExportOperation::MaxRequestsInFlight);
    EXPECT_EQ(countWithStatus(TDWDocRev::DownloadFailed), TDWMultiMessageExportOperation::MaxRequestsInFlight);
}

TEST_F(MessageDownloadTest, ACancelledDownloadMakesNoNewRequest)
{
    ASSERT_TRUE(startServer({{"generate", 40}}));
    ASSERT_TRUE(sync(0));
    // The first answers come late, so the cancellation meets them in flight.
    m_server.control({{"op", "fault"}, {"type", "stall"}, {"command", "UID FETCH"}, {"seconds", 5}, {"times", 4}});
    auto operation = std::make_shared<TDWMultiMessageExportOperation>(Alice, idsNeedingRetrieval());
    TDWOperationQueue queue;
    queue.addOperation(operation);
    ASSERT_TRUE(tdwtest::waitUntil([&] { return operation->numRequested() == TDWMultiMessageExportOperation::MaxRequestsInFlight; }));
    operation->cancel();
    ASSERT_TRUE(tdwtest::waitUntil([&] { return queue.operationCount() == 0; }));
    EXPECT_EQ(operation->numRequested(), TDWMultiMessageExportOperation::MaxRequestsInFlight);
    EXPECT_EQ(countWithStatus(TDWDocRev::BackedUp), TDWMultiMessageExportOperation::MaxRequestsInFlight);
}

} // namespace
