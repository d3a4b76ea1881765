#include "accounts/TDWAccessTokenRetriever.h"

#include "accounts/TDWAccessTokenDelegate.h"
#include "accounts/TDWCredential.h"
#include "accounts/TDWGoogleEndpoints.h"
#include "accounts/TDWKeychainMgr.h"
#include "accounts/TDWLoginNotifier.h"
#include "platform/foundation/TDWClock.h"
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"
#include "platform/notify/TDWNotificationCenter.h"

#include "FakeGoogleTest.h"
#include "ScriptedKeyring.h"
#include "TestSupport.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <optional>

namespace {

const QDateTime Now(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);

class RecordingDelegate : public TDWAccessTokenDelegate
{
public:
    void accessTokenRetrieverReceivedAccessToken(TDWAccessTokenRetriever *, const QString &accessToken) override
    {
        outcomes << QStringLiteral("token:") + accessToken;
    }
    void accessTokenRetrieverEncounteredError(TDWAccessTokenRetriever *, const TDWError &error) override
    {
        outcomes << error.localizedDescription();
        scope = error.scope();
    }

    QStringList outcomes;
    std::optional<TDWError::Scope> scope;
};

class RecordingNotifier : public TDWLoginNotifier
{
public:
    void deliver(const Notice &notice) override { notices.push_back(notice); }
    std::vector<Notice> notices;
};

class TDWAccessTokenRetrieverTest : public tdwtest::FakeGoogleTest
{
protected:
    static void SetUpTestSuite()
    {
        startFake(QJsonObject{
            {QStringLiteral("token_lifetime"), 1800},
            {QStringLiteral("clients"), QJsonObject{{TDWGoogleEndpoints::clientId(), TDWGoogleEndpoints::clientSecret()}}},
            {QStringLiteral("accounts"),
             QJsonArray{QJsonObject{{QStringLiteral("email"), QStringLiteral("user@example.com")},
                                    {QStringLiteral("refresh_token"), QStringLiteral("rt-good")}}}}});
    }

    void SetUp() override
    {
        FakeGoogleTest::SetUp();
        real = std::make_shared<TDWFileKeyring>(tdwtest::freshDir(QStringLiteral("keyring")));
        keyring = std::make_shared<ScriptedKeyring>(real);
        TDWKeyring::setBackend(keyring);
        TDWLoginNotifier::setShared(&notifier);
        observer = TDWNotificationCenter::defaultCenter().addObserver(QStringLiteral("not_needs_auth_change"), [this](const TDWNotification &n) {
            posted << n.userInfo().value(QStringLiteral("accountUsername")).toString();
        });
        TDWClock::setNowProvider([] { return Now; });
    }

    void TearDown() override
    {
        TDWClock::setNowProvider({});
        TDWNotificationCenter::defaultCenter().removeObserver(observer);
        TDWLoginNotifier::setShared(nullptr);
        TDWKeyring::setBackend(nullptr);
    }

    // A user name of this test and tag alone: the keychain manager's cache lives for the whole process.
    static QString user(const QString &tag = QStringLiteral("user"))
    {
        const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
        return QStringLiteral("%1.%2@example.com").arg(QString::fromUtf8(test->name()), tag).toLower();
    }

    // Stores a credential item straight into the keyring, past the manager's cache.
    void storeItem(const QString &username, const QByteArray &text)
    {
        ASSERT_TRUE(real->store(TDWKeychainMgr::oauthServiceNameForUsername(username), username, text, nullptr));
    }

    QByteArray storedItem(const QString &username) const
    {
        QByteArray secret;
        real->find(TDWKeychainMgr::oauthServiceNameForUsername(username), username, &secret, nullptr);
        return secret;
    }

    static QJsonObject storedJson(const QByteArray &text) { return QJsonDocument::fromJson(text).object(); }

    QString refresh(const QString &username, bool notify = true)
    {
        RecordingDelegate delegate;
        TDWAccessTokenRetriever retriever(username, &delegate);
        if (!notify)
            retriever.dontNotifyIfFail();
        EXPECT_EQ(retriever.accountUsername(), username);
        retriever.start();
        EXPECT_TRUE(delegate.outcomes.isEmpty()); // never before start() returns
        EXPECT_TRUE(tdwtest::waitUntil([&] { return !delegate.outcomes.isEmpty(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(delegate.outcomes.size(), 1);
        lastScope = delegate.scope;
        return delegate.outcomes.value(0);
    }

    static QJsonObject fault(int status)
    {
        return {{QStringLiteral("path"), QStringLiteral("/o/oauth2/token")}, {QStringLiteral("status"), status}};
    }

    // Of the last refresh's error, if it failed.
    std::optional<TDWError::Scope> lastScope;
    std::shared_ptr<TDWFileKeyring> real;
    std::shared_ptr<ScriptedKeyring> keyring;
    RecordingNotifier notifier;
    QStringList posted;
    TDWNotificationCenter::Token observer = 0;
};

const QByteArray GoodItem = R"({"refreshToken":"rt-good","accessToken":"old","accessTokenExpires":"0.000000","serviceIds":["docs","mail"]})";

TEST_F(TDWAccessTokenRetrieverTest, RefreshSavesTheNewTokenWithItsExpiryAndClearsTheInvalidMark)
{
    storeItem(user(), R"({"refreshToken":"rt-good","serviceIds":["docs","mail"],"refreshTokenInvalid":true})");
    const QString outcome = refresh(user());
    ASSERT_TRUE(outcome.startsWith(QStringLiteral("token:"))) << outcome.toStdString();
    const QString token = outcome.mid(6);

    const auto credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(user());
    EXPECT_EQ(credential->accessToken(), token);
    EXPECT_EQ(credential->accessTokenExpires(), Now.addSecs(1800));
    EXPECT_FALSE(credential->refreshTokenInvalid());
    EXPECT_EQ(credential->refreshToken(), QStringLiteral("rt-good"));
    EXPECT_EQ(credential->serviceIds(), (QStringList{QStringLiteral("docs"), QStringLiteral("mail")}));
    const QJsonObject stored = storedJson(storedItem(user()));
    EXPECT_EQ(stored.value(QStringLiteral("accessToken")).toString(), token);
    EXPECT_FALSE(stored.contains(QStringLiteral("refreshTokenInvalid")));
    EXPECT_TRUE(notifier.notices.empty());

    // Counted as expired from a minute before the recorded expiry.
    for (const auto &[offset, expired] : {std::pair{-61, false}, {-59, true}, {0, true}}) {
        TDWClock::setNowProvider([offset] { return Now.addSecs(1800 + offset); });
        EXPECT_EQ(credential->accessTokenExpired(), expired) << offset;
    }
    TDWClock::setNowProvider([] { return Now; });

    // One POST, its refresh token in the body and never in the URL.
    const QJsonArray log = s_fake->requestsTo(QStringLiteral("/o/oauth2/token"));
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0][QStringLiteral("body")].toString().startsWith(QStringLiteral("refresh_token=rt-good&")));
    EXPECT_TRUE(log[0][QStringLiteral("query")].toString().isEmpty());
}

TEST_F(TDWAccessTokenRetrieverTest, OnlyARefusedGrantMarksTheCredentialAndTellsTheUser)
{
    const QString statusMessage = QStringLiteral("Received an unexpected status code (%1) when attempting to retrieve an access token.");
    const QString parseMessage = QStringLiteral("Unable to parse the authentication token response.");
    const struct {
        const char *tag;
        QJsonObject fault; // empty: the fake's own answer
        const char *refreshToken;
        bool marked;
        QString message;
    } cases[] = {
        {"grant", {}, "rt-revoked", true, statusMessage.arg(400)},
        {"client", QJsonObject{{"path", "/o/oauth2/token"}, {"status", 401}, {"error", "invalid_client"}}, "rt-good", true, statusMessage.arg(401)},
        {"request", QJsonObject{{"path", "/o/oauth2/token"}, {"status", 400}, {"error", "invalid_request"}}, "rt-good", false, statusMessage.arg(400)},
        {"bare401", fault(401), "rt-good", false, statusMessage.arg(401)},
        {"timeout", fault(408), "rt-good", false, statusMessage.arg(408)},
        {"throttled", QJsonObject{{"path", "/o/oauth2/token"}, {"status", 429}, {"retry_after", 30}}, "rt-good", false, statusMessage.arg(429)},
        {"server", fault(500), "rt-good", false, statusMessage.arg(500)},
        {"unavailable", fault(503), "rt-good", false, statusMessage.arg(503)},
        {"malformed", QJsonObject{{"path", "/o/oauth2/token"}, {"status", 200}, {"body", "{not json"}}, "rt-good", false, parseMessage},
        {"noexpiry", QJsonObject{{"path", "/o/oauth2/token"}, {"status", 200}, {"body", QJsonObject{{"access_token", "a"}, {"expires_in", 0}}}}, "rt-good", false, parseMessage},
    };
    for (const auto &c : cases) {
        const QString username = user(QString::fromLatin1(c.tag));
        QByteArray item = GoodItem;
        item.replace("rt-good", c.refreshToken);
        storeItem(username, item);
        if (!c.fault.isEmpty())
            s_fake->addFault(c.fault);
        notifier.notices.clear();
        posted.clear();
        tdwtest::LogCapture log;

        EXPECT_EQ(refresh(username), c.message) << c.tag;
        // Only a refused grant needs the user to sign in again; the rest may mend by themselves.
        EXPECT_EQ(lastScope == TDWError::Scope::SignIn, c.marked) << c.tag;
        const QJsonObject stored = storedJson(storedItem(username));
        if (c.marked) {
            EXPECT_TRUE(stored.value(QStringLiteral("refreshTokenInvalid")).toBool()) << c.tag;
            EXPECT_EQ(stored.value(QStringLiteral("refreshToken")).toString(), QLatin1String(c.refreshToken));
            ASSERT_EQ(notifier.notices.size(), 1u) << c.tag;
            const TDWLoginNotifier::Notice &notice = notifier.notices.front();
            EXPECT_EQ(notice.title, QStringLiteral("Login required"));
            EXPECT_EQ(notice.informativeText, QStringLiteral("Please log in to: ") + username);
            EXPECT_EQ(notice.actionButtonTitle, QStringLiteral("Log in…"));
            EXPECT_EQ(notice.userInfo, (QVariantMap{{QStringLiteral("notificationType"), QStringLiteral("loginrequired")},
                                                    {QStringLiteral("accountUsername"), username}}));
            EXPECT_EQ(posted, QStringList{username});
        } else {
            EXPECT_EQ(storedItem(username), item) << c.tag;
            EXPECT_TRUE(notifier.notices.empty()) << c.tag;
            EXPECT_TRUE(posted.isEmpty()) << c.tag;
        }
        if (c.message != parseMessage) {
            EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unexpected status code (%1) when renewing access token -- text: ")
                                         .arg(c.message.mid(c.message.indexOf(QLatin1Char('(')) + 1, 3))))
                << c.tag;
        }
    }
}

TEST_F(TDWAccessTokenRetrieverTest, TwoRefusalsInARowNotifyOnce)
{
    storeItem(user(), QByteArray(GoodItem).replace("rt-good", "rt-revoked"));
    const QString message = QStringLiteral("Received an unexpected status code (400) when attempting to retrieve an access token.");
    EXPECT_EQ(refresh(user()), message);
    EXPECT_EQ(refresh(user()), message);
    EXPECT_EQ(notifier.notices.size(), 1u);
    EXPECT_EQ(posted.size(), 1);
}

TEST_F(TDWAccessTokenRetrieverTest, ARefusalWithoutNotificationsStillMarksTheCredential)
{
    storeItem(user(), QByteArray(GoodItem).replace("rt-good", "rt-revoked"));
    refresh(user(), false);
    EXPECT_TRUE(storedJson(storedItem(user())).value(QStringLiteral("refreshTokenInvalid")).toBool());
    EXPECT_TRUE(notifier.notices.empty());
    EXPECT_TRUE(posted.isEmpty());
}

TEST_F(TDWAccessTokenRetrieverTest, MissingCredentialOrRefreshTokenLeavesOnlyTheInvalidMark)
{
    const QJsonObject onlyMark{{QStringLiteral("refreshTokenInvalid"), true}};
    EXPECT_EQ(refresh(user(QStringLiteral("none"))), QStringLiteral("Did not find a refresh token."));
    EXPECT_EQ(storedJson(storedItem(user(QStringLiteral("none")))), onlyMark);
    EXPECT_EQ(notifier.notices.size(), 1u);
    EXPECT_EQ(posted, QStringList{user(QStringLiteral("none"))});

    // A credential without a refresh token is rewritten, but brings no notice.
    storeItem(user(QStringLiteral("norefresh")), R"({"accessToken":"a","serviceIds":["docs"]})");
    EXPECT_EQ(refresh(user(QStringLiteral("norefresh"))), QStringLiteral("Did not find a refresh token."));
    EXPECT_EQ(storedJson(storedItem(user(QStringLiteral("norefresh")))), onlyMark);
    EXPECT_EQ(notifier.notices.size(), 1u);
    EXPECT_TRUE(s_fake->requestsTo(QStringLiteral("/o/oauth2/token")).isEmpty());
}

TEST_F(TDWAccessTokenRetrieverTest, AKeyringThatCannotBeReadIsNeverTakenForAMissingCredential)
{
    const QString locked = user(QStringLiteral("locked"));
    storeItem(locked, GoodItem);
    keyring->unavailable = true;
    EXPECT_EQ(refresh(locked), QStringLiteral("Unable to read the account's credential from the keyring."));
    keyring->unavailable = false;
    EXPECT_EQ(storedItem(locked), GoodItem);

    const QString garbled = user(QStringLiteral("garbled"));
    storeItem(garbled, "not a credential");
    EXPECT_EQ(refresh(garbled), QStringLiteral("Unable to read the account's credential from the keyring."));
    EXPECT_EQ(storedItem(garbled), QByteArray("not a credential"));

    EXPECT_TRUE(notifier.notices.empty());
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_TRUE(s_fake->requestsTo(QStringLiteral("/o/oauth2/token")).isEmpty());
}

TEST_F(TDWAccessTokenRetrieverTest, FailuresToReachOrSaveAreReportedAndTheItemIsKept)
{
    const QString dropped = user(QStringLiteral("dropped"));
    storeItem(dropped, GoodItem);
    s_fake->addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/o/oauth2/token")}, {QStringLiteral("drop"), true}});
    EXPECT_TRUE(refresh(dropped).startsWith(QStringLiteral("The request to get an authentication token failed: The network connection was lost.")));
    EXPECT_EQ(storedItem(dropped), GoodItem);

    const QString unsaved = user(QStringLiteral("unsaved"));
    storeItem(unsaved, GoodItem);
    keyring->refuseStores = true;
    EXPECT_EQ(refresh(unsaved), QStringLiteral("Error saving the credential to the keychain."));
    keyring->refuseStores = false;
    EXPECT_EQ(storedItem(unsaved), GoodItem);
}

} // namespace
