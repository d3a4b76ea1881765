// The IMAP session against a real Dovecot (the fixture's peer): what it reads
// must match what doveadm reads of the same mailbox.
#include "ImapPeer.h"
#include "ImapTestPrinters.h"
#include "TestSupport.h"

#include "platform/imap/TDWImapError.h"
#include "platform/imap/TDWImapModifiedUtf7.h"
#include "platform/imap/TDWImapSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

namespace {

const QString AllMail = QStringLiteral("[Gmail]/All Mail");

class DovecotSession : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ImapPeer::instance().isRunning()) << "no Dovecot peer: IMAP_PEER_ROOT is unset or its ports file is missing";
    }
    const ImapPeer &peer() const { return ImapPeer::instance(); }
};

// Runs the main loop until `done` or the deadline.
bool spinUntil(const std::function<bool()> &done, int timeoutMs = 30000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return done();
}

QByteArray crlf(QByteArray bytes)
{
    return bytes.replace("\n", "\r\n");
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int flagBits(const QString &doveadmFlags)
{
    QList<QByteArray> words;
    for (const QString &word : doveadmFlags.split(u' ', Qt::SkipEmptyParts))
        words.append(word.toUtf8());
    int bits = 0;
    for (const auto &[name, bit] : std::vector<std::pair<QByteArray, int>>{
             {"\\Seen", TDWImapMessageFlagSeen}, {"\\Answered", TDWImapMessageFlagAnswered}, {"\\Flagged", TDWImapMessageFlagFlagged},
             {"\\Deleted", TDWImapMessageFlagDeleted}, {"\\Draft", TDWImapMessageFlagDraft}, {"$Forwarded", TDWImapMessageFlagForwarded}})
        if (words.contains(name))
            bits |= bit;
    return bits;
}

TEST_F(DovecotSession, SignsInOverVerifiedTlsWithXOAuth2)
{
    TDWError error;
    const QStringList caps = peer().session()->capabilityOperation()->run(&error);
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();
    // After the sign-in the server tells its full set, not the pre-login one.
    EXPECT_TRUE(caps.contains(QStringLiteral("IMAP4REV1")));
    EXPECT_TRUE(caps.contains(QStringLiteral("SPECIAL-USE")));
    EXPECT_FALSE(caps.contains(QStringLiteral("AUTH=XOAUTH2")));
}

TEST_F(DovecotSession, RefusesACertificateItCannotTrust)
{
    // Another self-signed certificate as the only extra trust anchor: Dovecot's is not trusted.
    const QString dir = tdwtest::freshDir(QStringLiteral("ca"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                                              QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                                              QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
                                              QStringLiteral("-keyout"), dir + QStringLiteral("/key.pem"), QStringLiteral("-out"), dir + QStringLiteral("/cert.pem")});
    ASSERT_TRUE(openssl.waitForFinished(60000));
    ASSERT_EQ(openssl.exitCode(), 0);

    auto session = peer().session();
    session->setCertificateAuthorityFile(dir + QStringLiteral("/cert.pem"));
    TDWError error;
    session->fetchAllFoldersOperation()->run(&error);
    EXPECT_EQ(error.code(), TDWImapError::Certificate) << error.description().toStdString();
    EXPECT_EQ(session->connectionCount(), 0);

    session->setCertificateAuthorityFile(QString());
    session->fetchAllFoldersOperation()->run(&error);
    EXPECT_EQ(error.code(), TDWImapError::Certificate) << "the system store does not know the peer's certificate either";
}

TEST_F(DovecotSession, ARejectedTokenFailsThroughTheXOAuth2Challenge)
{
    auto session = peer().session();
    session->setOAuth2Token(QStringLiteral("ya29.revoked"));
    TDWError error;
    session->fetchAllFoldersOperation()->run(&error);
    // Not a time-out: the challenge got its empty line, and the refusal came back.
    ASSERT_EQ(error.code(), TDWImapError::Authentication) << error.description().toStdString();
    EXPECT_EQ(error.userInfo().value(TDWImapError::ResponseCodeKey).toString(), QStringLiteral("AUTHENTICATIONFAILED"));
    EXPECT_FALSE(error.localizedDescription().contains(QStringLiteral("ya29")));

    // The same session works once it has a valid token.
    session->setOAuth2Token(peer().token());
    session->fetchAllFoldersOperation()->run(&error);
    EXPECT_TRUE(error.isNull()) << error.description().toStdString();
}

TEST_F(DovecotSession, ListsFoldersWithSpecialUseFlagsAndEncodedNames)
{
    TDWError error;
    const QList<TDWImapFolder> folders = peer().session()->fetchAllFoldersOperation()->run(&error);
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();

    QStringList listed;
    QMap<QString, TDWImapFolder> byPath;
    for (const TDWImapFolder &f : folders) {
        listed.append(f.path);
        byPath.insert(f.path, f);
        EXPECT_EQ(f.delimiter, QChar(u'/')) << f.path.toStdString();
    }
    QStringList expected = peer().doveadm({QStringLiteral("mailbox"), QStringLiteral("list"), QStringLiteral("-7"), QStringLiteral("-u"), peer().user()})
                               .split(u'\n', Qt::SkipEmptyParts);
    listed.sort();
    expected.sort();
    EXPECT_EQ(listed, expected);

    const std::vector<std::pair<QString, int>> special = {
        {AllMail, TDWImapFolderFlagAllMail},
        {QStringLiteral("[Gmail]/Sent Mail"), TDWImapFolderFlagSent},
        {QStringLiteral("[Gmail]/Drafts"), TDWImapFolderFlagDrafts},
        {QStringLiteral("[Gmail]/Trash"), TDWImapFolderFlagTrash},
        {QStringLiteral("[Gmail]/Spam"), TDWImapFolderFlagSpam},
        {QStringLiteral("[Gmail]/Starred"), TDWImapFolderFlagStarred},
        {QStringLiteral("[Gmail]/Important"), TDWImapFolderFlagImportant},
        {QStringLiteral("[Gmail]"), TDWImapFolderFlagNoSelect | TDWImapFolderFlagHasChildren},
        {QStringLiteral("Personal"), TDWImapFolderFlagNoSelect | TDWImapFolderFlagHasChildren},
        {QStringLiteral("Work"), TDWImapFolderFlagNone},
    };
    for (const auto &[path, bits] : special) {
        ASSERT_TRUE(byPath.contains(path)) << path.toStdString();
        EXPECT_EQ(byPath[path].flags & ~(TDWImapFolderFlagHasNoChildren | TDWImapFolderFlagMarked | TDWImapFolderFlagUnmarked), bits)
            << path.toStdString();
    }
    ASSERT_TRUE(byPath.contains(QStringLiteral("Entw&APw-rfe")));
    EXPECT_EQ(TDWImapModifiedUtf7::decode(QStringLiteral("Entw&APw-rfe")), QString::fromUtf8("Entwürfe"));
}

TEST_F(DovecotSession, FolderInfoAndStatusMatchDoveadm)
{
    auto session = peer().session();
    for (const QString &folder : {QStringLiteral("INBOX"), QStringLiteral("Work"), AllMail, QStringLiteral("Travel Plans"),
                                  QStringLiteral("Entw&APw-rfe"), QStringLiteral("Big")}) {
        SCOPED_TRACE(folder.toStdString());
        TDWError error;
        const TDWImapFolderInfo info = session->folderInfoOperation(folder)->run(&error);
        ASSERT_TRUE(error.isNull()) << error.description().toStdString();
        const TDWImapFolderInfo status = session->folderStatusOperation(folder)->run(&error);
        ASSERT_TRUE(error.isNull()) << error.description().toStdString();
        // doveadm names folders in UTF-8.
        const QMap<QString, QString> expected = peer().status(QStringLiteral("messages uidvalidity uidnext unseen"), TDWImapModifiedUtf7::decode(folder));
        EXPECT_EQ(info.messageCount, expected.value(QStringLiteral("messages")).toLongLong());
        EXPECT_EQ(info.uidValidity, expected.value(QStringLiteral("uidvalidity")).toUInt());
        EXPECT_EQ(info.uidNext, expected.value(QStringLiteral("uidnext")).toUInt());
        EXPECT_GE(info.recentCount, 0);
        EXPECT_EQ(status.messageCount, info.messageCount);
        EXPECT_EQ(status.uidValidity, info.uidValidity);
        EXPECT_EQ(status.uidNext, info.uidNext);
        EXPECT_EQ(status.unseenCount, expected.value(QStringLiteral("unseen")).toLongLong());
    }
    TDWError error;
    session->folderInfoOperation(QStringLiteral("No Such Folder"))->run(&error);
    EXPECT_EQ(error.code(), TDWImapError::CommandFailed);
}

TEST_F(DovecotSession, FetchesEveryUidAndFlagByNumberAndByUid)
{
    auto session = peer().session();
    QMap<quint32, int> expected;
    for (const auto &row : peer().fetch(QStringLiteral("uid flags"), AllMail))
        expected.insert(row.value(QStringLiteral("uid")).toUInt(), flagBits(row.value(QStringLiteral("flags"))));
    ASSERT_GE(expected.size(), 300);

    TDWError error;
    const QList<TDWImapMessage> byNumber = session->fetchMessagesByNumberOperation(
        AllMail, TDWImapMessagesRequestKindFlags, TDWImapIndexSet::fromRange(1, quint32(expected.size())))->run(&error);
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();
    QMap<quint32, int> got;
    quint32 sequence = 0;
    for (const TDWImapMessage &m : byNumber) {
        EXPECT_EQ(m.sequenceNumber, ++sequence);
        got.insert(m.uid, m.flags);
    }
    EXPECT_EQ(got, expected);

    const QList<TDWImapMessage> byUid = session->fetchMessagesByUIDOperation(
        AllMail, TDWImapMessagesRequestKindFlags, TDWImapIndexSet::fromRange(1, UINT32_MAX))->run(&error);
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();
    QMap<quint32, int> gotByUid;
    for (const TDWImapMessage &m : byUid)
        gotByUid.insert(m.uid, m.flags);
    EXPECT_EQ(gotByUid, expected);
}

TEST_F(DovecotSession, FetchesHeadersSizesAndDates)
{
    QMap<quint32, QMap<QString, QString>> expected;
    for (const auto &row : peer().fetch(QStringLiteral("uid size.virtual date.received.unixtime hdr.message-id"), QStringLiteral("Work")))
        expected.insert(row.value(QStringLiteral("uid")).toUInt(), row);
    ASSERT_FALSE(expected.isEmpty());
    TDWError error;
    const QList<TDWImapMessage> messages = peer().session()->fetchMessagesByUIDOperation(
        QStringLiteral("Work"), TDWImapMessagesRequestKindHeaders | TDWImapMessagesRequestKindInternalDate | TDWImapMessagesRequestKindSize
                                    | TDWImapMessagesRequestKindGmailLabels,
        TDWImapIndexSet::fromRange(1, UINT32_MAX))->run(&error);
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();
    ASSERT_EQ(messages.size(), expected.size());
    for (const TDWImapMessage &m : messages) {
        const auto &row = expected.value(m.uid);
        EXPECT_EQ(m.size, row.value(QStringLiteral("size.virtual")).toLongLong()) << m.uid;
        EXPECT_EQ(m.internalDate.toSecsSinceEpoch(), row.value(QStringLiteral("date.received.unixtime")).toLongLong()) << m.uid;
        EXPECT_EQ(QStringLiteral("<%1>").arg(m.header().messageID), row.value(QStringLiteral("hdr.message-id"))) << m.uid;
        EXPECT_FALSE(m.header().from.mailbox.isEmpty()) << m.uid;
        // Dovecot has no Gmail extension: no labels were asked for, none came.
        EXPECT_TRUE(m.gmailLabels.isEmpty());
        EXPECT_EQ(m.gmailMessageID, 0u);
    }
}

TEST_F(DovecotSession, SequenceRangesPastTheEndAreClampedNotRefused)
{
    auto session = peer().session();
    TDWError error;
    const qint64 count = session->folderInfoOperation(QStringLiteral("Work"))->run(&error).messageCount;
    ASSERT_GT(count, 5);
    const QList<TDWImapMessage> tail = session->fetchMessagesByNumberOperation(
        QStringLiteral("Work"), TDWImapMessagesRequestKindFlags, TDWImapIndexSet::fromRange(quint32(count) - 2, quint32(count) + 997))->run(&error);
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();
    ASSERT_EQ(tail.size(), 3);
    EXPECT_EQ(tail.last().sequenceNumber, quint32(count));

    const QList<TDWImapMessage> beyond = session->fetchMessagesByNumberOperation(
        QStringLiteral("Work"), TDWImapMessagesRequestKindFlags, TDWImapIndexSet::fromRange(quint32(count) + 1, quint32(count) + 1000))->run(&error);
    EXPECT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_TRUE(beyond.isEmpty());
}

TEST_F(DovecotSession, StreamsABigMessageToAFileWithProgress)
{
    const QByteArray expected = crlf(readFile(peer().root() + QStringLiteral("/big.eml")));
    ASSERT_GT(expected.size(), 6'000'000);
    const QString dir = tdwtest::freshDir(QStringLiteral("big"));
    const QString path = dir + QStringLiteral("/deep/er/big.eml");

    auto op = peer().session()->fetchMessageByUIDToFileOperation(QStringLiteral("Big"), 1, path);
    QList<std::pair<qint64, qint64>> progress;
    bool progressOnMainThread = true;
    op->setProgress([&](qint64 received, qint64 total) {
        progress.append({received, total});
        progressOnMainThread = progressOnMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
    });
    bool done = false;
    bool onMainThread = false;
    TDWError error;
    qint64 size = 0;
    op->start([&](const TDWError &e, qint64 s) {
        error = e;
        size = s;
        onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        done = true;
    });
    ASSERT_TRUE(spinUntil([&] { return done; }));
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_TRUE(onMainThread);
    EXPECT_EQ(size, expected.size());
    EXPECT_EQ(readFile(path), expected);
    EXPECT_EQ(QDir(dir + QStringLiteral("/deep/er")).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("big.eml")});

    ASSERT_GE(progress.size(), 10);
    EXPECT_TRUE(progressOnMainThread);
    for (qsizetype i = 1; i < progress.size(); ++i)
        EXPECT_GT(progress[i].first, progress[i - 1].first);
    EXPECT_EQ(progress.last(), std::make_pair(qint64(expected.size()), qint64(expected.size())));
}

TEST_F(DovecotSession, FetchesMessagesInMemoryAndReportsMissingOnes)
{
    auto session = peer().session();
    TDWError error;
    const QList<TDWImapMessage> sizes = session->fetchMessagesByUIDOperation(QStringLiteral("Receipts"), TDWImapMessagesRequestKindSize,
                                                                             TDWImapIndexSet::fromRange(1, 3))->run(&error);
    ASSERT_EQ(sizes.size(), 3);
    for (const TDWImapMessage &m : sizes) {
        const QByteArray data = session->fetchMessageByUIDOperation(QStringLiteral("Receipts"), m.uid)->run(&error);
        ASSERT_TRUE(error.isNull()) << error.description().toStdString();
        EXPECT_EQ(data.size(), m.size);
        EXPECT_TRUE(data.startsWith("Return-Path: ")) << data.left(40).toStdString();
    }
    session->fetchMessageByUIDOperation(QStringLiteral("Receipts"), 999999)->run(&error);
    EXPECT_EQ(error.code(), TDWImapError::NotFound);
    const QString path = tdwtest::freshDir(QStringLiteral("missing")) + QStringLiteral("/m.eml");
    session->fetchMessageByUIDToFileOperation(QStringLiteral("Receipts"), 999999, path)->run(&error);
    EXPECT_EQ(error.code(), TDWImapError::NotFound);
    EXPECT_FALSE(QFile::exists(path));
    session->fetchMessageByUIDOperation(QStringLiteral("No Such Folder"), 1)->run(&error);
    EXPECT_EQ(error.code(), TDWImapError::CommandFailed);
    EXPECT_TRUE(error.localizedDescription().contains(QStringLiteral("No Such Folder"))) << error.localizedDescription().toStdString();
}

TEST_F(DovecotSession, PipelinesManyCommandsAcrossFoldersOnOneConnection)
{
    auto session = peer().session(1);
    session->setPipelineDepth(8);
    struct Expect
    {
        QString folder;
        quint32 uid;
        qint64 size;
    };
    std::vector<Expect> expected;
    for (const QString &folder : {QStringLiteral("INBOX"), QStringLiteral("Work"), QStringLiteral("Receipts")})
        for (const auto &row : peer().fetch(QStringLiteral("uid size.virtual"), folder))
            if (expected.size() < 120)
                expected.push_back({folder, row.value(QStringLiteral("uid")).toUInt(), row.value(QStringLiteral("size.virtual")).toLongLong()});
    // Interleave the folders so the connection keeps switching between them.
    std::sort(expected.begin(), expected.end(), [](const Expect &a, const Expect &b) { return std::tie(a.uid, a.folder) < std::tie(b.uid, b.folder); });

    std::vector<std::shared_ptr<TDWImapOperation<QByteArray>>> ops;
    int finished = 0;
    int wrong = 0;
    for (const Expect &e : expected) {
        auto op = session->fetchMessageByUIDOperation(e.folder, e.uid);
        op->start([&, e](const TDWError &error, const QByteArray &data) {
            ++finished;
            if (!error.isNull() || data.size() != e.size) {
                ++wrong;
                ADD_FAILURE() << e.folder.toStdString() << " " << e.uid << ": " << error.description().toStdString() << " size " << data.size();
            }
        });
        ops.push_back(op);
    }
    ASSERT_TRUE(spinUntil([&] { return finished == int(expected.size()); }, 60000));
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(session->connectionCount(), 1);
}

TEST_F(DovecotSession, OpensMoreConnectionsUpToTheLimitAndClosesThem)
{
    auto session = peer().session(3);
    session->setPipelineDepth(2);
    int finished = 0;
    int maxSeen = 0;
    std::vector<std::shared_ptr<TDWImapOperation<QByteArray>>> ops;
    for (quint32 uid = 1; uid <= 60; ++uid) {
        auto op = session->fetchMessageByUIDOperation(AllMail, uid);
        op->start([&](const TDWError &error, const QByteArray &) {
            EXPECT_TRUE(error.isNull()) << error.description().toStdString();
            ++finished;
            maxSeen = std::max(maxSeen, session->connectionCount());
        });
        ops.push_back(op);
    }
    ASSERT_TRUE(spinUntil([&] { return finished == 60; }, 60000));
    EXPECT_EQ(maxSeen, 3);

    bool loggedOut = false;
    auto logout = session->disconnectOperation();
    logout->start([&](const TDWError &, bool) { loggedOut = true; });
    ASSERT_TRUE(spinUntil([&] { return loggedOut; }));
    EXPECT_EQ(session->connectionCount(), 0);
    // The session opens a new connection for the next request.
    TDWError error;
    EXPECT_TRUE(session->noopOperation()->run(&error));
    EXPECT_TRUE(error.isNull()) << error.description().toStdString();
}

TEST_F(DovecotSession, CancellingADownloadLeavesNoFileAndNoCompletion)
{
    auto session = peer().session();
    const QString dir = tdwtest::freshDir(QStringLiteral("cancel"));
    auto noFiles = [&] { return QDir(dir).entryList(QDir::Files | QDir::Hidden).isEmpty(); };

    // Cancelled as soon as it started: the completion never runs, and no file appears.
    bool completed = false;
    auto early = session->fetchMessageByUIDToFileOperation(QStringLiteral("Big"), 1, dir + QStringLiteral("/early.eml"));
    early->start([&](const TDWError &, qint64) { completed = true; });
    early->cancel();

    // Cancelled in the middle of the body (a worker waiting in run()): run() returns at
    // once, and the part already written goes away.
    auto midway = session->fetchMessageByUIDToFileOperation(QStringLiteral("Big"), 1, dir + QStringLiteral("/midway.eml"));
    qint64 receivedAtCancel = 0;
    qint64 total = 0;
    midway->setProgress([&](qint64 received, qint64 size) {
        if (!receivedAtCancel) {
            receivedAtCancel = received;
            total = size;
            midway->cancel();
        }
    });
    TDWError error;
    midway->run(&error);
    EXPECT_EQ(error.code(), TDWImapError::Cancelled);
    EXPECT_GT(receivedAtCancel, 0);
    EXPECT_LT(receivedAtCancel, total);

    EXPECT_TRUE(spinUntil(noFiles, 10000)) << QDir(dir).entryList(QDir::Files | QDir::Hidden).join(' ').toStdString();
    spinUntil([] { return false; }, 300);
    EXPECT_FALSE(completed);

    // The session carries on.
    const QByteArray again = session->fetchMessageByUIDOperation(QStringLiteral("Work"), 1)->run(&error);
    EXPECT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_FALSE(again.isEmpty());
    EXPECT_TRUE(noFiles());
}

TEST_F(DovecotSession, IdentifiesItselfAndNoops)
{
    auto session = peer().session();
    TDWError error;
    const QVariantMap id = session->identityOperation({{QStringLiteral("name"), QStringLiteral("Tidewell")}})->run(&error);
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_EQ(id.value(QStringLiteral("name")).toString(), QStringLiteral("Dovecot"));
    EXPECT_TRUE(session->noopOperation()->run(&error));
}

} // namespace
