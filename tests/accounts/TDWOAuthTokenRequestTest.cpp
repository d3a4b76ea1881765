#include "accounts/TDWOAuthTokenRequest.h"

#include "accounts/TDWGoogleEndpoints.h"
#include "accounts/TDWOAuthTokenResponse.h"
#include "platform/http/TDWHttpClient.h"

#include "FakeGoogleServer.h"

#include <gtest/gtest.h>

TEST(TDWOAuthTokenRequest, FormValuesEscapeEveryReservedCharacter)
{
    EXPECT_EQ(TDWOAuthTokenRequest::formValue(QStringLiteral("aZ09-._~")), QByteArray("aZ09-._~"));
    EXPECT_EQ(TDWOAuthTokenRequest::formValue(QStringLiteral("!*'();:@&=+$,/?%#[] ")),
              QByteArray("%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D%20"));
    EXPECT_EQ(TDWOAuthTokenRequest::formValue(QStringLiteral("é")), QByteArray("%C3%A9"));
}

TEST(TDWOAuthTokenRequest, RefreshGrantIsAcceptedByTheTokenEndpoint)
{
    const QString refreshToken = QStringLiteral("1//a+b/c&d=e é");
    tdwtest::FakeGoogleServer fake;
    ASSERT_TRUE(fake.start(QJsonObject{
        {QStringLiteral("clients"), QJsonObject{{TDWGoogleEndpoints::clientId(), TDWGoogleEndpoints::clientSecret()}}},
        {QStringLiteral("accounts"),
         QJsonArray{QJsonObject{{QStringLiteral("email"), QStringLiteral("user@example.com")}, {QStringLiteral("refresh_token"), refreshToken}}}}}));

    const TDWHttpRequest request = TDWOAuthTokenRequest::forRefreshToken(refreshToken);
    EXPECT_EQ(request.url(), QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/token")));
    EXPECT_EQ(request.idleTimeout(), std::chrono::seconds(60));
    const TDWOAuthTokenResponse answer = TDWOAuthTokenResponse::fromHttp(TDWHttpClient().perform(request));
    EXPECT_TRUE(answer.hasAccessToken()) << answer.statusCode() << " " << answer.error().toStdString();
    EXPECT_EQ(answer.expiresIn(), 3600);

    const QJsonArray log = fake.requestsTo(QStringLiteral("/o/oauth2/token"));
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0][QStringLiteral("method")].toString(), QStringLiteral("POST"));
    EXPECT_TRUE(log[0][QStringLiteral("body")].toString().endsWith(QStringLiteral("&grant_type=refresh_token")));
    EXPECT_TRUE(log[0][QStringLiteral("headers")][QStringLiteral("cookie")].isUndefined());
}
