#include "accounts/TDWCredential.h"

#include "platform/foundation/TDWClock.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QDateTime ReferenceDate(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
const QDateTime NewYear2014(QDate(2014, 1, 1), QTime(0, 0), Qt::UTC);

// Key order in the text is free, so texts are compared as objects.
QJsonObject objectOf(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}

TEST(TDWCredentialTest, StoredFormHoldsOnlyTheValuesThatAreSet)
{
    const struct {
        const char *what;
        std::function<void(TDWCredential &)> fill;
        const char *expected;
    } cases[] = {
        {"nothing set", [](TDWCredential &) {}, "{}"},
        {"only the invalid mark", [](TDWCredential &c) { c.setRefreshTokenInvalid(true); }, R"({"refreshTokenInvalid": true})"},
        {"a valid refresh token has no invalid key",
         [](TDWCredential &c) {
             c.setRefreshToken(QStringLiteral("1//r"));
             c.setRefreshTokenInvalid(false);
         },
         R"({"refreshToken": "1//r"})"},
        {"everything",
         [](TDWCredential &c) {
             c.setRefreshToken(QStringLiteral("1//r"));
             c.setAccessToken(QStringLiteral("ya29.a"));
             c.setAccessTokenExpires(NewYear2014);
             c.setServiceIds({QStringLiteral("mail"), QStringLiteral("docs")});
             c.setRefreshTokenInvalid(true);
         },
         R"({"refreshToken": "1//r", "accessToken": "ya29.a", "accessTokenExpires": "410227200.000000",
             "serviceIds": ["mail", "docs"], "refreshTokenInvalid": true})"},
        {"an expiry between seconds",
         [](TDWCredential &c) { c.setAccessTokenExpires(NewYear2014.addMSecs(-1250)); }, R"({"accessTokenExpires": "410227198.750000"})"},
        {"an expiry before the reference date",
         [](TDWCredential &c) { c.setAccessTokenExpires(ReferenceDate.addSecs(-30)); }, R"({"accessTokenExpires": "-30.000000"})"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TDWCredential credential;
        c.fill(credential);
        EXPECT_EQ(objectOf(credential.jsonText()), objectOf(c.expected)) << credential.jsonText().toStdString();
    }
    // The service ids keep their order.
    TDWCredential ordered;
    ordered.setServiceIds({QStringLiteral("mail"), QStringLiteral("docs"), QStringLiteral("contacts")});
    EXPECT_EQ(ordered.jsonText(), QByteArray(R"({"serviceIds":["mail","docs","contacts"]})"));
}

TEST(TDWCredentialTest, ReadsTheStoredForm)
{
    const struct {
        const char *what;
        QByteArray text;
        QString refreshToken;
        QString accessToken;
        QDateTime expires;
        QStringList serviceIds;
        bool invalid;
    } cases[] = {
        {"only the invalid mark", R"({"refreshTokenInvalid": true})", {}, {}, ReferenceDate, {}, true},
        {"everything", R"({"refreshToken": "1//r", "accessToken": "ya29.a", "accessTokenExpires": "410227200.000000",
                           "serviceIds": ["docs", "mail"]})",
         QStringLiteral("1//r"), QStringLiteral("ya29.a"), NewYear2014, {QStringLiteral("docs"), QStringLiteral("mail")}, false},
        {"an expiry written as a number", R"({"accessTokenExpires": 410227200.5})", {}, {}, NewYear2014.addMSecs(500), {}, false},
        {"an expiry that is not a number", R"({"accessTokenExpires": "soon"})", {}, {}, ReferenceDate, {}, false},
        {"an expiry beyond any date", R"({"accessTokenExpires": "1e300"})", {}, {}, ReferenceDate, {}, false},
        {"the invalid mark written false", R"({"refreshTokenInvalid": false})", {}, {}, ReferenceDate, {}, false},
        {"values of the wrong type", R"({"refreshToken": 5, "accessToken": null, "serviceIds": ["docs", 3], "refreshTokenInvalid": "yes"})",
         {}, {}, ReferenceDate, {QStringLiteral("docs")}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const auto credential = TDWCredential::fromJsonText(c.text);
        ASSERT_NE(credential, nullptr);
        EXPECT_EQ(credential->refreshToken(), c.refreshToken);
        EXPECT_EQ(credential->refreshToken().isNull(), c.refreshToken.isNull());
        EXPECT_EQ(credential->accessToken(), c.accessToken);
        EXPECT_EQ(credential->accessTokenExpires(), c.expires);
        EXPECT_EQ(credential->serviceIds(), c.serviceIds);
        EXPECT_EQ(credential->refreshTokenInvalid(), c.invalid);
    }
}

TEST(TDWCredentialTest, TextThatIsNotAnObjectIsNoCredential)
{
    for (const QByteArray &text : {QByteArray("[\"refreshToken\"]"), QByteArray("\"text\""), QByteArray("{\"refreshToken\":"), QByteArray()}) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(TDWCredential::fromJsonText(text), nullptr);
    }
}

TEST(TDWCredentialTest, ExpiryTextSurvivesARoundTrip)
{
    const auto credential = TDWCredential::fromJsonText(R"({"accessTokenExpires": "410227200.000000"})");
    ASSERT_NE(credential, nullptr);
    EXPECT_EQ(credential->accessTokenExpires(), NewYear2014);
    EXPECT_EQ(credential->jsonText(), QByteArray(R"({"accessTokenExpires":"410227200.000000"})"));
}

class TDWCredentialExpiryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TDWClock::setNowProvider([] { return Now; });
    }
    void TearDown() override { TDWClock::setNowProvider({}); }
    static inline const QDateTime Now = QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9), Qt::UTC);
};

TEST_F(TDWCredentialExpiryTest, TokenExpiresAMinuteBeforeItsRecordedExpiry)
{
    const struct {
        int expiresInSeconds;
        bool expired;
    } cases[] = {
        {-61, true}, {-59, true}, {0, true}, {59, true}, {60, true}, {61, false}, {3600, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expiresInSeconds);
        TDWCredential credential;
        credential.setAccessTokenExpires(Now.addSecs(c.expiresInSeconds));
        EXPECT_EQ(credential.accessTokenExpired(), c.expired);
    }
    TDWCredential withoutExpiry;
    EXPECT_FALSE(withoutExpiry.accessTokenExpired());
}

TEST(TDWCredentialTest, ValidForServiceIdsNeedsEveryId)
{
    const QStringList granted = {QStringLiteral("docs"), QStringLiteral("mail")};
    const struct {
        QStringList granted;
        QStringList asked;
        bool valid;
    } cases[] = {
        {granted, {}, true},
        {granted, {QStringLiteral("docs")}, true},
        {granted, {QStringLiteral("mail"), QStringLiteral("docs")}, true},
        {granted, {QStringLiteral("calendar")}, false},
        {granted, {QStringLiteral("docs"), QStringLiteral("calendar")}, false},
        {{}, {}, true},
        {{}, {QStringLiteral("docs")}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.asked.join(QLatin1Char(',')).toStdString() + " of " + c.granted.join(QLatin1Char(',')).toStdString());
        TDWCredential credential;
        credential.setServiceIds(c.granted);
        EXPECT_EQ(credential.validForServiceIds(c.asked), c.valid);
    }
}

} // namespace
