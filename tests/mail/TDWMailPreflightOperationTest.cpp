// The Gmail access check against the fake Gmail IMAP server: what passes, what
// fails with which message, and that the check always ends.
#include "mail/TDWMailPreflightOperation.h"

#include "FakeGmailImap.h"
#include "MailTestSupport.h"
#include "TestSupport.h"

#include "accounts/TDWPreflightDelegate.h"
#include "accounts/TDWPreflightMgr.h"
#include "app/TDWRegisterClasses.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace std::chrono_literals;

namespace {

const QString ConnectFailure = QStringLiteral("Unable to connect to Google Mail via IMAP.");
const QString SizeLimitFailure = QStringLiteral("It looks like IMAP folder size limits are set.");
const QString TimeoutFailure = QStringLiteral("Encountered timeout when validating IMAP access.");
const QString MailShieldFailure = QString::fromUtf8("It looks like avast! Mail Shield is running. Tidewell’s Gmail backup is not compatible "
                                                    "with avast! Mail Shield. Please disable Mail Shield and try again.");

QString tokenOf(const QString &user)
{
    return QStringLiteral("ya29.token-") + user;
}

QJsonObject account(const QString &user, const QJsonObject &mailbox)
{
    return {{"user", user}, {"tokens", QJsonArray{tokenOf(user)}}, {"mailbox", mailbox}};
}

void pointAtPort(int port)
{
    TDWUserDefaults::standard()->setString(QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("Hostname"));
}

// Runs a check on an operation queue, as the account setup does, and waits
// for the queue to empty: the check must always finish itself.
std::shared_ptr<TDWMailPreflightOperation> runCheck(const QString &user, const QString &token,
                                                    const std::function<void(TDWMailPreflightOperation &)> &prepare = {})
{
    auto check = std::make_shared<TDWMailPreflightOperation>(user, token, QStringLiteral("mail"));
    if (prepare)
        prepare(*check);
    TDWOperationQueue queue;
    queue.addOperation(check);
    EXPECT_TRUE(tdwtest::waitUntil([&] { return queue.operationCount() == 0; })) << user.toStdString();
    EXPECT_TRUE(check->isFinished());
    return check;
}

// One fake server per test program, holding one account per situation.
class MailPreflightTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = std::make_unique<FakeGmailImap>();
        const QJsonObject scenario = {
            {"accounts", QJsonArray{account("plain@example.com", {{"generate", 20}}),
                                    account("google@example.com", {{"layout", "[Google Mail]"}, {"generate", 20}}),
                                    account("noallmail@example.com", {{"generate", 3}, {"hidden", QJsonArray{"[Gmail]/All Mail"}}}),
                                    account("noinbox@example.com", {{"generate", 3}, {"hidden", QJsonArray{"INBOX"}}}),
                                    account("stall@example.com", {{"generate", 3}})}},
            {"faults", QJsonArray{QJsonObject{{"type", "stall"}, {"command", "LIST"}, {"user", "stall@example.com"}, {"times", 1000}}}},
        };
        if (!s_server->start(scenario))
            s_server.reset();
    }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(s_server) << "no fake IMAP server";
        pointAtPort(s_server->port());
        qputenv("TDW_EXTRA_CA", s_server->caFile().toUtf8());
        TDWMailPreflightOperation::setMailShieldConfigurationPath(shieldConfig());
    }
    void TearDown() override { TDWMailPreflightOperation::setMailShieldConfigurationPath(QString()); }

    QString shieldConfig()
    {
        if (m_shieldConfig.isEmpty())
            m_shieldConfig = QDir(tdwtest::freshDir(QStringLiteral("shield"))).filePath(QStringLiteral("com.avast.proxy.conf"));
        return m_shieldConfig;
    }

    static inline std::unique_ptr<FakeGmailImap> s_server;
    QString m_shieldConfig;
};

TEST_F(MailPreflightTest, PassesAndListsTheFoldersInEitherLayout)
{
    for (const char *layout : {"[Gmail]", "[Google Mail]"}) {
        SCOPED_TRACE(layout);
        const QString user = QString::fromLatin1(layout) == QLatin1String("[Gmail]") ? QStringLiteral("plain@example.com")
                                                                                      : QStringLiteral("google@example.com");
        const auto check = runCheck(user, tokenOf(user));
        EXPECT_TRUE(check->error().isNull()) << check->error().description().toStdString();
        EXPECT_EQ(check->numMessages(), 20);
        EXPECT_EQ(check->username(), user);
        EXPECT_EQ(check->service(), QStringLiteral("mail"));

        const QString p = QString::fromLatin1(layout) + QLatin1Char('/');
        const QMap<QString, QString> expected = {
            {"INBOX", "Inbox"},       {"Work", ""},           {"Entw&APw-rfe", ""},   {"Personal/Family", ""},
            {p + "All Mail", "AllMail"}, {p + "Drafts", "Drafts"}, {p + "Important", ""}, {p + "Sent Mail", "Sent"},
            {p + "Spam", "Spam"},     {p + "Starred", "Starred"}, {p + "Trash", "Trash"},
        };
        QMap<QString, QString> listed;
        const TDWFoldersWithFlags folders = check->foldersWithFlags();
        for (auto it = folders.cbegin(); it != folders.cend(); ++it)
            listed.insert(it.key(), mailtest::sortedNames(it.value()));
        EXPECT_EQ(listed, expected);
    }
}

TEST_F(MailPreflightTest, FailsWhenARequiredFolderIsMissing)
{
    const std::vector<std::pair<QString, QString>> cases = {
        {"noallmail@example.com", "All Mail"},
        {"noinbox@example.com", "Inbox"},
    };
    for (const auto &[user, label] : cases) {
        SCOPED_TRACE(user.toStdString());
        const auto check = runCheck(user, tokenOf(user));
        EXPECT_FALSE(check->error().isNull());
        EXPECT_EQ(check->error().localizedDescription(), QStringLiteral("Tidewell was unable to find the %1 folder via IMAP.").arg(label));
        // The list was read, so the table is there; the size was never asked.
        EXPECT_TRUE(check->foldersWithFlags().contains(QStringLiteral("[Gmail]/Trash")));
        EXPECT_EQ(check->numMessages(), 0);
    }
}

TEST_F(MailPreflightTest, FailsWhenTheServerRefusesTheToken)
{
    tdwtest::LogCapture log;
    const auto check = runCheck(QStringLiteral("plain@example.com"), QStringLiteral("ya29.expired-secret"));
    EXPECT_FALSE(check->error().isNull());
    EXPECT_EQ(check->error().localizedDescription(), ConnectFailure);
    EXPECT_TRUE(check->foldersWithFlags().isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: TDWMailPreflightOperation encountered error: "))) << log.lines().join('\n').toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("expired-secret")));
}

TEST_F(MailPreflightTest, FailsWhenNoServerAnswers)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const int port = closed.serverPort();
    closed.close();
    pointAtPort(port);
    const auto check = runCheck(QStringLiteral("unreachable@example.com"), QStringLiteral("ya29.any"));
    EXPECT_FALSE(check->error().isNull());
    EXPECT_EQ(check->error().localizedDescription(), ConnectFailure);
}

TEST_F(MailPreflightTest, TimesOutWhenTheServerStalls)
{
    const auto check = runCheck(QStringLiteral("stall@example.com"), tokenOf(QStringLiteral("stall@example.com")),
                                [](TDWMailPreflightOperation &op) { op.setTimeoutInterval(300ms); });
    EXPECT_FALSE(check->error().isNull());
    EXPECT_EQ(check->error().localizedDescription(), TimeoutFailure);
}

TEST_F(MailPreflightTest, CancelEndsACheckThatIsWaiting)
{
    auto check = std::make_shared<TDWMailPreflightOperation>(QStringLiteral("stall@example.com"), tokenOf(QStringLiteral("stall@example.com")),
                                                             QStringLiteral("mail"));
    TDWOperationQueue queue;
    queue.addOperation(check);
    ASSERT_TRUE(tdwtest::waitUntil([&] { return check->isExecuting(); }));
    tdwtest::waitUntil([] { return false; }, 200ms);   // let the folder list request go out
    queue.cancelAllOperations();
    EXPECT_TRUE(tdwtest::waitUntil([&] { return queue.operationCount() == 0; }, 10s));
    EXPECT_FALSE(check->error().isNull());
}

TEST_F(MailPreflightTest, RefusesAtOnceUnderAMailShield)
{
    QFile config(shieldConfig());
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("[imaps]\nENABLED=1\n");
    config.close();
    // Anything that tried IMAP would knock here.
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost));
    pointAtPort(listener.serverPort());

    const auto check = runCheck(QStringLiteral("shielded@example.com"), QStringLiteral("ya29.any"));
    EXPECT_FALSE(check->error().isNull());
    EXPECT_EQ(check->error().localizedDescription(), MailShieldFailure);
    tdwtest::waitUntil([] { return false; }, 100ms);
    EXPECT_FALSE(listener.hasPendingConnections());
}

TEST(MailShieldDetection, ReadsTheProxySettings)
{
    const QString dir = tdwtest::freshDir(QStringLiteral("shield-cases"));
    struct Case
    {
        const char *name;
        std::optional<QByteArray> content;   // nullopt: no file
        bool running;
    };
    const std::vector<Case> cases = {
        {"absent", std::nullopt, false},
        {"imaps on", QByteArray("[pop3s]\nENABLED=0\n[imaps]\nENABLED=1\n"), true},
        {"imaps off", QByteArray("[smtps]\nENABLED=1\n[imaps]\nENABLED=0\nPORT=993\n"), false},
        {"off switch not right after the section", QByteArray("[imaps]\nPORT=993\nENABLED=0\n"), true},
        {"empty", QByteArray(), true},
        {"not UTF-8", QByteArray("[imaps]\nENABLED=1\n\xff\xfe"), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = QDir(dir).filePath(QString::fromLatin1(c.name));
        if (c.content) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(*c.content);
        }
        TDWMailPreflightOperation::setMailShieldConfigurationPath(path);
        EXPECT_EQ(TDWMailPreflightOperation::avastMailShieldRunning(), c.running);
    }
    // A folder where the file should be cannot be read as text.
    TDWMailPreflightOperation::setMailShieldConfigurationPath(dir);
    EXPECT_FALSE(TDWMailPreflightOperation::avastMailShieldRunning());
    // The real location is a macOS folder, absent here.
    TDWMailPreflightOperation::setMailShieldConfigurationPath(QString());
    EXPECT_FALSE(TDWMailPreflightOperation::avastMailShieldRunning());
}

// The account setup's preflight manager: the check found by the class name
// the application registers at start-up, run on a worker thread, its table
// read afterwards.
class RecordingDelegate : public TDWPreflightDelegate
{
public:
    void handlePreflightFailure(const TDWError &error) override { outcome = error.localizedDescription(); }
    void handlePreflightSuccess() override { outcome = QStringLiteral("success"); }
    QString outcome;
};

TEST_F(MailPreflightTest, RunsForTheAccountSetup)
{
    TDWRegisterClasses();
    const std::vector<std::pair<QString, QString>> cases = {
        {tokenOf(QStringLiteral("plain@example.com")), QStringLiteral("success")},
        {QStringLiteral("ya29.wrong"), ConnectFailure},
    };
    for (const auto &[token, outcome] : cases) {
        SCOPED_TRACE(outcome.toStdString());
        RecordingDelegate delegate;
        TDWPreflightMgr manager(QStringLiteral("plain@example.com"), token, {QStringLiteral("mail")}, &delegate);
        manager.start();
        ASSERT_TRUE(tdwtest::waitUntil([&] { return !delegate.outcome.isEmpty(); }));
        EXPECT_EQ(delegate.outcome, outcome);
        auto *check = dynamic_cast<TDWMailPreflightOperation *>(manager.mailPreflightOperation());
        ASSERT_NE(check, nullptr);
        EXPECT_EQ(check->foldersWithFlags().contains(QStringLiteral("[Gmail]/All Mail")), outcome == QLatin1String("success"));
    }
}

// All Mail holding exactly one of the IMAP folder size limits means the
// account cuts its folders off there. Small limits show the rule on small
// mailboxes, so the fake serves them at once however busy the machine is;
// the real limits are checked at the smallest of them.
class MailPreflightFolderSizeTest : public ::testing::Test
{
protected:
    struct Case
    {
        int size;
        QList<qint64> limits;
        bool atLimit;
    };

    static std::vector<Case> cases()
    {
        const QList<qint64> small = {10, 20, 50, 100};
        const QList<qint64> real = TDWMailPreflightOperation::DefaultFolderSizeLimits;
        return {{9, small, false},  {10, small, true},  {19, small, false}, {20, small, true}, {21, small, false},
                {50, small, true},  {100, small, true}, {999, real, false}, {1000, real, true}};
    }

    static QString userFor(int size) { return QStringLiteral("size%1@example.com").arg(size); }

    static void SetUpTestSuite()
    {
        QJsonArray accounts;
        for (const Case &c : cases())
            accounts.append(account(userFor(c.size), {{"generate", c.size}}));
        s_server = std::make_unique<FakeGmailImap>();
        if (!s_server->start({{"accounts", accounts}}))
            s_server.reset();
    }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(s_server) << "no fake IMAP server";
        pointAtPort(s_server->port());
        qputenv("TDW_EXTRA_CA", s_server->caFile().toUtf8());
        TDWMailPreflightOperation::setMailShieldConfigurationPath(QDir(tdwtest::freshDir()).filePath(QStringLiteral("none")));
    }
    void TearDown() override { TDWMailPreflightOperation::setMailShieldConfigurationPath(QString()); }

    static inline std::unique_ptr<FakeGmailImap> s_server;
};

TEST_F(MailPreflightFolderSizeTest, AllMailAtASizeLimitFails)
{
    EXPECT_EQ(TDWMailPreflightOperation::DefaultFolderSizeLimits, (QList<qint64>{1000, 2000, 5000, 10000}));
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.size);
        const auto check = runCheck(userFor(c.size), tokenOf(userFor(c.size)),
                                    [&](TDWMailPreflightOperation &op) { op.setFolderSizeLimits(c.limits); });
        EXPECT_EQ(check->error().isNull(), !c.atLimit);
        EXPECT_EQ(check->error().isNull() ? QString() : check->error().localizedDescription(), c.atLimit ? SizeLimitFailure : QString());
        EXPECT_EQ(check->numMessages(), c.size);
    }
}

} // namespace
