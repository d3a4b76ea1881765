#include "accounts/TDWGoogleEndpoints.h"

#include "accounts/TDWOAuthAuthorization.h"
#include "platform/foundation/TDWUserDefaults.h"

#include "TestSupport.h"

#include <QUrlQuery>

#include <gtest/gtest.h>

TEST(TDWGoogleEndpoints, ComeFromTheServiceTableAndTheUserMayBringTheirOwnClient)
{
    EXPECT_EQ(TDWGoogleEndpoints::tokenEndpoint(), QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/token")));
    EXPECT_EQ(TDWGoogleEndpoints::accountsHost(), QStringLiteral("accounts.google.com"));
    EXPECT_EQ(TDWGoogleEndpoints::apisHost(), QStringLiteral("www.googleapis.com"));
    const QString shipped = TDWGoogleEndpoints::clientId();
    EXPECT_TRUE(shipped.endsWith(QStringLiteral(".apps.googleusercontent.com")));

    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    defaults->setString(QStringLiteral("own-client.apps.googleusercontent.com"), QStringLiteral("OAuthClientId"));
    defaults->setString(QStringLiteral("own-secret"), QStringLiteral("OAuthClientSecret"));
    EXPECT_EQ(TDWGoogleEndpoints::clientId(), QStringLiteral("own-client.apps.googleusercontent.com"));
    EXPECT_EQ(TDWGoogleEndpoints::clientSecret(), QStringLiteral("own-secret"));

    defaults->removeObjectForKey(QStringLiteral("OAuthClientId"));
    defaults->removeObjectForKey(QStringLiteral("OAuthClientSecret"));
    EXPECT_EQ(TDWGoogleEndpoints::clientId(), shipped);
}

TEST(TDWGoogleEndpoints, TheDemoSendsTheBrowserToALocalConsentPage)
{
    const QUrl shipped(QStringLiteral("https://accounts.google.com/o/oauth2/auth"));
    const struct {
        const char *value;
        const char *endpoint; // null: the value is ignored
    } cases[] = {
        {"http://127.0.0.1:4711/o/oauth2/auth", "http://127.0.0.1:4711/o/oauth2/auth"},
        {"http://[::1]:4711/o/oauth2/auth", "http://[::1]:4711/o/oauth2/auth"},
        {"https://accounts.example.org/o/oauth2/auth", "https://accounts.example.org/o/oauth2/auth"},
        // A browser may never be sent over plain http to another machine.
        {"http://accounts.example.org/o/oauth2/auth", nullptr},
        {"http://localhost.example.org:4711/auth", nullptr},
        {"ftp://127.0.0.1/auth", nullptr},
        {"127.0.0.1:4711", nullptr},
        {"http:///o/oauth2/auth", nullptr},
        {"http://127.0.0.1:99999/auth", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        qputenv("TDW_AUTHORIZATION_URL", c.value);
        tdwtest::LogCapture log;
        EXPECT_EQ(TDWGoogleEndpoints::authorizationEndpoint().toString().toStdString(),
                  (c.endpoint ? QUrl(QString::fromLatin1(c.endpoint)) : shipped).toString().toStdString());
        EXPECT_EQ(log.contains(QStringLiteral("Ignoring the authorization URL")), c.endpoint == nullptr);
        // Google's own hosts stay what the service table says.
        EXPECT_EQ(TDWGoogleEndpoints::accountsHost(), QStringLiteral("accounts.google.com"));
        EXPECT_EQ(TDWGoogleEndpoints::tokenEndpoint(), QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/token")));
    }

    // The consent request keeps the local page's address and carries the whole query.
    qputenv("TDW_AUTHORIZATION_URL", "http://127.0.0.1:4711/o/oauth2/auth");
    const QUrl request = TDWOAuthAuthorization(QStringLiteral("http://127.0.0.1:5000/")).url(QStringLiteral("a@example.com"), {});
    EXPECT_EQ(request.adjusted(QUrl::RemoveQuery), QUrl(QStringLiteral("http://127.0.0.1:4711/o/oauth2/auth")));
    EXPECT_EQ(QUrlQuery(request).queryItemValue(QStringLiteral("client_id")), TDWGoogleEndpoints::clientId());

    qunsetenv("TDW_AUTHORIZATION_URL");
    EXPECT_EQ(TDWGoogleEndpoints::authorizationEndpoint(), shipped);
}
