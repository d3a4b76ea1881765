#include "common/BKSExpBackoffDelegateWrapper.h"

#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/json/TDWJsonReader.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using std::chrono::milliseconds;

const QUrl Url(QStringLiteral("https://www.googleapis.com/drive/v2/files/abc"));

// Records the pauses instead of resending.
class RecordingWrapper : public BKSExpBackoffDelegateWrapper
{
public:
    // A fixed fraction of half a second unless `programRandom`.
    explicit RecordingWrapper(bool programRandom = false)
        : BKSExpBackoffDelegateWrapper(TDWHttpRequest(Url))
    {
        if (!programRandom)
            setRandomFraction([] { return 0.5f; });
    }
    std::vector<milliseconds> pauses;

protected:
    void resendAfter(milliseconds pause) override { pauses.push_back(pause); }
};

TDWHttpResponse answer(int status, const QByteArray &body = {}, const TDWHttpResponse::Headers &headers = {})
{
    TDWHttpResponse response;
    response.setStatusCode(status);
    response.setBody(body);
    response.setHeaders(headers);
    return response;
}

QByteArray nested(int depth)
{
    return QByteArray(depth, '[') + QByteArray(depth, ']');
}

QByteArray googleError(int code, const QString &reason)
{
    return QStringLiteral(R"({"error": {"errors": [{"domain": "usageLimits", "reason": "%1", "message": "x"}], "code": %2, "message": "x"}})")
        .arg(reason)
        .arg(code)
        .toUtf8();
}

class BKSExpBackoffDelegateWrapperTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TDWLog::setObserver([this](const QString &line) { lines.append(line); });
    }
    void TearDown() override
    {
        TDWLog::setObserver({});
        TDWClock::setNowProvider({});
    }
    QStringList lines;
};

TEST_F(BKSExpBackoffDelegateWrapperTest, FiveResendsAfterOneTwoFourEightAndSixteenSecondsPlusTheFractionThenTheAnswerStands)
{
    RecordingWrapper wrapper;
    for (int attempt = 0; attempt < 5; ++attempt)
        EXPECT_TRUE(wrapper.retryResponse(answer(500)));
    EXPECT_FALSE(wrapper.retryResponse(answer(500)));
    EXPECT_EQ(wrapper.pauses, (std::vector<milliseconds>{milliseconds(1500), milliseconds(2500), milliseconds(4500), milliseconds(8500), milliseconds(16500)}));
    EXPECT_EQ(wrapper.retryNumber(), 5);
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines.first(), QStringLiteral("Request to %1 returned 500; sleeping for 1.500000 seconds and trying again.").arg(Url.toString()));
    EXPECT_EQ(lines[4], QStringLiteral("Request to %1 returned 500; sleeping for 16.500000 seconds and trying again.").arg(Url.toString()));
    EXPECT_EQ(lines.last(), QStringLiteral("Request to %1 returned 500; giving up after retrying 5 times.").arg(Url.toString()));
    // The count never goes back: a later server error is final too.
    EXPECT_FALSE(wrapper.retryFailure(QStringLiteral("503")));
}

TEST_F(BKSExpBackoffDelegateWrapperTest, TheRandomFractionStaysBelowASecond)
{
    RecordingWrapper wrapper(true);
    for (int attempt = 0; attempt < 5; ++attempt)
        ASSERT_TRUE(wrapper.retryFailure(QStringLiteral("500")));
    for (size_t k = 0; k < wrapper.pauses.size(); ++k) {
        EXPECT_GE(wrapper.pauses[k], milliseconds(1000 << k));
        EXPECT_LE(wrapper.pauses[k], milliseconds((1000 << k) + 1000));
    }
}

TEST_F(BKSExpBackoffDelegateWrapperTest, ServerErrorsAndRateLimitsAreResentAndOtherAnswersStand)
{
    struct Case
    {
        int status;
        QByteArray body;
        bool resent;
        QString reason;
    };
    const std::vector<Case> cases = {
        {500, {}, true, QStringLiteral("500")},
        {503, {}, true, QStringLiteral("503")},
        {599, {}, true, QStringLiteral("599")},
        {429, {}, true, QStringLiteral("429")},
        {403, googleError(403, QStringLiteral("rateLimitExceeded")), true, QStringLiteral("403 rateLimitExceeded")},
        {403, googleError(403, QStringLiteral("userRateLimitExceeded")), true, QStringLiteral("403 userRateLimitExceeded")},
        {403, googleError(403, QStringLiteral("insufficientPermissions")), false, {}},
        // A quota used up for the day does not come back within seconds.
        {403, googleError(403, QStringLiteral("dailyLimitExceeded")), false, {}},
        {403, QByteArrayLiteral("rateLimitExceeded"), false, {}},
        // Bodies the JSON reader refuses, or of other shapes, name no rate limit.
        {403, googleError(403, QStringLiteral("rateLimitExceeded")).chopped(1), false, {}},
        {403, googleError(403, QStringLiteral("rateLimitExceeded")).chopped(1) + R"(, "x": )" + nested(TDWJsonReader::MaxDepth) + "}", false, {}},
        {403, QByteArrayLiteral(R"({"error": {"errors": [7, {"reason": "rateLimitExceeded"}]}})"), false, {}},
        {403, QByteArrayLiteral(R"({"error": {"errors": {"reason": "rateLimitExceeded"}}})"), false, {}},
        {403, QByteArrayLiteral(R"({"error": "rateLimitExceeded"})"), false, {}},
        {403, QByteArrayLiteral(R"([{"error": {"errors": [{"reason": "rateLimitExceeded"}]}}])"), false, {}},
        {200, {}, false, {}},
        {304, {}, false, {}},
        {401, googleError(401, QStringLiteral("authError")), false, {}},
        {404, {}, false, {}},
        {499, {}, false, {}},
        {600, {}, false, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        SCOPED_TRACE(c.body.toStdString());
        lines.clear();
        RecordingWrapper wrapper;
        EXPECT_EQ(wrapper.retryResponse(answer(c.status, c.body)), c.resent);
        EXPECT_EQ(wrapper.pauses.size(), c.resent ? 1u : 0u);
        if (c.resent) {
            ASSERT_EQ(lines.size(), 1);
            EXPECT_TRUE(lines.first().contains(QStringLiteral(" returned %1; sleeping").arg(c.reason))) << lines.first().toStdString();
        } else {
            EXPECT_TRUE(lines.isEmpty());
        }
    }
}

TEST_F(BKSExpBackoffDelegateWrapperTest, RetryAfterLengthensThePauseAndTooLongAWaitEndsTheResends)
{
    TDWClock::setNowProvider([] { return QDateTime(QDate(2026, 3, 2), QTime(10, 0, 0), Qt::UTC); });
    struct Case
    {
        QByteArray retryAfter;
        std::optional<milliseconds> pause;
    };
    const std::vector<Case> cases = {
        {"30", milliseconds(30000)},
        // Shorter than the back-off: the back-off's pause.
        {"1", milliseconds(1500)},
        {"0", milliseconds(1500)},
        {"Mon, 02 Mar 2026 10:01:30 GMT", milliseconds(90000)},
        // A date gone by, or a value that means nothing: the back-off alone.
        {"Mon, 02 Mar 2026 09:00:00 GMT", milliseconds(1500)},
        {"soon", milliseconds(1500)},
        {"-5", milliseconds(1500)},
        {"300", milliseconds(300000)},
        {"301", std::nullopt},
        {"Mon, 02 Mar 2026 11:00:00 GMT", std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.retryAfter.toStdString());
        lines.clear();
        RecordingWrapper wrapper;
        const bool resent = wrapper.retryResponse(answer(429, {}, {{QByteArrayLiteral("Retry-After"), c.retryAfter}}));
        EXPECT_EQ(resent, c.pause.has_value());
        if (c.pause) {
            ASSERT_EQ(wrapper.pauses.size(), 1u);
            EXPECT_EQ(wrapper.pauses.front(), *c.pause);
            EXPECT_EQ(wrapper.retryNumber(), 1);
        } else {
            EXPECT_TRUE(wrapper.pauses.empty());
            ASSERT_EQ(lines.size(), 1);
            EXPECT_TRUE(lines.first().endsWith(QStringLiteral("; giving up after retrying 0 times."))) << lines.first().toStdString();
        }
    }
}

} // namespace
