#include "accounts/TDWOAuthTokenResponse.h"

#include "platform/json/TDWJsonReader.h"

#include <gtest/gtest.h>

TEST(TDWOAuthTokenResponse, OnlyARefusedGrantCountsAsRefusedAndOnlyACompleteAnswerAsATokenAnswer)
{
    const struct {
        int status;
        const char *body;
        bool hasAccessToken;
        bool grantRefused;
        qint64 expiresIn;
    } cases[] = {
        {200, R"({"access_token":"a","expires_in":3600,"token_type":"Bearer"})", true, false, 3600},
        {200, R"({"access_token":"a","expires_in":"120"})", true, false, 120},
        {200, R"({"access_token":"a","expires_in":0})", false, false, 0},
        {200, R"({"access_token":"a","expires_in":-5})", false, false, 0},
        {200, R"({"access_token":"a"})", false, false, 0},
        {200, R"({"access_token":7,"expires_in":3600})", false, false, 0},
        {200, R"({"expires_in":3600})", false, false, 3600},
        {200, R"([{"access_token":"a","expires_in":3600}])", false, false, 0},
        {200, "{not json", false, false, 0},
        {201, R"({"access_token":"a","expires_in":3600})", false, false, 3600},
        {400, R"({"error":"invalid_grant","error_description":"Token has been expired or revoked."})", false, true, 0},
        {401, R"({"error":"invalid_client"})", false, true, 0},
        {401, R"({"error":"invalid_grant"})", false, true, 0},
        {400, R"({"error":"invalid_request"})", false, false, 0},
        {400, R"({"error":"unsupported_grant_type"})", false, false, 0},
        {401, "", false, false, 0},
        {403, R"({"error":"invalid_grant"})", false, false, 0},
        {408, R"({"error":"invalid_grant"})", false, false, 0},
        {429, R"({"error":"rate_limit_exceeded"})", false, false, 0},
        {500, R"({"error":"invalid_grant"})", false, false, 0},
    };
    for (const auto &c : cases) {
        const TDWOAuthTokenResponse answer = TDWOAuthTokenResponse::fromBody(c.status, QByteArray(c.body));
        EXPECT_EQ(answer.hasAccessToken(), c.hasAccessToken) << c.status << " " << c.body;
        EXPECT_EQ(answer.grantRefused(), c.grantRefused) << c.status << " " << c.body;
        EXPECT_EQ(answer.expiresIn(), c.expiresIn) << c.status << " " << c.body;
    }
    const TDWOAuthTokenResponse signIn = TDWOAuthTokenResponse::fromBody(
        200, R"({"access_token":"ya29.x","refresh_token":"1//r","expires_in":3599})");
    EXPECT_EQ(signIn.accessToken(), QStringLiteral("ya29.x"));
    EXPECT_EQ(signIn.refreshToken(), QStringLiteral("1//r"));
}

TEST(TDWOAuthTokenResponse, ALifetimeOutsideOneSecondToAYearMakesNoTokenAnswer)
{
    const struct {
        const char *expiresIn;
        qint64 seconds;
    } cases[] = {
        {"1", 1},
        {"3599.9", 3599},
        {"31536000", 31536000},
        {"\"31536000\"", 31536000},
        {"31536001", 0},
        {"\"31536001\"", 0},
        {"31536000.5", 0},
        {"1000000000000", 0},
        {"9223372036854775807", 0},
        {"18446744073709551615", 0},
        {"-9223372036854775808", 0},
        {"1e300", 0},
        {"-1e300", 0},
        {"0.5", 0},
        {"\"12abc\"", 0},
        {"\"99999999999999999999\"", 0},
        {"true", 0},
        {"null", 0},
    };
    for (const auto &c : cases) {
        const QByteArray body = QByteArray(R"({"access_token":"a","expires_in":)") + c.expiresIn + '}';
        const TDWOAuthTokenResponse answer = TDWOAuthTokenResponse::fromBody(200, body);
        EXPECT_EQ(answer.expiresIn(), c.seconds) << c.expiresIn;
        EXPECT_EQ(answer.hasAccessToken(), c.seconds > 0) << c.expiresIn;
    }
}

// Answers the JSON reader refuses, or of which a member read has the wrong
// type, hold neither a token nor a refusal, whatever else they say.
TEST(TDWOAuthTokenResponse, AnAnswerTheReaderRefusesOrOfWrongTypesIsNoAnswer)
{
    const QByteArray token = R"("access_token":"a","expires_in":3600)";
    const QByteArray refusal = R"("error":"invalid_grant")";
    const QByteArray tooDeep = QByteArray(TDWJsonReader::MaxDepth, '[') + QByteArray(TDWJsonReader::MaxDepth, ']');
    const struct {
        const char *why;
        int status;
        QByteArray body;
    } cases[] = {
        {"nesting too deep", 200, "{" + token + R"(,"x":)" + tooDeep + "}"},
        {"a refusal nesting too deep", 400, "{" + refusal + R"(,"x":)" + tooDeep + "}"},
        {"larger than the reader takes", 200, "{" + token + QByteArray(TDWJsonReader::MaxBytes, ' ') + "}"},
        {"truncated", 200, "{" + token},
        {"two values", 200, "{" + token + "}{}"},
        {"a refresh token of the wrong type", 200, "{" + token + R"(,"refresh_token":["r"]})"},
        {"an error name of the wrong type", 400, R"({"error":{"code":400}})"},
        {"a refusal with a token of the wrong type", 400, "{" + refusal + R"(,"access_token":false})"},
    };
    for (const auto &c : cases) {
        const TDWOAuthTokenResponse answer = TDWOAuthTokenResponse::fromBody(c.status, c.body);
        EXPECT_FALSE(answer.hasAccessToken()) << c.why;
        EXPECT_FALSE(answer.grantRefused()) << c.why;
        EXPECT_TRUE(answer.accessToken().isEmpty()) << c.why;
        EXPECT_EQ(answer.expiresIn(), 0) << c.why;
        EXPECT_EQ(answer.statusCode(), c.status) << c.why;
    }
}
