#include "platform/http/TDWHttpTask.h"

#include "FakeGoogleServer.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

namespace {

class TDWHttpTaskTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_fake = new tdwtest::FakeGoogleServer;
        ASSERT_TRUE(s_fake->start());
    }
    static void TearDownTestSuite()
    {
        delete s_fake;
        s_fake = nullptr;
    }

    static tdwtest::FakeGoogleServer *s_fake;
};

tdwtest::FakeGoogleServer *TDWHttpTaskTest::s_fake = nullptr;

TEST_F(TDWHttpTaskTest, ReportsOnceOnItsOwnThreadAfterStartReturns)
{
    TDWHttpTask task(TDWHttpRequest(QUrl(QStringLiteral("https://www.googleapis.com/drive/v2/about"))));
    int reports = 0;
    QThread *reportThread = nullptr;
    int status = 0;
    QObject::connect(&task, &TDWHttpTask::finished, [&](const TDWHttpResponse &response) {
        ++reports;
        reportThread = QThread::currentThread();
        status = response.statusCode();
    });
    task.start();
    EXPECT_TRUE(task.isRunning());
    EXPECT_EQ(reports, 0);
    ASSERT_TRUE(tdwtest::waitUntil([&] { return reports > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(reportThread, QCoreApplication::instance()->thread());
    EXPECT_EQ(status, 401); // no token
    EXPECT_FALSE(task.isRunning());
}

TEST_F(TDWHttpTaskTest, CancelledOrDestroyedTasksReportNothing)
{
    s_fake->addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/stall")}, {QStringLiteral("stall"), 60}, {QStringLiteral("times"), -1}});
    const TDWHttpRequest stalled{QUrl(QStringLiteral("https://www.googleapis.com/stall"))};
    int reports = 0;

    TDWHttpTask cancelled(stalled);
    QObject::connect(&cancelled, &TDWHttpTask::finished, [&] { ++reports; });
    cancelled.start();

    auto destroyed = std::make_unique<TDWHttpTask>(stalled);
    QObject::connect(destroyed.get(), &TDWHttpTask::finished, [&] { ++reports; });
    destroyed->start();

    ASSERT_TRUE(tdwtest::waitUntil([&] { return s_fake->requestsTo(QStringLiteral("/stall")).size() == 2; }));
    cancelled.cancel();
    destroyed.reset();
    EXPECT_FALSE(cancelled.isRunning());

    // A fresh request after a cancel goes out and reports.
    TDWHttpTask after(TDWHttpRequest(QUrl(QStringLiteral("https://www.googleapis.com/x"))));
    bool done = false;
    QObject::connect(&after, &TDWHttpTask::finished, [&] { done = true; });
    after.start();
    ASSERT_TRUE(tdwtest::waitUntil([&] { return done; }));
    EXPECT_EQ(reports, 0);
}

} // namespace
