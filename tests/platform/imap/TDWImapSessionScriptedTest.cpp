// The session against scripted servers: certificate and host checks, time-outs,
// pipelining, the Gmail dialect, literals and continuations, and servers that
// misbehave. Every case must end in a result or an error, never a hang or a crash.
#include "ImapScriptedServer.h"
#include "ImapTestPrinters.h"
#include "TestSupport.h"

#include "platform/foundation/TDWWireTrace.h"
#include "platform/imap/TDWImapError.h"
#include "platform/imap/TDWImapSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

using Peer = ImapScriptedServer::Peer;

const ImapScriptedServer::Certificate &localCertificate()
{
    static const ImapScriptedServer::Certificate c = ImapScriptedServer::makeCertificate(QStringLiteral("IP:127.0.0.1,DNS:localhost"));
    return c;
}

std::shared_ptr<TDWImapSession> sessionFor(const ImapScriptedServer &server, double timeout = 10, const QString &host = QStringLiteral("127.0.0.1"),
                                           const QString &ca = localCertificate().certFile)
{
    auto session = TDWImapSession::create();
    session->setHostname(host);
    session->setPort(server.port());
    session->setUsername(QStringLiteral("alice@example.com"));
    session->setOAuth2Token(QStringLiteral("token-1"));
    session->setTimeout(timeout);
    session->setCertificateAuthorityFile(ca);
    return session;
}

const QByteArray DefaultCapabilities = "IMAP4rev1 SASL-IR AUTH=XOAUTH2 LITERAL+ ID";

void signIn(Peer &p, const QByteArray &capabilities = DefaultCapabilities)
{
    p.send("* OK [CAPABILITY " + capabilities + "] scripted server ready\r\n");
    const QByteArray auth = p.expect("AUTHENTICATE XOAUTH2");
    p.send(Peer::tagOf(auth) + " OK [CAPABILITY " + capabilities + "] signed in\r\n");
}

// Answers EXAMINE of any folder with `exists` messages.
void answerExamine(Peer &p, int exists)
{
    const QByteArray line = p.expect("EXAMINE");
    p.send("* " + QByteArray::number(exists) + " EXISTS\r\n* 0 RECENT\r\n* OK [UIDVALIDITY 77] ok\r\n* OK [UIDNEXT 900] ok\r\n"
           + Peer::tagOf(line) + " OK [READ-ONLY] done\r\n");
}

TEST(ImapScriptedSession, VerifiesTheHostNameAgainstTheCertificate)
{
    struct Case
    {
        const char *san;
        const char *host;
        bool trusted;
    };
    for (const Case &c : {Case{"IP:127.0.0.1", "127.0.0.1", true}, Case{"DNS:localhost", "localhost", true},
                          Case{"DNS:wrong.example", "127.0.0.1", false}, Case{"DNS:wrong.example", "localhost", false},
                          Case{"IP:127.0.0.1", "localhost", false}, Case{"DNS:localhost", "127.0.0.1", false}}) {
        SCOPED_TRACE(std::string(c.san) + " / " + c.host);
        const ImapScriptedServer::Certificate certificate = ImapScriptedServer::makeCertificate(QString::fromLatin1(c.san));
        ImapScriptedServer server(certificate, [](Peer &p) {
            signIn(p);
            p.send(Peer::tagOf(p.expect("NOOP")) + " OK done\r\n");
        });
        TDWError error;
        const bool ok = sessionFor(server, 10, QString::fromLatin1(c.host), certificate.certFile)->noopOperation()->run(&error);
        EXPECT_EQ(ok, c.trusted);
        EXPECT_EQ(error.code(), c.trusted ? qint64(0) : qint64(TDWImapError::Certificate)) << error.description().toStdString();
    }
}

TEST(ImapScriptedSession, GivesUpOnAServerThatNeverAnswers)
{
    // Accepts the TCP connection, then says nothing: not even the TLS handshake completes.
    ImapScriptedServer silent({}, [](Peer &) {});
    TDWError error;
    sessionFor(silent, 0.3)->fetchAllFoldersOperation()->run(&error);
    EXPECT_EQ(error.code(), TDWImapError::Timeout) << error.description().toStdString();

    // Signs in, then never answers the command. The time-out also bounds every
    // step of the sign-in, which must not run out on a busy machine: it is as
    // long as the scripted server's own reads wait.
    ImapScriptedServer stalling(localCertificate(), [](Peer &p) {
        signIn(p);
        p.expect("LIST");
        p.waitForHangUp();
    });
    QElapsedTimer timer;
    timer.start();
    sessionFor(stalling, 5)->fetchAllFoldersOperation()->run(&error);
    EXPECT_EQ(error.code(), TDWImapError::Timeout) << error.description().toStdString();
    EXPECT_GE(timer.elapsed(), 4950);
}

TEST(ImapScriptedSession, SendsSeveralCommandsBeforeTheFirstAnswer)
{
    std::atomic<int> readBeforeAnswering = 0;
    ImapScriptedServer server(localCertificate(), [&](Peer &p) {
        signIn(p);
        QList<QByteArray> tags;
        for (int i = 0; i < 3; ++i) {
            const QByteArray line = p.readLine();
            if (line.isEmpty())
                break;
            tags.append(Peer::tagOf(line));
        }
        readBeforeAnswering = int(tags.size());
        // Answer out of order, as servers may.
        for (qsizetype i = tags.size() - 1; i >= 0; --i)
            p.send(tags[i] + " OK done\r\n");
    });
    auto session = sessionFor(server);
    std::vector<std::shared_ptr<TDWImapOperation<bool>>> ops;
    std::atomic<int> succeeded = 0;
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        ops.push_back(session->noopOperation());
        waiters.emplace_back([&, op = ops.back()] {
            TDWError error;
            if (op->run(&error) && error.isNull())
                ++succeeded;
        });
    }
    for (std::thread &t : waiters)
        t.join();
    EXPECT_EQ(readBeforeAnswering, 3);
    EXPECT_EQ(succeeded, 3);
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST(ImapScriptedSession, SpeaksGmailsDialect)
{
    QByteArray listCommand, fetchCommand;
    const QByteArray header = "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\nFrom: Anna <anna@example.org>\r\nMessage-ID: <m1@x>\r\n\r\n";
    ImapScriptedServer server(localCertificate(), [&](Peer &p) {
        const QByteArray caps = "IMAP4rev1 UNSELECT IDLE NAMESPACE QUOTA ID XLIST CHILDREN X-GM-EXT-1 SASL-IR AUTH=XOAUTH2 LITERAL+";
        signIn(p, caps);
        listCommand = p.expect("XLIST");
        p.send("* XLIST (\\HasNoChildren \\Inbox) \"/\" \"Inbox\"\r\n"
               "* XLIST (\\Noselect \\HasChildren) \"/\" \"[Gmail]\"\r\n"
               "* XLIST (\\HasNoChildren \\AllMail) \"/\" \"[Gmail]/All Mail\"\r\n"
               "* XLIST (\\HasNoChildren \\Starred) \"/\" \"[Gmail]/Starred\"\r\n"
               "* XLIST (\\HasNoChildren) \"/\" \"Entw&APw-rfe\"\r\n"
               + Peer::tagOf(listCommand) + " OK Success\r\n");
        answerExamine(p, 2);
        fetchCommand = p.readLine();
        const QByteArray tag = Peer::tagOf(fetchCommand);
        p.send("* 1 FETCH (X-GM-THRID 1266894439832287888 X-GM-MSGID 1278455344230334865 X-GM-LABELS (\\Inbox \"\\\\Important\" Entw&APw-rfe \"[Gmail]/Starred\") "
               "UID 41 FLAGS (\\Seen $Forwarded NotJunk) INTERNALDATE \"10-Jan-2010 00:31:46 +0100\" BODY[HEADER.FIELDS (DATE SUBJECT FROM SENDER TO CC BCC MESSAGE-ID REFERENCES)] {"
               + QByteArray::number(header.size()) + "}\r\n" + header + ")\r\n"
               "* OK [ALERT] Unsolicited, and ignored\r\n"
               "* 3 EXISTS\r\n"
               "* FLAGS (\\Seen \\Flagged)\r\n"
               "* 2 FETCH (X-GM-LABELS () UID 42 FLAGS () X-GM-MSGID 2 X-GM-THRID 2 INTERNALDATE \"11-Jan-2010 00:00:00 +0000\" BODY[HEADER.FIELDS (DATE SUBJECT FROM SENDER TO CC BCC MESSAGE-ID REFERENCES)] {2}\r\n\r\n)\r\n"
               + tag + " OK Success\r\n");
    });
    auto session = sessionFor(server);
    TDWError error;
    const QList<TDWImapFolder> folders = session->fetchAllFoldersOperation()->run(&error);
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_EQ(listCommand.mid(listCommand.indexOf(' ') + 1), "XLIST \"\" \"*\"");
    const QList<TDWImapFolder> expectedFolders = {
        {QStringLiteral("Inbox"), QChar(u'/'), TDWImapFolderFlagHasNoChildren | TDWImapFolderFlagInbox},
        {QStringLiteral("[Gmail]"), QChar(u'/'), TDWImapFolderFlagNoSelect | TDWImapFolderFlagHasChildren},
        {QStringLiteral("[Gmail]/All Mail"), QChar(u'/'), TDWImapFolderFlagHasNoChildren | TDWImapFolderFlagAllMail},
        {QStringLiteral("[Gmail]/Starred"), QChar(u'/'), TDWImapFolderFlagHasNoChildren | TDWImapFolderFlagStarred},
        {QStringLiteral("Entw&APw-rfe"), QChar(u'/'), TDWImapFolderFlagHasNoChildren},
    };
    EXPECT_TRUE(folders == expectedFolders);

    const QList<TDWImapMessage> messages = session->fetchMessagesByNumberOperation(QStringLiteral("[Gmail]/All Mail"), 0x1EF,
                                                                                   TDWImapIndexSet::fromRange(1, 1000))->run(&error);
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_EQ(fetchCommand.mid(fetchCommand.indexOf(' ') + 1),
              "FETCH 1:2 (UID FLAGS INTERNALDATE X-GM-MSGID X-GM-THRID X-GM-LABELS "
              "BODY.PEEK[HEADER.FIELDS (DATE SUBJECT FROM SENDER TO CC BCC MESSAGE-ID REFERENCES)])");
    ASSERT_EQ(messages.size(), 2);
    const TDWImapMessage &m = messages[0];
    EXPECT_EQ(m.sequenceNumber, 1u);
    EXPECT_EQ(m.uid, 41u);
    EXPECT_EQ(m.flags, TDWImapMessageFlagSeen | TDWImapMessageFlagForwarded);
    EXPECT_EQ(m.gmailMessageID, 1278455344230334865ULL);
    EXPECT_EQ(m.gmailThreadID, 1266894439832287888ULL);
    EXPECT_EQ(m.gmailLabels, (QStringList{"\\Inbox", "\\Important", "Entw&APw-rfe", "[Gmail]/Starred"}));
    EXPECT_EQ(m.internalDate, QDateTime(QDate(2010, 1, 9), QTime(23, 31, 46), QTimeZone::utc()));
    EXPECT_EQ(m.header().subject, QString::fromUtf8("Grüße"));
    EXPECT_EQ(m.header().from, (TDWImapAddress{"Anna", "anna@example.org"}));
    EXPECT_EQ(m.header().messageID, "m1@x");
    EXPECT_EQ(messages[1].uid, 42u);
    EXPECT_TRUE(messages[1].gmailLabels.isEmpty());
    EXPECT_TRUE(messages[1].header().subject.isNull());
}

TEST(ImapScriptedSession, MatchesABodyToItsMessageWhateverTheItemOrder)
{
    ImapScriptedServer server(localCertificate(), [](Peer &p) {
        signIn(p);
        answerExamine(p, 9);
        const QByteArray first = p.readLine();
        const QByteArray second = p.readLine();
        // An unsolicited flag change, then both answers with the UID after the body, the second first:
        // the client cannot know where the first body goes until it has read it.
        p.send("* 4 FETCH (FLAGS (\\Seen))\r\n"
               "* 8 FETCH (BODY[] {6}\r\nsecond UID 8)\r\n"
               "* 7 FETCH (RFC822 {5}\r\nfirst UID 7 FLAGS ())\r\n"
               + Peer::tagOf(second) + " OK done\r\n" + Peer::tagOf(first) + " OK done\r\n");
        // The request whose body went astray asks again.
        const QByteArray again = p.expect("UID FETCH 8 ");
        p.send("* 8 FETCH (UID 8 BODY[] {6}\r\nsecond)\r\n" + Peer::tagOf(again) + " OK done\r\n");
    });
    auto session = sessionFor(server);
    // Started in this order from one thread, they go out in this order.
    auto first = session->fetchMessageByUIDOperation(QStringLiteral("INBOX"), 7);
    auto second = session->fetchMessageByUIDOperation(QStringLiteral("INBOX"), 8);
    QByteArray a, b;
    TDWError errorA, errorB;
    int done = 0;
    first->start([&](const TDWError &e, const QByteArray &data) { errorA = e, a = data, ++done; });
    second->start([&](const TDWError &e, const QByteArray &data) { errorB = e, b = data, ++done; });
    QElapsedTimer timer;
    timer.start();
    while (done < 2 && timer.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    ASSERT_EQ(done, 2);
    EXPECT_TRUE(errorA.isNull()) << errorA.description().toStdString();
    EXPECT_TRUE(errorB.isNull()) << errorB.description().toStdString();
    EXPECT_EQ(a, "first");
    EXPECT_EQ(b, "second");
}

TEST(ImapScriptedSession, WaitsForContinuationsWithoutLiteralPlusOrSaslIr)
{
    QByteArray initialResponse, examineLiteral;
    ImapScriptedServer server(localCertificate(), [&](Peer &p) {
        const QByteArray caps = "IMAP4rev1 AUTH=XOAUTH2";
        p.send("* OK [CAPABILITY " + caps + "] ready\r\n");
        const QByteArray auth = p.expect("AUTHENTICATE XOAUTH2");
        EXPECT_EQ(auth.mid(auth.indexOf(' ') + 1), "AUTHENTICATE XOAUTH2");
        p.send("+ \r\n");
        initialResponse = QByteArray::fromBase64(p.readLine());
        p.send(Peer::tagOf(auth) + " OK signed in\r\n");
        const QByteArray capability = p.expect("CAPABILITY");
        p.send("* CAPABILITY " + caps + "\r\n" + Peer::tagOf(capability) + " OK done\r\n");
        const QByteArray examine = p.expect("EXAMINE {5}");
        p.send("+ go ahead\r\n");
        examineLiteral = p.readLine();
        p.send("* 3 EXISTS\r\n* OK [UIDVALIDITY 5] x\r\n" + Peer::tagOf(examine) + " OK done\r\n");
    });
    TDWError error;
    const TDWImapFolderInfo info = sessionFor(server)->folderInfoOperation(QString::fromUtf8("Café"))->run(&error);
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_EQ(initialResponse, QByteArray("user=alice@example.com\x01" "auth=Bearer token-1\x01\x01"));
    EXPECT_EQ(examineLiteral, QString::fromUtf8("Café").toUtf8());
    EXPECT_EQ(info.messageCount, 3);
    EXPECT_EQ(info.uidValidity, 5u);
}

TEST(ImapScriptedSession, AnswersTheXOAuth2ChallengeWithAnEmptyLine)
{
    QByteArray reply = "(nothing)";
    ImapScriptedServer server(localCertificate(), [&](Peer &p) {
        p.send("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] ready\r\n");
        const QByteArray auth = p.expect("AUTHENTICATE XOAUTH2 ");
        p.send("+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJtYWlsIn0=\r\n");
        reply = p.readLine();
        p.send(Peer::tagOf(auth) + " NO [AUTHENTICATIONFAILED] Invalid credentials (Failure)\r\n");
    });
    TDWError error;
    sessionFor(server)->fetchAllFoldersOperation()->run(&error);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(error.code(), TDWImapError::Authentication);
    EXPECT_EQ(error.userInfo().value(TDWImapError::ServerTextKey).toString(), QStringLiteral("Invalid credentials (Failure)"));
}

TEST(ImapScriptedSession, TheWireTraceShowsTheCommandsAndNeverTheSignIn)
{
    const QByteArray payload = QByteArray("user=alice@example.com\x01" "auth=Bearer token-1\x01\x01").toBase64();
    // With the initial response in the command, and sent after the server's go-ahead.
    for (const QByteArray &capabilities : {QByteArray("IMAP4rev1 SASL-IR AUTH=XOAUTH2"), QByteArray("IMAP4rev1 AUTH=XOAUTH2")}) {
        SCOPED_TRACE(capabilities.toStdString());
        ImapScriptedServer server(localCertificate(), [&](Peer &p) {
            p.send("* OK [CAPABILITY " + capabilities + "] ready\r\n");
            const QByteArray auth = p.expect("AUTHENTICATE XOAUTH2");
            if (!capabilities.contains("SASL-IR")) {
                p.send("+ \r\n");
                p.readLine();
            }
            p.send(Peer::tagOf(auth) + " OK [CAPABILITY " + capabilities + "] signed in\r\n");
            const QByteArray list = p.expect("LIST");
            p.send("* LIST (\\HasNoChildren) \"/\" \"INBOX\"\r\n" + Peer::tagOf(list) + " OK done\r\n");
        });
        TDWWireTrace::setEnabled(true);
        tdwtest::LogCapture log;
        TDWError error;
        sessionFor(server)->fetchAllFoldersOperation()->run(&error);
        TDWWireTrace::setEnabled(false);
        ASSERT_TRUE(error.isNull()) << error.description().toStdString();
        EXPECT_TRUE(log.contains(QStringLiteral("< * OK [CAPABILITY ") + QString::fromLatin1(capabilities) + QStringLiteral("] ready")));
        EXPECT_TRUE(log.contains(QStringLiteral(" AUTHENTICATE XOAUTH2")));
        EXPECT_TRUE(log.contains(QStringLiteral(" LIST \"\" \"*\"")));
        EXPECT_TRUE(log.contains(QStringLiteral("< * LIST (\\HasNoChildren) \"/\" \"INBOX\"")));
        for (const QString &line : log.lines()) {
            EXPECT_FALSE(line.contains(QString::fromLatin1(payload))) << line.toStdString();
            EXPECT_FALSE(line.contains(QStringLiteral("token-1"))) << line.toStdString();
        }
    }
}

TEST(ImapScriptedSession, AsksForTheMessageCountBeforeCuttingASequenceSet)
{
    QByteArray fetch;
    ImapScriptedServer server(localCertificate(), [&](Peer &p) {
        signIn(p);
        answerExamine(p, 5);
        // The folder grew since the server last gave its size: the client must ask before cutting 1:20 to 1:5.
        const QByteArray noop = p.expect("NOOP");
        p.send("* 8 EXISTS\r\n" + Peer::tagOf(noop) + " OK done\r\n");
        fetch = p.readLine();
        QByteArray answer;
        for (int i = 1; i <= 8; ++i)
            answer += "* " + QByteArray::number(i) + " FETCH (UID " + QByteArray::number(100 + i) + " FLAGS ())\r\n";
        p.send(answer + Peer::tagOf(fetch) + " OK done\r\n");
    });
    auto session = sessionFor(server);
    TDWError error;
    EXPECT_EQ(session->folderInfoOperation(QStringLiteral("INBOX"))->run(&error).messageCount, 5);
    // What the server said a while ago (a count is taken as current for one second).
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    const QList<TDWImapMessage> messages = session->fetchMessagesByNumberOperation(
        QStringLiteral("INBOX"), TDWImapMessagesRequestKindFlags, TDWImapIndexSet::fromRange(1, 20))->run(&error);
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_EQ(fetch.mid(fetch.indexOf(' ') + 1), "FETCH 1:8 (UID FLAGS)");
    EXPECT_EQ(messages.size(), 8);
}

TEST(ImapScriptedSession, SendsACommandAgainWhenAnIdleConnectionWasDropped)
{
    ImapScriptedServer server(localCertificate(), [](Peer &p) {
        signIn(p);
        if (p.index() == 0) {
            p.send(Peer::tagOf(p.expect("NOOP")) + " OK first\r\n");
            // The next command finds the connection gone, as after a server's idle time-out.
            p.readLine();
            p.close();
            return;
        }
        if (p.index() == 1) {
            p.send(Peer::tagOf(p.expect("NOOP")) + " OK second\r\n");
            return;
        }
        // Later connections keep failing: the command is not sent forever.
        p.readLine();
        p.close();
    });
    auto session = sessionFor(server);
    TDWError error;
    EXPECT_TRUE(session->noopOperation()->run(&error));
    EXPECT_TRUE(session->noopOperation()->run(&error));
    EXPECT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_EQ(server.connectionCount(), 2);

    session->noopOperation()->run(&error);
    EXPECT_EQ(error.code(), TDWImapError::Connection) << error.description().toStdString();
}

TEST(ImapScriptedSession, BadDataFromTheServerIsAnErrorNotACrash)
{
    struct Case
    {
        const char *name;
        QByteArray reply;   // sent in answer to LIST; "%1" stands for the tag
        TDWImapError::Code code;
    };
    const std::vector<Case> cases = {
        {"unterminated list", "* LIST (\\HasNoChildren \"/\" Work\r\n%1 OK done\r\n", TDWImapError::Parse},
        {"unknown status", "%1 PERHAPS done\r\n", TDWImapError::Parse},
        {"continuation nobody asked for", "+ more please\r\n", TDWImapError::Parse},
        {"overlong line", "* LIST () \"/\" " + QByteArray(2 << 20, 'a') + "\r\n", TDWImapError::Parse},
        {"BYE and close", "* BYE Server shutting down\r\n", TDWImapError::Connection},
        {"refusal", "%1 NO [THROTTLED] Slow down\r\n", TDWImapError::CommandFailed},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ImapScriptedServer server(localCertificate(), [&](Peer &p) {
            signIn(p);
            const QByteArray line = p.expect("LIST");
            QByteArray reply = c.reply;
            p.send(reply.replace("%1", Peer::tagOf(line)));
            if (c.code == TDWImapError::Connection)
                p.close();
            else
                p.readLine();
        });
        TDWError error;
        sessionFor(server, 30)->fetchAllFoldersOperation()->run(&error);
        EXPECT_EQ(error.code(), c.code) << error.description().toStdString();
        if (c.code == TDWImapError::Connection) {
            EXPECT_TRUE(error.localizedDescription().contains(QStringLiteral("Server shutting down"))) << error.description().toStdString();
        }
        if (c.code == TDWImapError::CommandFailed) {
            EXPECT_EQ(error.userInfo().value(TDWImapError::ResponseCodeKey).toString(), QStringLiteral("THROTTLED"));
        }
    }
}

TEST(ImapScriptedSession, RefusesSettingsItDoesNotOffer)
{
    ImapScriptedServer server(localCertificate(), [](Peer &) {});
    for (auto change : std::vector<std::function<void(TDWImapSession &)>>{
             [](TDWImapSession &s) { s.setConnectionType(TDWImapConnectionTypeClear); },
             [](TDWImapSession &s) { s.setAuthType(TDWImapAuthTypeNone); },
             [](TDWImapSession &s) { s.setHostname(QString()); }}) {
        auto session = sessionFor(server);
        change(*session);
        TDWError error;
        session->noopOperation()->run(&error);
        EXPECT_FALSE(error.isNull());
    }
    EXPECT_EQ(server.connectionCount(), 0);
}

} // namespace
