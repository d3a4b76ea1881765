// Message download against the fake Gmail server: every message of a first
// synchronisation downloaded into message files that an independent reader
// accepts, and the ways a download pass fails.
#include "mail/TDWMultiMessageExportOperation.h"

#include "MailSyncFixture.h"
#include "MailTestSupport.h"
#include "MessageFileChecker.h"
#include "TestSupport.h"

#include "accounts/TDWKeychainMgr.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "status/TDWActivityMonitor.h"

#include <QDir>
#include <QFile>
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

    // Python's verdict on the message file of the message with that All Mail UID.
    QString checkerVerdict(qint64 uid, const QByteArray &serverBytes, qint64 flags)
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const TDWDoc::Ptr doc = docWithUid(*moc, uid);
        if (!doc)
            return QStringLiteral("no message with UID %1").arg(uid);
        const auto revision = TDWDocRev::latestForDoc(doc, QDateTime(), *moc, nullptr);
        const QString path = QDir(TDWFileMgr::backedUpItemsPathForService(QStringLiteral("mail"))).filePath(revision->filePath());
        return mailtest::messageFileVerdict(path, serverBytes, flags);
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
