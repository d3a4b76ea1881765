#include "accounts/TDWOAuthSignIn.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWGoogleEndpoints.h"
#include "accounts/TDWKeychainMgr.h"
#include "accounts/TDWSignInError.h"
#include "app/TDWRegisterClasses.h"
#include "platform/http/TDWHttpError.h"
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"

#include "FakeGoogleTest.h"
#include "ScriptedKeyring.h"
#include "TestBrowser.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QUrlQuery>

#include <gtest/gtest.h>


using namespace std::chrono_literals;

namespace {

using tdwtest::TestBrowser;
using tdwtest::Visit;

class TDWOAuthSignInTest : public tdwtest::FakeGoogleTest
{
protected:
    static void SetUpTestSuite()
    {
        TDWRegisterClasses();
        // Listing the client makes the fake check the client identity and secret.
        startFake(QJsonObject{
            {QStringLiteral("clients"), QJsonObject{{TDWGoogleEndpoints::clientId(), TDWGoogleEndpoints::clientSecret()}}}});
    }

    void SetUp() override
    {
        FakeGoogleTest::SetUp();
        keyring = std::make_shared<TDWFileKeyring>(tdwtest::freshDir(QStringLiteral("keyring")));
        TDWKeyring::setBackend(keyring);
        newSignIn();
    }

    void TearDown() override
    {
        signIn.reset();
        TDWKeyring::setBackend(nullptr);
    }

    // A user name of this test alone: the keychain manager's cache lives for the whole process.
    static QString user()
    {
        return QStringLiteral("%1@example.com").arg(QString::fromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name())).toLower();
    }

    // A fresh attempt for the contacts service, its browser recorded in `opened`.
    void newSignIn()
    {
        opened.clear();
        outcomes.clear();
        signIn = std::make_unique<TDWOAuthSignIn>(user(), QStringList{QStringLiteral("contacts")});
        signIn->setUrlOpener([this](const QUrl &url) {
            opened << url;
            return true;
        });
    }

    void start()
    {
        signIn->start([this](const TDWError &error) { outcomes.push_back(error); });
        EXPECT_TRUE(outcomes.empty()); // never within start()
        ASSERT_EQ(opened.size(), 1);
    }

    // The outcome, once the sign-in has told it; checks that it is told once.
    TDWError outcome()
    {
        EXPECT_TRUE(tdwtest::waitUntil([&] { return !outcomes.empty(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(outcomes.size(), 1u);
        return outcomes.empty() ? TDWError(QStringLiteral("none"), 0) : outcomes.front();
    }

    QByteArray storedCredential() const
    {
        QByteArray secret;
        keyring->find(TDWKeychainMgr::oauthServiceNameForUsername(user()), user(), &secret, nullptr);
        return secret;
    }

    static void expectRefused(const Visit &visit)
    {
        EXPECT_EQ(visit.error.domain(), TDWHttpError::Domain);
        EXPECT_EQ(visit.error.code(), TDWHttpError::Connect) << visit.error.description().toStdString();
    }

    std::shared_ptr<TDWFileKeyring> keyring;
    std::unique_ptr<TDWOAuthSignIn> signIn;
    QList<QUrl> opened;
    std::vector<TDWError> outcomes;
};

TEST_F(TDWOAuthSignInTest, AllowSavesTheCredentialAfterTheAccountCheckAndPreflight)
{
    // The user is done once the code arrives: told once, before the outcome.
    int codesBeforeOutcome = -1;
    int codes = 0;
    QObject::connect(signIn.get(), &TDWOAuthSignIn::codeReceived, [&] { ++codes; });
    signIn->start([&](const TDWError &error) {
        codesBeforeOutcome = codes;
        outcomes.push_back(error);
    });
    ASSERT_EQ(opened.size(), 1);
    const QUrlQuery authorization(opened[0]);
    const QUrl redirectUri(authorization.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
    EXPECT_EQ(redirectUri.scheme(), QStringLiteral("http"));
    EXPECT_EQ(redirectUri.host(), QStringLiteral("127.0.0.1"));
    EXPECT_GT(redirectUri.port(), 0);
    EXPECT_EQ(authorization.queryItemValue(QStringLiteral("client_id"), QUrl::FullyDecoded), TDWGoogleEndpoints::clientId());
    EXPECT_EQ(authorization.queryItemValue(QStringLiteral("login_hint"), QUrl::FullyDecoded), user());
    EXPECT_EQ(authorization.queryItemValue(QStringLiteral("code_challenge_method")), QStringLiteral("S256"));
    EXPECT_EQ(authorization.queryItemValue(QStringLiteral("scope"), QUrl::FullyDecoded),
              QStringLiteral("https://www.googleapis.com/auth/userinfo.profile https://www.googleapis.com/auth/userinfo.email "
                             "https://www.google.com/m8/feeds"));

    // A request that is not the redirect leaves the listener waiting.
    QUrl favicon = redirectUri;
    favicon.setPath(QStringLiteral("/favicon.ico"));
    EXPECT_EQ(TestBrowser::visit(favicon).response.statusCode(), 404);

    const Visit page = TestBrowser::visit(TestBrowser::consent(opened[0], QStringLiteral("allow")));
    EXPECT_TRUE(page.error.isNull());
    EXPECT_EQ(page.response.statusCode(), 200);
    EXPECT_TRUE(page.response.body().contains("You can close this window")) << page.response.body().constData();

    const TDWError error = outcome();
    EXPECT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_EQ(codesBeforeOutcome, 1);

    // The fake took the verifier against the challenge and the same redirect URI.
    const QJsonArray tokenRequests = s_fake->requestsTo(QStringLiteral("/o/oauth2/token"));
    ASSERT_EQ(tokenRequests.size(), 1);
    const QUrlQuery form(tokenRequests[0][QStringLiteral("body")].toString());
    EXPECT_EQ(form.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded), redirectUri.toString());
    EXPECT_EQ(form.queryItemValue(QStringLiteral("code_verifier")).size(), 43);
    EXPECT_EQ(s_fake->requestsTo(QStringLiteral("/m8/feeds/contacts/default/full")).size(), 1);

    const auto stored = TDWCredential::fromJsonText(storedCredential());
    ASSERT_TRUE(stored);
    EXPECT_FALSE(stored->refreshToken().isEmpty());
    EXPECT_FALSE(stored->accessTokenExpired());
    EXPECT_EQ(stored->serviceIds(), QStringList{QStringLiteral("contacts")});
}

TEST_F(TDWOAuthSignInTest, EachAttemptHasItsOwnStateAndVerifier)
{
    start();
    TDWOAuthSignIn other(user(), {});
    QList<QUrl> otherOpened;
    other.setUrlOpener([&](const QUrl &url) {
        otherOpened << url;
        return true;
    });
    other.start([](const TDWError &) {});
    ASSERT_EQ(otherOpened.size(), 1);
    for (const char *key : {"state", "code_challenge", "redirect_uri"}) {
        const QString mine = QUrlQuery(opened[0]).queryItemValue(QLatin1String(key));
        EXPECT_GE(mine.size(), 20) << key;
        EXPECT_NE(mine, QUrlQuery(otherOpened[0]).queryItemValue(QLatin1String(key))) << key;
    }
}

TEST_F(TDWOAuthSignInTest, DenyFailsWithTheRefusalAndSavesNothing)
{
    int codes = 0;
    QObject::connect(signIn.get(), &TDWOAuthSignIn::codeReceived, [&] { ++codes; });
    start();
    const Visit page = TestBrowser::visit(TestBrowser::consent(opened[0], QStringLiteral("deny")));
    EXPECT_EQ(page.response.statusCode(), 200);
    const TDWError error = outcome();
    EXPECT_EQ(error.code(), TDWSignInError::Refused);
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Access to the account was denied."));
    EXPECT_TRUE(s_fake->requestsTo(QStringLiteral("/o/oauth2/token")).isEmpty());
    EXPECT_EQ(codes, 0);
    EXPECT_TRUE(storedCredential().isEmpty());
}

TEST_F(TDWOAuthSignInTest, EachRefusalInTheRedirectHasItsMessage)
{
    const struct {
        const char *query;
        const char *message;
    } cases[] = {
        {"error=access_denied", "Access to the account was denied."},
        {"error=invalid_user", "The account email address (%1) was not recognized by Google."},
        {"error=server_error", "Google returned the error code “server_error”."},
        {"code=", "No authentication code or error was returned from Google."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.query);
        newSignIn();
        start();
        const QUrlQuery authorization(opened[0]);
        QUrl redirect(authorization.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
        redirect.setQuery(QString::fromLatin1(c.query) + QStringLiteral("&state=")
                          + authorization.queryItemValue(QStringLiteral("state"), QUrl::FullyEncoded));
        EXPECT_EQ(TestBrowser::visit(redirect).response.statusCode(), 200);
        const TDWError error = outcome();
        EXPECT_EQ(error.code(), TDWSignInError::Refused);
        const QString message = QString::fromUtf8(c.message);
        EXPECT_EQ(error.localizedDescription(), message.contains(QLatin1String("%1")) ? message.arg(user()) : message);
    }
}

TEST_F(TDWOAuthSignInTest, ABrowserThatDoesNotOpenFailsTheSignIn)
{
    signIn->setUrlOpener([](const QUrl &) { return false; });
    signIn->start([this](const TDWError &error) { outcomes.push_back(error); });
    EXPECT_TRUE(outcomes.empty());
    const TDWError error = outcome();
    EXPECT_EQ(error.code(), TDWSignInError::PageFailed);
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Error loading Google authentication page: The web browser could not be opened."));
}

// Any local program or web page can send the browser to the listener: a redirect without this
// attempt's state gets an error page, its code is never exchanged, and the sign-in goes on to
// take the real one.
TEST_F(TDWOAuthSignInTest, ARedirectWithAnotherStateIsRefusedAndTheSignInStillCompletes)
{
    start();
    const QUrl real = TestBrowser::consent(opened[0], QStringLiteral("allow"));
    for (const QString &state : {QStringLiteral("x"), QString()}) {
        SCOPED_TRACE(state.isNull() ? "no state" : "state x");
        QUrl forged = real;
        QUrlQuery query(forged);
        query.removeQueryItem(QStringLiteral("state"));
        query.removeQueryItem(QStringLiteral("code"));
        query.addQueryItem(QStringLiteral("code"), QStringLiteral("forged"));
        if (!state.isNull())
            query.addQueryItem(QStringLiteral("state"), state);
        forged.setQuery(query);
        const Visit page = TestBrowser::visit(forged);
        EXPECT_EQ(page.response.statusCode(), 400);
        EXPECT_TRUE(page.response.body().contains("does not belong to the sign-in in progress")) << page.response.body().constData();
        EXPECT_FALSE(page.response.body().contains("You can close this window"));
    }
    // An error sent in place of the answer cannot end the sign-in either.
    QUrl denied = real;
    denied.setQuery(QStringLiteral("error=access_denied&state=y"));
    EXPECT_EQ(TestBrowser::visit(denied).response.statusCode(), 400);
    QCoreApplication::processEvents();
    EXPECT_TRUE(outcomes.empty());

    const Visit page = TestBrowser::visit(real);
    EXPECT_EQ(page.response.statusCode(), 200);
    EXPECT_TRUE(page.response.body().contains("You can close this window"));
    const TDWError error = outcome();
    EXPECT_TRUE(error.isNull()) << error.description().toStdString();
    const QJsonArray tokenRequests = s_fake->requestsTo(QStringLiteral("/o/oauth2/token"));
    ASSERT_EQ(tokenRequests.size(), 1);
    EXPECT_NE(QUrlQuery(tokenRequests[0][QStringLiteral("body")].toString()).queryItemValue(QStringLiteral("code")), QStringLiteral("forged"));
    EXPECT_FALSE(storedCredential().isEmpty());
}

// A forged redirect does not hold the wait open beyond its time either.
TEST_F(TDWOAuthSignInTest, ARefusedRedirectLeavesTheTimeOutRunning)
{
    signIn->setTimeout(1500ms);
    start();
    QUrl forged(QUrlQuery(opened[0]).queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
    forged.setQuery(QStringLiteral("code=forged&state=x"));
    EXPECT_EQ(TestBrowser::visit(forged).response.statusCode(), 400);
    const TDWError error = outcome();
    EXPECT_EQ(error.code(), TDWSignInError::TimedOut);
    EXPECT_TRUE(s_fake->requestsTo(QStringLiteral("/o/oauth2/token")).isEmpty());
}

TEST_F(TDWOAuthSignInTest, ASecondRedirectIsRefused)
{
    // The listener stops at the first redirect, while the code exchange still runs.
    s_fake->addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/o/oauth2/token")},
                                 {QStringLiteral("status"), 503},
                                 {QStringLiteral("stall"), 0.3}});
    start();
    const QUrl redirect = TestBrowser::consent(opened[0], QStringLiteral("allow"));
    EXPECT_EQ(TestBrowser::visit(redirect).response.statusCode(), 200);
    expectRefused(TestBrowser::visit(redirect));
    const TDWError error = outcome();
    EXPECT_EQ(error.code(), TDWSignInError::TokenFailed);
    EXPECT_EQ(error.localizedDescription(),
              QStringLiteral("Received an unexpected status code (503) when attempting to retrieve an authentication token."));

    // After the outcome too, a redirect finds no listener and changes nothing.
    expectRefused(TestBrowser::visit(redirect));
    QCoreApplication::processEvents();
    EXPECT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(s_fake->requestsTo(QStringLiteral("/o/oauth2/token")).size(), 1);
}

TEST_F(TDWOAuthSignInTest, NoRedirectInTimeFailsAndStopsListening)
{
    signIn->setTimeout(50ms);
    start();
    const TDWError error = outcome();
    EXPECT_EQ(error.code(), TDWSignInError::TimedOut);
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("No authentication code or error was returned from Google."));
    expectRefused(TestBrowser::visit(TestBrowser::consent(opened[0], QStringLiteral("allow"))));
    EXPECT_TRUE(s_fake->requestsTo(QStringLiteral("/o/oauth2/token")).isEmpty());
}

TEST_F(TDWOAuthSignInTest, CancelStopsEveryStepWithoutAnOutcome)
{
    // Before the redirect: the listener is gone.
    start();
    signIn->cancel();
    expectRefused(TestBrowser::visit(TestBrowser::consent(opened[0], QStringLiteral("allow"))));

    // During the code exchange: the answer that comes later is dropped.
    newSignIn();
    // A good answer, late: were it taken, the account check would pass and the credential be saved.
    s_fake->addAccount(QJsonObject{{QStringLiteral("email"), user()}, {QStringLiteral("access_token"), QStringLiteral("at-late")}});
    s_fake->addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/o/oauth2/token")},
                                 {QStringLiteral("body"),
                                  QJsonObject{{QStringLiteral("access_token"), QStringLiteral("at-late")},
                                              {QStringLiteral("refresh_token"), QStringLiteral("rt-late")},
                                              {QStringLiteral("expires_in"), 3600}}},
                                 {QStringLiteral("stall"), 0.3}});
    start();
    EXPECT_EQ(TestBrowser::visit(TestBrowser::consent(opened[0], QStringLiteral("allow"))).response.statusCode(), 200);
    EXPECT_TRUE(tdwtest::waitUntil([] { return !s_fake->requestsTo(QStringLiteral("/o/oauth2/token")).isEmpty(); }));
    signIn->cancel();
    tdwtest::waitUntil([] { return false; }, 1s); // the stalled answer arrives meanwhile
    EXPECT_TRUE(outcomes.empty());
    EXPECT_TRUE(s_fake->requestsTo(QStringLiteral("/userinfo/email")).isEmpty());
    EXPECT_TRUE(storedCredential().isEmpty());
}

TEST_F(TDWOAuthSignInTest, AnotherAuthorizedAccountIsNotSaved)
{
    s_fake->control(QStringLiteral("scenario"),
                    QJsonDocument(QJsonObject{
                        {QStringLiteral("clients"), QJsonObject{{TDWGoogleEndpoints::clientId(), TDWGoogleEndpoints::clientSecret()}}},
                        {QStringLiteral("sign_in_as"), QStringLiteral("other@example.com")}}));
    start();
    TestBrowser::visit(TestBrowser::consent(opened[0], QStringLiteral("allow")));
    const TDWError error = outcome();
    EXPECT_EQ(error.code(), TDWSignInError::AccountFailed);
    EXPECT_EQ(error.localizedDescription(),
              QStringLiteral("The account email address above (%1) does not match that of the authorized account (other@example.com).").arg(user()));
    EXPECT_TRUE(storedCredential().isEmpty());
}

} // namespace
