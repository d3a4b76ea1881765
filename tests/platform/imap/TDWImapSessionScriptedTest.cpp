// The session against scripted servers: certificate and host checks, time-outs,
// pipelining, the Gmail dialect, literals and continuations, each command's
// tagged answers, and servers that misbehave. Every dialogue is written out in
// full, line by line; every case must end in a result or an error, never a
// hang, a crash or a line the dialogue does not expect.
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

using Dialogue = ImapScriptedServer::Dialogue;

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
// The XOAUTH2 initial response of alice@example.com with token-1.
const QByteArray InitialResponse = QByteArray("user=alice@example.com\x01" "auth=Bearer token-1\x01\x01").toBase64();

// The greeting and the sign-in (tag T1), the capabilities sent in both.
Dialogue signIn(const QByteArray &capabilities = DefaultCapabilities)
{
    return {"S: * OK [CAPABILITY " + capabilities + "] scripted server ready",
            "C: T1 AUTHENTICATE XOAUTH2 " + InitialResponse,
            "S: T1 OK [CAPABILITY " + capabilities + "] signed in"};
}

// The answer to EXAMINE (with tag `tag`) of a folder that holds `exists` messages.
Dialogue examined(const QByteArray &tag, int exists)
{
    return {"S: * " + QByteArray::number(exists) + " EXISTS", "S: * 0 RECENT", "S: * OK [UIDVALIDITY 77] ok", "S: * OK [UIDNEXT 900] ok",
            "S: " + tag + " OK [READ-ONLY] done"};
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
        // An untrusted server never gets past the TLS handshake.
        ImapScriptedServer server(certificate, signIn() + Dialogue{"C: T2 NOOP", "S: T2 OK done"});
        TDWError error;
        const bool ok = sessionFor(server, 10, QString::fromLatin1(c.host), certificate.certFile)->noopOperation()->run(&error);
        EXPECT_EQ(ok, c.trusted);
        EXPECT_EQ(error.code(), c.trusted ? qint64(0) : qint64(TDWImapError::Certificate)) << error.description().toStdString();
    }
}

TEST(ImapScriptedSession, GivesUpOnAServerThatNeverAnswers)
{
    // Accepts the TCP connection, then says nothing: not even the TLS handshake completes.
    ImapScriptedServer silent({}, Dialogue{});
    TDWError error;
    sessionFor(silent, 0.3)->fetchAllFoldersOperation()->run(&error);
    EXPECT_EQ(error.code(), TDWImapError::Timeout) << error.description().toStdString();

    // Signs in, then never answers the command. The time-out also bounds every
    // step of the sign-in, which must not run out on a busy machine: it is as
    // long as the scripted server's own reads wait.
    ImapScriptedServer stalling(localCertificate(), signIn() + Dialogue{"C: T2 LIST \"\" \"*\""});
    QElapsedTimer timer;
    timer.start();
    sessionFor(stalling, 5)->fetchAllFoldersOperation()->run(&error);
    EXPECT_EQ(error.code(), TDWImapError::Timeout) << error.description().toStdString();
    EXPECT_GE(timer.elapsed(), 4950);
}

TEST(ImapScriptedSession, SendsSeveralCommandsBeforeTheFirstAnswer)
{
    // All three commands must be in before the server answers, out of order as servers may.
    ImapScriptedServer server(localCertificate(), signIn() + Dialogue{"C: T2 NOOP", "C: T3 NOOP", "C: T4 NOOP",
                                                                      "S: T4 OK done", "S: T3 OK done", "S: T2 OK done"});
    auto session = sessionFor(server);
    std::atomic<int> succeeded = 0;
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&, op = session->noopOperation()] {
            TDWError error;
            if (op->run(&error) && error.isNull())
                ++succeeded;
        });
    }
    for (std::thread &t : waiters)
        t.join();
    EXPECT_EQ(succeeded, 3);
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST(ImapScriptedSession, SpeaksGmailsDialect)
{
    const QByteArray caps = "IMAP4rev1 UNSELECT IDLE NAMESPACE QUOTA ID XLIST CHILDREN X-GM-EXT-1 SASL-IR AUTH=XOAUTH2 LITERAL+";
    const QByteArray header = "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\nFrom: Anna <anna@example.org>\r\nMessage-ID: <m1@x>\r\n\r\n";
    ImapScriptedServer server(localCertificate(), signIn(caps) + Dialogue{
        "C: T2 XLIST \"\" \"*\"",
        "S: * XLIST (\\HasNoChildren \\Inbox) \"/\" \"Inbox\"",
        "S: * XLIST (\\Noselect \\HasChildren) \"/\" \"[Gmail]\"",
        "S: * XLIST (\\HasNoChildren \\AllMail) \"/\" \"[Gmail]/All Mail\"",
        "S: * XLIST (\\HasNoChildren \\Starred) \"/\" \"[Gmail]/Starred\"",
        "S: * XLIST (\\HasNoChildren) \"/\" \"Entw&APw-rfe\"",
        "S: T2 OK Success",
        "C: T3 EXAMINE \"[Gmail]/All Mail\"",
    } + examined("T3", 2) + Dialogue{
        "C: T4 FETCH 1:2 (UID FLAGS INTERNALDATE X-GM-MSGID X-GM-THRID X-GM-LABELS "
        "BODY.PEEK[HEADER.FIELDS (DATE SUBJECT FROM SENDER TO CC BCC MESSAGE-ID REFERENCES)])",
        "S: * 1 FETCH (X-GM-THRID 1266894439832287888 X-GM-MSGID 1278455344230334865 X-GM-LABELS (\\Inbox \"\\\\Important\" Entw&APw-rfe \"[Gmail]/Starred\") "
        "UID 41 FLAGS (\\Seen $Forwarded NotJunk) INTERNALDATE \"10-Jan-2010 00:31:46 +0100\" BODY[HEADER.FIELDS (DATE SUBJECT FROM SENDER TO CC BCC MESSAGE-ID REFERENCES)] {"
            + QByteArray::number(header.size()) + "}\r\n" + header + ")",
        "S: * OK [ALERT] Unsolicited, and ignored",
        "S: * 3 EXISTS",
        "S: * FLAGS (\\Seen \\Flagged)",
        "S: * 2 FETCH (X-GM-LABELS () UID 42 FLAGS () X-GM-MSGID 2 X-GM-THRID 2 INTERNALDATE \"11-Jan-2010 00:00:00 +0000\" "
        "BODY[HEADER.FIELDS (DATE SUBJECT FROM SENDER TO CC BCC MESSAGE-ID REFERENCES)] {2}",
        "S: ",   // the literal: an empty header
        "S: )",
        "S: T4 OK Success",
    });
    auto session = sessionFor(server);
    TDWError error;
    const QList<TDWImapFolder> folders = session->fetchAllFoldersOperation()->run(&error);
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();
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

struct BodyAnswer
{
    TDWError error;
    QByteArray data;
    bool done = false;
};

// Fetches the bodies of UIDs 7 and 8 of INBOX at once: started in this order
// from one thread, the requests go out in this order.
std::pair<BodyAnswer, BodyAnswer> fetchSevenAndEight(const ImapScriptedServer &server)
{
    auto session = sessionFor(server);
    std::pair<BodyAnswer, BodyAnswer> answers;
    auto first = session->fetchMessageByUIDOperation(QStringLiteral("INBOX"), 7);
    auto second = session->fetchMessageByUIDOperation(QStringLiteral("INBOX"), 8);
    first->start([&](const TDWError &e, const QByteArray &data) { answers.first = {e, data, true}; });
    second->start([&](const TDWError &e, const QByteArray &data) { answers.second = {e, data, true}; });
    QElapsedTimer timer;
    timer.start();
    while (!(answers.first.done && answers.second.done) && timer.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    EXPECT_TRUE(answers.first.done && answers.second.done);
    return answers;
}

TEST(ImapScriptedSession, MatchesABodyToItsMessageWhateverTheItemOrder)
{
    ImapScriptedServer server(localCertificate(), signIn() + Dialogue{"C: T2 EXAMINE \"INBOX\""} + examined("T2", 9) + Dialogue{
        "C: T3 UID FETCH 7 (UID RFC822.SIZE BODY.PEEK[])",
        "C: T4 UID FETCH 8 (UID RFC822.SIZE BODY.PEEK[])",
        // An unsolicited flag change, then both answers with the UID after the body, the second first:
        // the client cannot know where the first body goes until it has read it.
        "S: * 4 FETCH (FLAGS (\\Seen))",
        "S: * 8 FETCH (BODY[] {6}",
        "S: second UID 8)",
        "S: * 7 FETCH (RFC822 {5}",
        "S: first UID 7 FLAGS ())",
        "S: T4 OK done",
        "S: T3 OK done",
        // The request whose body went astray asks again.
        "C: T5 UID FETCH 8 (UID RFC822.SIZE BODY.PEEK[])",
        "S: * 8 FETCH (UID 8 BODY[] {6}",
        "S: second)",
        "S: T5 OK done",
    });
    const auto [first, second] = fetchSevenAndEight(server);
    EXPECT_TRUE(first.error.isNull()) << first.error.description().toStdString();
    EXPECT_TRUE(second.error.isNull()) << second.error.description().toStdString();
    EXPECT_EQ(first.data, "first");
    EXPECT_EQ(second.data, "second");
}

TEST(ImapScriptedSession, WaitsForContinuationsWithoutLiteralPlusOrSaslIr)
{
    ImapScriptedServer server(localCertificate(), Dialogue{
        "S: * OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] ready",
        "C: T1 AUTHENTICATE XOAUTH2",
        "S: + ",
        "C: " + InitialResponse,
        "S: T1 OK signed in",
        // The sign-in's answer named no capabilities: the client asks.
        "C: T2 CAPABILITY",
        "S: * CAPABILITY IMAP4rev1 AUTH=XOAUTH2",
        "S: T2 OK done",
        "C: T3 EXAMINE {5}",
        "S: + go ahead",
        "C: " + QString::fromUtf8("Café").toUtf8(),
        "S: * 3 EXISTS",
        "S: * OK [UIDVALIDITY 5] x",
        "S: T3 OK done",
    });
    TDWError error;
    const TDWImapFolderInfo info = sessionFor(server)->folderInfoOperation(QString::fromUtf8("Café"))->run(&error);
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_EQ(info.messageCount, 3);
    EXPECT_EQ(info.uidValidity, 5u);
}

TEST(ImapScriptedSession, TheWireTraceShowsTheCommandsAndNeverTheSignIn)
{
    // With the initial response in the command, and sent after the server's go-ahead.
    const QByteArray withSaslIr = "IMAP4rev1 SASL-IR AUTH=XOAUTH2", without = "IMAP4rev1 AUTH=XOAUTH2";
    const std::vector<std::pair<QByteArray, Dialogue>> cases = {
        {withSaslIr, signIn(withSaslIr)},
        {without, {"S: * OK [CAPABILITY " + without + "] scripted server ready", "C: T1 AUTHENTICATE XOAUTH2", "S: + ", "C: " + InitialResponse,
                   "S: T1 OK [CAPABILITY " + without + "] signed in"}},
    };
    for (const auto &[capabilities, signingIn] : cases) {
        SCOPED_TRACE(capabilities.toStdString());
        ImapScriptedServer server(localCertificate(), signingIn + Dialogue{"C: T2 LIST \"\" \"*\"", "S: * LIST (\\HasNoChildren) \"/\" \"INBOX\"", "S: T2 OK done"});
        TDWWireTrace::setEnabled(true);
        tdwtest::LogCapture log;
        TDWError error;
        sessionFor(server)->fetchAllFoldersOperation()->run(&error);
        TDWWireTrace::setEnabled(false);
        ASSERT_TRUE(error.isNull()) << error.description().toStdString();
        EXPECT_TRUE(log.contains(QStringLiteral("< * OK [CAPABILITY ") + QString::fromLatin1(capabilities) + QStringLiteral("] scripted server ready")));
        EXPECT_TRUE(log.contains(QStringLiteral(" AUTHENTICATE XOAUTH2")));
        EXPECT_TRUE(log.contains(QStringLiteral(" LIST \"\" \"*\"")));
        EXPECT_TRUE(log.contains(QStringLiteral("< * LIST (\\HasNoChildren) \"/\" \"INBOX\"")));
        for (const QString &line : log.lines()) {
            EXPECT_FALSE(line.contains(QString::fromLatin1(InitialResponse))) << line.toStdString();
            EXPECT_FALSE(line.contains(QStringLiteral("token-1"))) << line.toStdString();
        }
    }
}

TEST(ImapScriptedSession, AsksForTheMessageCountBeforeCuttingASequenceSet)
{
    Dialogue fetched;
    for (int i = 1; i <= 8; ++i)
        fetched.append("S: * " + QByteArray::number(i) + " FETCH (UID " + QByteArray::number(100 + i) + " FLAGS ())");
    ImapScriptedServer server(localCertificate(), signIn() + Dialogue{"C: T2 EXAMINE \"INBOX\""} + examined("T2", 5) + Dialogue{
        // The folder grew since the server last gave its size: the client must ask before cutting 1:20 to 1:5.
        "C: T3 NOOP",
        "S: * 8 EXISTS",
        "S: T3 OK done",
        "C: T4 FETCH 1:8 (UID FLAGS)",
    } + fetched + Dialogue{"S: T4 OK done"});
    auto session = sessionFor(server);
    TDWError error;
    EXPECT_EQ(session->folderInfoOperation(QStringLiteral("INBOX"))->run(&error).messageCount, 5);
    // What the server said a while ago (a count is taken as current for one second).
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    const QList<TDWImapMessage> messages = session->fetchMessagesByNumberOperation(
        QStringLiteral("INBOX"), TDWImapMessagesRequestKindFlags, TDWImapIndexSet::fromRange(1, 20))->run(&error);
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_EQ(messages.size(), 8);
}

TEST(ImapScriptedSession, SendsACommandAgainWhenAnIdleConnectionWasDropped)
{
    ImapScriptedServer server(localCertificate(), QList<Dialogue>{
        // The second command finds the connection gone, as after a server's idle time-out.
        signIn() + Dialogue{"C: T2 NOOP", "S: T2 OK first", "C: T3 NOOP", "X"},
        signIn() + Dialogue{"C: T2 NOOP", "S: T2 OK second", "X"},
        // Later connections keep failing: the command is not sent forever.
        signIn() + Dialogue{"C: T2 NOOP", "X"},
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

using Scope = TDWError::Scope;

// One exchange after the sign-in (which takes tag T1): the dialogue, and how
// the operation ends. Rows hold only what differs from an accepted answer.
struct Exchange
{
    const char *name;
    Dialogue dialogue;
    qint64 code = 0;                  // the operation's error; 0: it succeeds with the dialogue's result
    Scope scope = Scope::Connection;  // how far the error reaches
    const char *serverText = "";      // the NO or BAD text the error carries
    const char *responseCode = "";
};

// Plays each row against `run`, which starts the operation and answers
// whether its result is the one the dialogue gives (checked on success only).
void playExchanges(const std::vector<Exchange> &rows, const std::function<bool(TDWImapSession &, TDWError *)> &run,
                   const Dialogue &signingIn = signIn())
{
    for (const Exchange &row : rows) {
        SCOPED_TRACE(row.name);
        ImapScriptedServer server(localCertificate(), signingIn + row.dialogue);
        TDWError error;
        const bool expected = run(*sessionFor(server, 30), &error);
        EXPECT_EQ(error.code(), row.code) << error.description().toStdString();
        if (row.code == 0) {
            EXPECT_TRUE(expected);
        } else {
            EXPECT_EQ(int(error.scope()), int(row.scope));
        }
        if (*row.serverText) {
            EXPECT_EQ(error.userInfo().value(TDWImapError::ServerTextKey).toString(), QString::fromUtf8(row.serverText));
        }
        if (*row.responseCode) {
            EXPECT_EQ(error.userInfo().value(TDWImapError::ResponseCodeKey).toString(), QString::fromUtf8(row.responseCode));
        }
    }
}

TEST(ImapScriptedSession, AnswersToTheSignIn)
{
    const QByteArray caps = DefaultCapabilities;
    const Dialogue noop = {"C: T2 NOOP", "S: T2 OK done"};
    playExchanges({
        {"accepted", signIn() + noop},
        {"capabilities asked after the sign-in",
         {"S: * OK [CAPABILITY " + caps + "] ready", "C: T1 AUTHENTICATE XOAUTH2 " + InitialResponse, "S: T1 OK signed in",
          "C: T2 CAPABILITY", "S: * CAPABILITY " + caps, "S: T2 OK done", "C: T3 NOOP", "S: T3 OK done"}},
        {"capabilities asked before the sign-in",
         {"S: * OK ready", "C: T1 CAPABILITY", "S: * CAPABILITY " + caps, "S: T1 OK done",
          "C: T2 AUTHENTICATE XOAUTH2 " + InitialResponse, "S: T2 OK [CAPABILITY " + caps + "] signed in", "C: T3 NOOP", "S: T3 OK done"}},
        // The error challenge is answered with an empty line, and the refusal follows.
        {"refused after a challenge",
         {"S: * OK [CAPABILITY " + caps + "] ready", "C: T1 AUTHENTICATE XOAUTH2 " + InitialResponse,
          "S: + eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJtYWlsIn0=", "C: ",
          "S: T1 NO [AUTHENTICATIONFAILED] Invalid credentials (Failure)"},
         TDWImapError::Authentication, Scope::SignIn, "Invalid credentials (Failure)", "AUTHENTICATIONFAILED"},
        {"refused (NO)",
         {"S: * OK [CAPABILITY " + caps + "] ready", "C: T1 AUTHENTICATE XOAUTH2 " + InitialResponse, "S: T1 NO Invalid credentials"},
         TDWImapError::Authentication, Scope::SignIn, "Invalid credentials"},
        {"rejected (BAD)",
         {"S: * OK [CAPABILITY " + caps + "] ready", "C: T1 AUTHENTICATE XOAUTH2 " + InitialResponse, "S: T1 BAD Unknown mechanism"},
         TDWImapError::Authentication, Scope::SignIn, "Unknown mechanism"},
        {"refused at the greeting (BYE)", {"S: * BYE Too many connections", "X"}, TDWImapError::Connection},
    }, [](TDWImapSession &s, TDWError *e) { return s.noopOperation()->run(e); }, {});
}

TEST(ImapScriptedSession, AnswersToNoop)
{
    playExchanges({
        {"OK", {"C: T2 NOOP", "S: * 4 EXISTS", "S: T2 OK done"}},
        {"NO", {"C: T2 NOOP", "S: T2 NO [UNAVAILABLE] Try later"}, TDWImapError::CommandFailed, Scope::Request, "Try later", "UNAVAILABLE"},
        {"BAD", {"C: T2 NOOP", "S: T2 BAD Unknown command"}, TDWImapError::CommandFailed, Scope::Request, "Unknown command"},
    }, [](TDWImapSession &s, TDWError *e) { return s.noopOperation()->run(e); });
}

TEST(ImapScriptedSession, AnswersToListAndBadData)
{
    const QByteArray list = "C: T2 LIST \"\" \"*\"";
    playExchanges({
        {"OK", {list, "S: * LIST (\\HasNoChildren) \"/\" \"INBOX\"", "S: * LIST (\\HasNoChildren) \"/\" \"Entw&APw-rfe\"", "S: T2 OK done"}},
        {"NO", {list, "S: T2 NO [THROTTLED] Slow down"}, TDWImapError::CommandFailed, Scope::Request, "Slow down", "THROTTLED"},
        {"BAD", {list, "S: T2 BAD Command syntax error"}, TDWImapError::CommandFailed, Scope::Request, "Command syntax error"},
        // Bad data is an error, not a crash.
        {"unterminated list", {list, "S: * LIST (\\HasNoChildren \"/\" Work", "S: T2 OK done"}, TDWImapError::Parse},
        {"unknown status", {list, "S: T2 PERHAPS done"}, TDWImapError::Parse},
        {"continuation nobody asked for", {list, "S: + more please"}, TDWImapError::Parse},
        {"overlong line", {list, "S: * LIST () \"/\" " + QByteArray(2 << 20, 'a')}, TDWImapError::Parse},
        {"BYE and close", {list, "S: * BYE Server shutting down", "X"}, TDWImapError::Connection},
    }, [](TDWImapSession &s, TDWError *e) {
        const QList<TDWImapFolder> folders = s.fetchAllFoldersOperation()->run(e);
        if (e->code() == TDWImapError::Connection) {
            EXPECT_TRUE(e->localizedDescription().contains(QStringLiteral("Server shutting down"))) << e->description().toStdString();
        }
        return folders == QList<TDWImapFolder>{{QStringLiteral("INBOX"), QChar(u'/'), TDWImapFolderFlagHasNoChildren},
                                               {QStringLiteral("Entw&APw-rfe"), QChar(u'/'), TDWImapFolderFlagHasNoChildren}};
    });
}

TEST(ImapScriptedSession, AnswersToExamine)
{
    const QByteArray examine = "C: T2 EXAMINE \"Work\"";
    playExchanges({
        {"OK", Dialogue{examine} + examined("T2", 3)},
        {"NO", {examine, "S: T2 NO [NONEXISTENT] Unknown folder"}, TDWImapError::CommandFailed, Scope::Request, "Unknown folder"},
        {"BAD", {examine, "S: T2 BAD Invalid arguments"}, TDWImapError::CommandFailed, Scope::Request, "Invalid arguments"},
    }, [](TDWImapSession &s, TDWError *e) {
        return s.folderInfoOperation(QStringLiteral("Work"))->run(e) == TDWImapFolderInfo{3, 0, -1, 77, 900};
    });
}

TEST(ImapScriptedSession, AnswersToStatus)
{
    const QByteArray status = "C: T2 STATUS \"Work\" (MESSAGES RECENT UIDNEXT UIDVALIDITY UNSEEN)";
    playExchanges({
        {"OK", {status, "S: * STATUS \"Work\" (MESSAGES 4 RECENT 1 UIDNEXT 10 UIDVALIDITY 7 UNSEEN 2)", "S: T2 OK done"}},
        {"NO", {status, "S: T2 NO [NONEXISTENT] Unknown folder"}, TDWImapError::CommandFailed, Scope::Request, "Unknown folder", "NONEXISTENT"},
        {"BAD", {status, "S: T2 BAD Invalid arguments"}, TDWImapError::CommandFailed, Scope::Request, "Invalid arguments"},
    }, [](TDWImapSession &s, TDWError *e) {
        return s.folderStatusOperation(QStringLiteral("Work"))->run(e) == TDWImapFolderInfo{4, 1, 2, 7, 10};
    });
}

TEST(ImapScriptedSession, AnswersToFetch)
{
    const Dialogue fetch = Dialogue{"C: T2 EXAMINE \"INBOX\""} + examined("T2", 2) + Dialogue{"C: T3 FETCH 1:2 (UID FLAGS)"};
    playExchanges({
        {"OK", fetch + Dialogue{"S: * 1 FETCH (UID 41 FLAGS (\\Seen))", "S: * 2 FETCH (UID 42 FLAGS ())", "S: T3 OK done"}},
        {"NO", fetch + Dialogue{"S: T3 NO [SERVERBUG] Some messages could not be fetched"}, TDWImapError::CommandFailed, Scope::Request,
         "Some messages could not be fetched", "SERVERBUG"},
        {"BAD", fetch + Dialogue{"S: T3 BAD Invalid sequence set"}, TDWImapError::CommandFailed, Scope::Request, "Invalid sequence set"},
    }, [](TDWImapSession &s, TDWError *e) {
        const QList<TDWImapMessage> messages =
            s.fetchMessagesByNumberOperation(QStringLiteral("INBOX"), TDWImapMessagesRequestKindFlags, TDWImapIndexSet::fromRange(1, 2))->run(e);
        return messages.size() == 2 && messages[0].uid == 41 && messages[0].flags == TDWImapMessageFlagSeen && messages[1].uid == 42;
    });
}

TEST(ImapScriptedSession, AnswersToABodyFetch)
{
    const Dialogue fetch = Dialogue{"C: T2 EXAMINE \"INBOX\""} + examined("T2", 9) + Dialogue{"C: T3 UID FETCH 7 (UID RFC822.SIZE BODY.PEEK[])"};
    playExchanges({
        {"OK", fetch + Dialogue{"S: * 3 FETCH (UID 7 BODY[] {5}", "S: first)", "S: T3 OK done"}},
        {"OK without the message", fetch + Dialogue{"S: T3 OK done"}, TDWImapError::NotFound, Scope::Item},
        // A message the server will not give reaches no further than that message.
        {"NO", fetch + Dialogue{"S: T3 NO [UNAVAILABLE] Try later"}, TDWImapError::CommandFailed, Scope::Item, "Try later", "UNAVAILABLE"},
        {"BAD", fetch + Dialogue{"S: T3 BAD Invalid arguments"}, TDWImapError::CommandFailed, Scope::Item, "Invalid arguments"},
        // A body is bounded by the size the server listed, with a margin for servers that count differently.
        {"a little over its size", fetch + Dialogue{"S: * 3 FETCH (UID 7 RFC822.SIZE 3 BODY[] {5}", "S: first)", "S: T3 OK done"}},
        // Refused as it is announced: the client closes the connection instead of reading 4 GiB.
        {"far over its size", fetch + Dialogue{"S: * 3 FETCH (UID 7 RFC822.SIZE 5001 BODY[] {4294967295}", "S: " + QByteArray(4096, 'x')},
         TDWImapError::TooLarge, Scope::Item},
        {"no size and over any message's", fetch + Dialogue{"S: * 3 FETCH (UID 7 BODY[] {268435457}", "S: " + QByteArray(4096, 'x')},
         TDWImapError::TooLarge, Scope::Item},
        // The size after the body: the body already read is dropped.
        {"over the size told after it",
         fetch + Dialogue{"S: * 3 FETCH (UID 7 BODY[] {70000}", "S: " + QByteArray(70000, 'x') + " RFC822.SIZE 5)", "S: T3 OK done"},
         TDWImapError::TooLarge, Scope::Item},
    }, [](TDWImapSession &s, TDWError *e) { return s.fetchMessageByUIDOperation(QStringLiteral("INBOX"), 7)->run(e) == "first"; });
}

// A body far beyond its listed size ends its connection, but only its own
// message fails: the other request in flight goes again on a new connection,
// the refused one is not asked again.
TEST(ImapScriptedSession, AMessageFarOverItsSizeFailsAloneAndTheOthersGoAgain)
{
    const Dialogue examine = Dialogue{"C: T2 EXAMINE \"INBOX\""} + examined("T2", 9);
    ImapScriptedServer server(localCertificate(), QList<Dialogue>{
        signIn() + examine + Dialogue{
            "C: T3 UID FETCH 7 (UID RFC822.SIZE BODY.PEEK[])",
            "C: T4 UID FETCH 8 (UID RFC822.SIZE BODY.PEEK[])",
            "S: * 3 FETCH (UID 7 RFC822.SIZE 5001 BODY[] {4294967295}",
            "S: " + QByteArray(4096, 'x'),
        },
        signIn() + examine + Dialogue{
            "C: T3 UID FETCH 8 (UID RFC822.SIZE BODY.PEEK[])",
            "S: * 4 FETCH (UID 8 RFC822.SIZE 6 BODY[] {6}",
            "S: second)",
            "S: T3 OK done",
        },
    });
    const auto [first, second] = fetchSevenAndEight(server);
    EXPECT_EQ(first.error.code(), TDWImapError::TooLarge) << first.error.description().toStdString();
    EXPECT_EQ(int(first.error.scope()), int(TDWError::Scope::Item));
    EXPECT_TRUE(first.error.localizedDescription().contains(QStringLiteral("4294967295"))) << first.error.localizedDescription().toStdString();
    EXPECT_TRUE(first.data.isEmpty());
    EXPECT_TRUE(second.error.isNull()) << second.error.description().toStdString();
    EXPECT_EQ(second.data, "second");
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST(ImapScriptedSession, AnswersToCapabilityAndId)
{
    playExchanges({
        {"OK", {"C: T2 CAPABILITY", "S: * CAPABILITY IMAP4rev1 IDLE", "S: T2 OK done"}},
        {"BAD", {"C: T2 CAPABILITY", "S: T2 BAD Not now"}, TDWImapError::CommandFailed, Scope::Request, "Not now"},
    }, [](TDWImapSession &s, TDWError *e) { return s.capabilityOperation()->run(e).contains(QStringLiteral("IDLE")); });
    playExchanges({
        {"OK", {"C: T2 ID (\"name\" \"Tidewell\")", "S: * ID (\"name\" \"scripted\")", "S: T2 OK done"}},
        {"NO", {"C: T2 ID (\"name\" \"Tidewell\")", "S: T2 NO Not now"}, TDWImapError::CommandFailed, Scope::Request, "Not now"},
    }, [](TDWImapSession &s, TDWError *e) {
        return s.identityOperation({{QStringLiteral("name"), QStringLiteral("Tidewell")}})->run(e).value(QStringLiteral("name")) == QStringLiteral("scripted");
    });
}

TEST(ImapScriptedSession, RefusesSettingsItDoesNotOffer)
{
    ImapScriptedServer server(localCertificate(), Dialogue{});
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
