// The per-account session cache: one session per account and token, its
// settings, and the server address and connection limit taken from settings.
#include "mail/TDWImapConnectionMgr.h"

#include "MailTestSupport.h"
#include "TestSupport.h"

#include "accounts/TDWKeychainMgr.h"
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"

#include "platform/foundation/TDWUserDefaults.h"
#include "platform/imap/TDWImapSession.h"

#include <gtest/gtest.h>

namespace {

class TDWImapConnectionMgrTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        defaults()->removeObjectForKey(QStringLiteral("Hostname"));
        defaults()->removeObjectForKey(QStringLiteral("ThrottleLevel"));
    }
    void TearDown() override
    {
        TDWKeyring::setBackend(nullptr);
        SetUp();
    }
    static TDWUserDefaults *defaults() { return TDWUserDefaults::standard(); }
    // The cache lives for the whole program: every test takes user names of its own.
    static QString user(const char *name)
    {
        return QString::fromLatin1(name) + QStringLiteral("@") + QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
};

TEST_F(TDWImapConnectionMgrTest, OneSessionPerAccountAndToken)
{
    const auto first = TDWImapConnectionMgr::imapSessionForUsername(user("alice"), QStringLiteral("token-1"));
    ASSERT_TRUE(first);
    EXPECT_EQ(TDWImapConnectionMgr::imapSessionForUsername(user("alice"), QStringLiteral("token-1")), first);

    const auto renewed = TDWImapConnectionMgr::imapSessionForUsername(user("alice"), QStringLiteral("token-2"));
    EXPECT_NE(renewed, first);
    EXPECT_EQ(renewed->OAuth2Token(), QStringLiteral("token-2"));
    EXPECT_EQ(TDWImapConnectionMgr::imapSessionForUsername(user("alice"), QStringLiteral("token-2")), renewed);
    // The replaced session is not torn down under its users.
    EXPECT_EQ(first->OAuth2Token(), QStringLiteral("token-1"));
    // Going back to the old token makes yet another session: only the last one is kept.
    EXPECT_NE(TDWImapConnectionMgr::imapSessionForUsername(user("alice"), QStringLiteral("token-1")), first);

    const auto bob = TDWImapConnectionMgr::imapSessionForUsername(user("bob"), QStringLiteral("token-2"));
    EXPECT_NE(bob, renewed);
    EXPECT_NE(TDWImapConnectionMgr::imapSessionForUsername(user("Bob"), QStringLiteral("token-2")), bob);
}

TEST_F(TDWImapConnectionMgrTest, SessionsAreSetUpForGmail)
{
    const auto session = TDWImapConnectionMgr::imapSessionForUsername(user("alice"), QStringLiteral("ya29.token"));
    EXPECT_EQ(session->hostname(), QStringLiteral("imap.gmail.com"));
    EXPECT_EQ(session->port(), 993);
    EXPECT_EQ(session->username(), user("alice"));
    EXPECT_EQ(session->connectionType(), int(TDWImapConnectionTypeTLS));
    EXPECT_EQ(session->authType(), int(TDWImapAuthTypeXOAuth2));
    EXPECT_EQ(session->timeout(), 60.0);
    EXPECT_TRUE(session->allowsFolderConcurrentAccessEnabled());
    EXPECT_EQ(session->OAuth2Token(), QStringLiteral("ya29.token"));
    EXPECT_EQ(session->maximumConnections(), 2);   // the "moderate" level
}

TEST_F(TDWImapConnectionMgrTest, ServerAddressComesFromTheHostnameSetting)
{
    struct Case
    {
        const char *setting;
        const char *host;
        int port;
    };
    const std::vector<Case> cases = {
        {"imap.example.org", "imap.example.org", 993},
        {"127.0.0.1:40123", "127.0.0.1", 40123},
        {" localhost:1993 ", "localhost", 1993},
        {"[::1]:1993", "::1", 1993},
        {"host:port", "host:port", 993},
        {"host:0", "host:0", 993},
        {"::1", "::1", 993},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.setting);
        defaults()->setString(QString::fromLatin1(c.setting), QStringLiteral("Hostname"));
        const auto session = TDWImapConnectionMgr::imapSessionForUsername(user("alice"), QStringLiteral("token-%1").arg(++n));
        EXPECT_EQ(session->hostname(), QString::fromLatin1(c.host));
        EXPECT_EQ(session->port(), c.port);
    }
}

TEST_F(TDWImapConnectionMgrTest, ConnectionLimitFollowsTheThrottleLevelWhenASessionIsMade)
{
    const std::vector<std::pair<const char *, int>> levels = {{"slow", 1}, {"moderate", 2}, {"fast", 4}, {"no such level", 1}};
    for (const auto &[level, connections] : levels) {
        SCOPED_TRACE(level);
        defaults()->setString(QString::fromLatin1(level), QStringLiteral("ThrottleLevel"));
        EXPECT_EQ(TDWImapConnectionMgr::imapSessionForUsername(user(level), QStringLiteral("t"))->maximumConnections(), connections);
    }
    // A cached session keeps its limit; the next new session takes the new level.
    defaults()->setString(QStringLiteral("slow"), QStringLiteral("ThrottleLevel"));
    EXPECT_EQ(TDWImapConnectionMgr::imapSessionForUsername(user("fast"), QStringLiteral("t"))->maximumConnections(), 4);
    EXPECT_EQ(TDWImapConnectionMgr::imapSessionForUsername(user("fast"), QStringLiteral("t2"))->maximumConnections(), 1);
}

TEST_F(TDWImapConnectionMgrTest, StoredCredentialGivesTheToken)
{
    TDWKeyring::setBackend(std::make_shared<TDWFileKeyring>(tdwtest::freshDir(QStringLiteral("keyring"))));
    auto credential = std::make_shared<TDWCredential>();
    credential->setRefreshToken(QStringLiteral("refresh"));
    credential->setAccessToken(QStringLiteral("stored-token"));
    ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, user("alice"), true));

    const auto session = TDWImapConnectionMgr::imapSessionForUsername(user("alice"));
    ASSERT_TRUE(session);
    EXPECT_EQ(session->OAuth2Token(), QStringLiteral("stored-token"));
    EXPECT_EQ(TDWImapConnectionMgr::imapSessionForUsername(user("alice")), session);
    EXPECT_EQ(TDWImapConnectionMgr::imapSessionForUsername(user("alice"), QStringLiteral("stored-token")), session);

    // A renewed token reaches the next request.
    credential->setAccessToken(QStringLiteral("renewed-token"));
    const auto renewed = TDWImapConnectionMgr::imapSessionForUsername(user("alice"));
    EXPECT_NE(renewed, session);
    EXPECT_EQ(renewed->OAuth2Token(), QStringLiteral("renewed-token"));

    EXPECT_FALSE(TDWImapConnectionMgr::imapSessionForUsername(user("carol")));
}

} // namespace
