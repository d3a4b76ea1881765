#include "common/BKSExpBackoffConnectionDelegateWrapper.h"

#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWWorkerPool.h"
#include "platform/http/TDWHttpError.h"

#include "FakeGoogleTest.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

namespace {

using std::chrono::milliseconds;

const QString Path = QStringLiteral("/backoff/item");
const QUrl Url(QStringLiteral("https://www.googleapis.com/backoff/item"));

QJsonObject fault(int status, int times = 1)
{
    return QJsonObject{{QStringLiteral("path"), Path}, {QStringLiteral("status"), status}, {QStringLiteral("times"), times}};
}

QJsonObject okAnswer()
{
    QJsonObject answer = fault(200);
    answer.insert(QStringLiteral("body"), QStringLiteral("the item"));
    answer.insert(QStringLiteral("content_type"), QStringLiteral("text/plain"));
    return answer;
}

// The pauses a wrapper asked for; each ends at once (or never, when held).
class Pauses
{
public:
    BKSExpBackoffConnectionDelegateWrapper::Pause hook()
    {
        return [this](milliseconds pause, std::function<void()> resume) {
            std::lock_guard lock(m_mutex);
            m_pauses.push_back(pause);
            if (m_hold)
                m_held.push_back(std::move(resume));
            else
                resume();
        };
    }
    void hold() { m_hold = true; }
    std::vector<milliseconds> taken() const
    {
        std::lock_guard lock(m_mutex);
        return m_pauses;
    }
    std::vector<std::function<void()>> held()
    {
        std::lock_guard lock(m_mutex);
        return m_held;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<milliseconds> m_pauses;
    std::vector<std::function<void()>> m_held;
    bool m_hold = false;
};

struct Outcome
{
    int completions = 0;
    TDWError error;
    TDWHttpResponse response;
    QThread *thread = nullptr;
};

class BKSExpBackoffConnectionDelegateWrapperTest : public tdwtest::FakeGoogleTest
{
protected:
    void SetUp() override
    {
        FakeGoogleTest::SetUp();
        s_fake->clearRequests();
        TDWLog::setObserver([this](const QString &line) {
            std::lock_guard lock(m_linesMutex);
            m_lines.append(line);
        });
    }
    void TearDown() override { TDWLog::setObserver({}); }

    std::shared_ptr<BKSExpBackoffConnectionDelegateWrapper> wrapper(const TDWHttpRequest &request = TDWHttpRequest(Url))
    {
        auto made = std::make_shared<BKSExpBackoffConnectionDelegateWrapper>(request);
        made->setPause(pauses.hook());
        return made;
    }

    // Starts the wrapper and runs the event loop until its completion has run.
    Outcome startAndWait(const std::shared_ptr<BKSExpBackoffConnectionDelegateWrapper> &request)
    {
        auto outcome = std::make_shared<Outcome>();
        request->start([outcome](const TDWError &error, const TDWHttpResponse &response) {
            ++outcome->completions;
            outcome->error = error;
            outcome->response = response;
            outcome->thread = QThread::currentThread();
        });
        EXPECT_TRUE(tdwtest::waitUntil([&] { return outcome->completions > 0; }));
        QCoreApplication::processEvents();
        return *outcome;
    }

    QStringList lines()
    {
        std::lock_guard lock(m_linesMutex);
        return m_lines;
    }

    static int requestsSent() { return s_fake->requestsTo(Path).size(); }

    Pauses pauses;

private:
    std::mutex m_linesMutex;
    QStringList m_lines;
};

TEST_F(BKSExpBackoffConnectionDelegateWrapperTest, A503ThenA200ReachesTheCallerAsThe200Only)
{
    s_fake->addFault(fault(503));
    s_fake->addFault(okAnswer());
    const Outcome outcome = startAndWait(wrapper());
    EXPECT_EQ(outcome.completions, 1);
    EXPECT_EQ(outcome.thread, QCoreApplication::instance()->thread());
    EXPECT_TRUE(outcome.error.isNull());
    EXPECT_EQ(outcome.response.statusCode(), 200);
    EXPECT_EQ(outcome.response.body(), QByteArrayLiteral("the item"));
    EXPECT_EQ(requestsSent(), 2);
    ASSERT_EQ(pauses.taken().size(), 1u);
    EXPECT_GE(pauses.taken().front(), milliseconds(1000));
    EXPECT_LE(pauses.taken().front(), milliseconds(2000));
}

TEST_F(BKSExpBackoffConnectionDelegateWrapperTest, SixServerErrorsInARowGiveUpAfterFiveResendsWithTheSixthAnswer)
{
    s_fake->addFault(fault(500, 6));
    s_fake->addFault(okAnswer());
    const Outcome outcome = startAndWait(wrapper());
    EXPECT_EQ(outcome.completions, 1);
    EXPECT_TRUE(outcome.error.isNull());
    EXPECT_EQ(outcome.response.statusCode(), 500);
    EXPECT_EQ(requestsSent(), 6);
    const std::vector<milliseconds> taken = pauses.taken();
    ASSERT_EQ(taken.size(), 5u);
    for (size_t k = 0; k < taken.size(); ++k) {
        EXPECT_GE(taken[k], milliseconds(1000 << k));
        EXPECT_LE(taken[k], milliseconds((1000 << k) + 1000));
    }
    EXPECT_TRUE(lines().contains(QStringLiteral("Request to %1 returned 500; giving up after retrying 5 times.").arg(Url.toString())));
}

TEST_F(BKSExpBackoffConnectionDelegateWrapperTest, AnswersThatStandReachTheCallerAtOnce)
{
    s_fake->addFault(fault(404));
    const Outcome outcome = startAndWait(wrapper());
    EXPECT_EQ(outcome.response.statusCode(), 404);
    EXPECT_EQ(requestsSent(), 1);
    EXPECT_TRUE(pauses.taken().empty());
    EXPECT_TRUE(lines().isEmpty());
}

TEST_F(BKSExpBackoffConnectionDelegateWrapperTest, RateLimitsAreResentAsServerErrorsAre)
{
    QJsonObject tooMany = fault(429);
    tooMany.insert(QStringLiteral("retry_after"), 7);
    QJsonObject rateLimited = fault(403);
    rateLimited.insert(QStringLiteral("reason"), QStringLiteral("rateLimitExceeded"));
    QJsonObject userRateLimited = fault(403);
    userRateLimited.insert(QStringLiteral("reason"), QStringLiteral("userRateLimitExceeded"));
    s_fake->addFault(tooMany);
    s_fake->addFault(rateLimited);
    s_fake->addFault(userRateLimited);
    s_fake->addFault(okAnswer());

    const Outcome outcome = startAndWait(wrapper());
    EXPECT_EQ(outcome.response.statusCode(), 200);
    EXPECT_EQ(requestsSent(), 4);
    const std::vector<milliseconds> taken = pauses.taken();
    ASSERT_EQ(taken.size(), 3u);
    // The 429 asked for seven seconds, more than the first pause of the back-off.
    EXPECT_EQ(taken[0], milliseconds(7000));
    EXPECT_GE(taken[1], milliseconds(2000));
    EXPECT_GE(taken[2], milliseconds(4000));
}

TEST_F(BKSExpBackoffConnectionDelegateWrapperTest, AForbiddenAnswerThatIsNoRateLimitStands)
{
    QJsonObject forbidden = fault(403);
    forbidden.insert(QStringLiteral("reason"), QStringLiteral("insufficientPermissions"));
    s_fake->addFault(forbidden);
    const Outcome outcome = startAndWait(wrapper());
    EXPECT_EQ(outcome.response.statusCode(), 403);
    EXPECT_EQ(requestsSent(), 1);
}

TEST_F(BKSExpBackoffConnectionDelegateWrapperTest, ATransportFailureIsHandedOverAtOnceButADownloadIsResent)
{
    QJsonObject dropped = fault(200);
    dropped.insert(QStringLiteral("drop"), true);
    s_fake->addFault(dropped);
    const Outcome plain = startAndWait(wrapper());
    EXPECT_EQ(plain.error.domain(), TDWHttpError::Domain);
    EXPECT_FALSE(plain.response.hasResponse());
    EXPECT_EQ(requestsSent(), 1);
    EXPECT_TRUE(pauses.taken().empty());

    s_fake->clearRequests();
    s_fake->addFault(dropped);
    s_fake->addFault(fault(502));
    s_fake->addFault(okAnswer());
    QTemporaryDir folder;
    TDWHttpRequest download(Url);
    download.setDownloadPath(folder.filePath(QStringLiteral("item")));
    const Outcome downloaded = startAndWait(wrapper(download));
    EXPECT_TRUE(downloaded.error.isNull()) << downloaded.error.description().toStdString();
    EXPECT_EQ(downloaded.response.statusCode(), 200);
    EXPECT_EQ(requestsSent(), 3);
    EXPECT_EQ(pauses.taken().size(), 2u);
    QFile file(download.downloadPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArrayLiteral("the item"));
}

TEST_F(BKSExpBackoffConnectionDelegateWrapperTest, ARedirectChangedByTheCallerIsTheRequestThatIsResent)
{
    QJsonObject moved = QJsonObject{{QStringLiteral("path"), QStringLiteral("/backoff/moved")},
                                    {QStringLiteral("status"), 302},
                                    {QStringLiteral("location"), Url.toString()}};
    s_fake->addFault(moved);
    s_fake->addFault(fault(503));
    s_fake->addFault(okAnswer());
    TDWHttpRequest request(QUrl(QStringLiteral("https://www.googleapis.com/backoff/moved")));
    request.setRedirectHandler([](const TDWHttpResponse &, TDWHttpRequest &next) {
        next.setHeader("X-Changed", "yes");
        return true;
    });
    const Outcome outcome = startAndWait(wrapper(request));
    EXPECT_EQ(outcome.response.statusCode(), 200);
    EXPECT_EQ(s_fake->requestsTo(QStringLiteral("/backoff/moved")).size(), 1);
    const QJsonArray resent = s_fake->requestsTo(Path);
    ASSERT_EQ(resent.size(), 2);
    for (const QJsonValue &sent : resent)
        EXPECT_EQ(sent.toObject().value(QStringLiteral("headers")).toObject().value(QStringLiteral("x-changed")).toString(), QStringLiteral("yes"));
}

TEST_F(BKSExpBackoffConnectionDelegateWrapperTest, ACancelDuringThePauseEndsEverything)
{
    s_fake->addFault(fault(503));
    s_fake->addFault(okAnswer());
    pauses.hold();
    auto request = wrapper();
    int completions = 0;
    request->start([&](const TDWError &, const TDWHttpResponse &) { ++completions; });
    ASSERT_TRUE(tdwtest::waitUntil([&] { return !pauses.held().empty(); }));
    request->cancel();
    for (const auto &resume : pauses.held())
        resume();
    QCoreApplication::processEvents();
    TDWWorkerPool::shared().waitForDone(std::chrono::seconds(20));
    QCoreApplication::processEvents();
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(requestsSent(), 1);
}

TEST_F(BKSExpBackoffConnectionDelegateWrapperTest, TheSynchronousSendResendsServerErrorsAndTransportFailures)
{
    QJsonObject dropped = fault(200);
    dropped.insert(QStringLiteral("drop"), true);
    // Dropped first: on a connection kept from an earlier answer libcurl would
    // itself send the request again.
    s_fake->addFault(dropped);
    s_fake->addFault(fault(503));
    s_fake->addFault(okAnswer());
    auto request = wrapper();
    TDWError error;
    TDWHttpResponse response;
    std::thread worker([&] { response = request->run(&error); });
    worker.join();
    EXPECT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_EQ(response.statusCode(), 200);
    EXPECT_EQ(requestsSent(), 3);
    EXPECT_EQ(pauses.taken().size(), 2u);
}

TEST_F(BKSExpBackoffConnectionDelegateWrapperTest, TheSynchronousSendGivesUpWithTheLastServerError)
{
    s_fake->addFault(fault(500, 6));
    auto request = wrapper();
    TDWError error;
    TDWHttpResponse response;
    std::thread worker([&] { response = request->run(&error); });
    worker.join();
    EXPECT_TRUE(error.isNull());
    EXPECT_EQ(response.statusCode(), 500);
    EXPECT_EQ(requestsSent(), 6);
    EXPECT_EQ(pauses.taken().size(), 5u);
}

TEST_F(BKSExpBackoffConnectionDelegateWrapperTest, ACancelEndsTheSynchronousSendWhileItWaits)
{
    s_fake->addFault(fault(503, -1));
    pauses.hold();
    auto request = wrapper();
    TDWError error;
    std::thread worker([&] { request->run(&error); });
    ASSERT_TRUE(tdwtest::waitUntil([&] { return !pauses.held().empty(); }));
    request->cancel();
    worker.join();
    EXPECT_EQ(error.domain(), TDWHttpError::Domain);
    EXPECT_EQ(error.code(), TDWHttpError::Cancelled);
    EXPECT_EQ(requestsSent(), 1);
}

} // namespace
