#include "accounts/TDWGoogleEndpoints.h"

#include "platform/foundation/TDWUserDefaults.h"

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
