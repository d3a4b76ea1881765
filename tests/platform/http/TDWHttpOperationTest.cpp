#include "platform/http/TDWHttpOperation.h"

#include "platform/foundation/TDWWorkerPool.h"
#include "platform/http/TDWHttpError.h"

#include "FakeGoogleTest.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <thread>

namespace {

const QUrl StallUrl(QStringLiteral("https://www.googleapis.com/stall"));

class TDWHttpOperationTest : public tdwtest::FakeGoogleTest
{
protected:
    void SetUp() override
    {
        FakeGoogleTest::SetUp();
        s_fake->clearRequests();
        s_fake->addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/stall")}, {QStringLiteral("stall"), 60}, {QStringLiteral("times"), -1}});
    }

    static bool onTheWire(int count) { return tdwtest::waitUntil([&] { return s_fake->requestsTo(QStringLiteral("/stall")).size() == count; }); }

};

TEST_F(TDWHttpOperationTest, CompletesOnceOnTheMainThreadAfterStartReturns)
{
    auto operation = std::make_shared<TDWHttpOperation>(TDWHttpRequest(QUrl(QStringLiteral("https://www.googleapis.com/drive/v2/about"))));
    int completions = 0;
    QThread *thread = nullptr;
    TDWError error;
    int status = 0;
    operation->start([&](const TDWError &e, const TDWHttpResponse &response) {
        ++completions;
        thread = QThread::currentThread();
        error = e;
        status = response.statusCode();
    });
    EXPECT_EQ(completions, 0);
    ASSERT_TRUE(tdwtest::waitUntil([&] { return completions > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(thread, QCoreApplication::instance()->thread());
    // Any HTTP answer is a response, not an error: the caller reads its status.
    EXPECT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_EQ(status, 401);
}

TEST_F(TDWHttpOperationTest, ACancelBeforeTheCompletionEndsTheRequestAndNothingIsReported)
{
    int completions = 0;
    auto operation = std::make_shared<TDWHttpOperation>(TDWHttpRequest(StallUrl));
    operation->start([&](const TDWError &, const TDWHttpResponse &) { ++completions; });
    ASSERT_TRUE(onTheWire(1));
    operation->cancel();
    // The stalled exchange ends at once rather than after the server's minute.
    ASSERT_TRUE(TDWWorkerPool::shared().waitForDone(std::chrono::seconds(20)));

    auto after = std::make_shared<TDWHttpOperation>(TDWHttpRequest(QUrl(QStringLiteral("https://www.googleapis.com/x"))));
    bool done = false;
    after->start([&](const TDWError &, const TDWHttpResponse &) { done = true; });
    ASSERT_TRUE(tdwtest::waitUntil([&] { return done; }));
    EXPECT_EQ(completions, 0);
}

TEST_F(TDWHttpOperationTest, RunOnAWorkerAnswersTheResponseOrTheHttpCancelledError)
{
    TDWHttpResponse answered;
    TDWError answeredError{QStringLiteral("not set"), 1};
    std::thread worker([&] {
        answered = std::make_shared<TDWHttpOperation>(TDWHttpRequest(QUrl(QStringLiteral("https://www.googleapis.com/x"))))->run(&answeredError);
    });
    worker.join();
    EXPECT_TRUE(answeredError.isNull());
    EXPECT_EQ(answered.statusCode(), 404);

    auto stalled = std::make_shared<TDWHttpOperation>(TDWHttpRequest(StallUrl));
    TDWError cancelledError;
    std::thread waiting([&] { stalled->run(&cancelledError); });
    ASSERT_TRUE(onTheWire(1));
    stalled->cancel();
    waiting.join();
    EXPECT_EQ(cancelledError.domain(), TDWHttpError::Domain);
    EXPECT_EQ(cancelledError.code(), TDWHttpError::Cancelled);
    ASSERT_TRUE(TDWWorkerPool::shared().waitForDone(std::chrono::seconds(20)));
}

} // namespace
