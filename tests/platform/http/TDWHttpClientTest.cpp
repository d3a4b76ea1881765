#include "platform/http/TDWHttpClient.h"

#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWSafeFile.h"
#include "platform/foundation/TDWWireTrace.h"
#include "platform/http/TDWHttpError.h"

#include "FakeGoogleTest.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <thread>

using namespace std::chrono_literals;

namespace {

const QByteArray Token = "at-test-token";

QJsonObject fault(const QString &path, int status, const QString &location = {})
{
    QJsonObject f{{QStringLiteral("path"), path}, {QStringLiteral("status"), status}};
    if (!location.isEmpty())
        f[QStringLiteral("location")] = location;
    return f;
}

QString headerOf(const QJsonValue &entry, const QString &name)
{
    return entry.toObject().value(QStringLiteral("headers")).toObject().value(name).toString();
}

class TDWHttpClientTest : public tdwtest::FakeGoogleTest
{
protected:
    static TDWHttpRequest bearerRequest(const QString &url)
    {
        TDWHttpRequest request{QUrl(url)};
        request.setBearerToken(Token, TDWHttpHostAllowlist({QStringLiteral("www.googleapis.com"), QStringLiteral("www.google.com")}));
        request.setHeader("GData-Version", "3.0");
        return request;
    }
};

TEST_F(TDWHttpClientTest, BearerFollowsARedirectOnlyToHttpsOnTheSameAllowedHost)
{
    const struct {
        const char *location;
        const char *secondHost;
        const char *secondScheme;
        bool bearerOnSecondHop;
    } cases[] = {
        {"/target", "www.googleapis.com", "https", true},
        {"https://WWW.GOOGLEAPIS.COM/target", "www.googleapis.com", "https", true},
        {"http://www.googleapis.com/target", "www.googleapis.com", "http", false},
        {"https://www.google.com/target", "www.google.com", "https", false},
        {"https://mail.google.com/target", "mail.google.com", "https", false},
    };
    for (const auto &c : cases) {
        s_fake->clearRequests();
        s_fake->addFault(fault(QStringLiteral("/start"), 302, QString::fromLatin1(c.location)));
        TDWHttpRequest request = bearerRequest(QStringLiteral("https://www.googleapis.com/start"));
        request.setHeader("Authorization", "Basic should-not-travel");
        const TDWHttpResponse response = TDWHttpClient().perform(request);
        ASSERT_TRUE(response.hasResponse()) << c.location << " " << response.error().description().toStdString();
        EXPECT_EQ(response.statusCode(), 404) << c.location; // nothing serves /target
        EXPECT_EQ(response.redirectCount(), 1);

        const QJsonArray log = s_fake->requests();
        ASSERT_EQ(log.size(), 2) << c.location;
        EXPECT_EQ(headerOf(log[0], QStringLiteral("authorization")), QStringLiteral("Bearer at-test-token"));
        const QJsonObject second = log[1].toObject();
        EXPECT_EQ(second.value(QStringLiteral("host")).toString(), QLatin1String(c.secondHost));
        EXPECT_EQ(second.value(QStringLiteral("scheme")).toString(), QLatin1String(c.secondScheme));
        EXPECT_EQ(headerOf(second, QStringLiteral("authorization")),
                  c.bearerOnSecondHop ? QStringLiteral("Bearer at-test-token") : QString())
            << c.location;
        EXPECT_EQ(headerOf(second, QStringLiteral("gdata-version")), QStringLiteral("3.0"));
        EXPECT_EQ(response.url(), QUrl(QStringLiteral("https://www.googleapis.com/start")).resolved(QUrl(QString::fromLatin1(c.location))));
    }
}

TEST_F(TDWHttpClientTest, BearerIsNeverSentToAHostOffTheAllowlist)
{
    TDWHttpRequest request{QUrl(QStringLiteral("https://mail.google.com/x"))};
    request.setBearerToken(Token, TDWHttpHostAllowlist({QStringLiteral("www.googleapis.com")}));
    EXPECT_TRUE(TDWHttpClient().perform(request).hasResponse());
    const QJsonArray log = s_fake->requestsTo(QStringLiteral("/x"));
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(headerOf(log[0], QStringLiteral("authorization")).isEmpty());
}

TEST_F(TDWHttpClientTest, RedirectedMethodAndBodyFollowTheStatusAndOrigin)
{
    const struct {
        int status;
        const char *location;
        const char *secondMethod; // null: the redirect is not followed
        bool bodyKept;
    } cases[] = {
        {303, "/next", "GET", false},
        {302, "/next", "GET", false},
        {307, "/next", "POST", true},
        {308, "https://www.googleapis.com/next", "POST", true},
        {307, "https://www.google.com/next", nullptr, false},
        {307, "http://www.googleapis.com/next", nullptr, false},
    };
    for (const auto &c : cases) {
        s_fake->clearRequests();
        s_fake->addFault(fault(QStringLiteral("/form"), c.status, QString::fromLatin1(c.location)));
        TDWHttpRequest request(QUrl(QStringLiteral("https://www.googleapis.com/form")), "POST");
        request.setHeader("Content-Type", "application/x-www-form-urlencoded");
        request.setBody("secret=1");
        const TDWHttpResponse response = TDWHttpClient().perform(request);
        const QJsonArray log = s_fake->requests();
        if (!c.secondMethod) {
            EXPECT_EQ(response.statusCode(), c.status) << c.location;
            EXPECT_EQ(log.size(), 1) << c.location;
            continue;
        }
        ASSERT_EQ(log.size(), 2) << c.status;
        const QJsonObject second = log[1].toObject();
        EXPECT_EQ(second.value(QStringLiteral("method")).toString(), QLatin1String(c.secondMethod)) << c.status;
        EXPECT_EQ(second.value(QStringLiteral("body")).toString(), c.bodyKept ? QStringLiteral("secret=1") : QString()) << c.status;
        EXPECT_EQ(headerOf(second, QStringLiteral("content-type")).isEmpty(), !c.bodyKept) << c.status;
    }
}

TEST_F(TDWHttpClientTest, RedirectLimitsHandlerAndUnsupportedTargets)
{
    QJsonObject loop = fault(QStringLiteral("/loop"), 302, QStringLiteral("/loop"));
    loop[QStringLiteral("times")] = -1;
    s_fake->addFault(loop);
    TDWHttpRequest looping{QUrl(QStringLiteral("https://www.googleapis.com/loop"))};
    looping.setMaxRedirects(3);
    const TDWHttpResponse tooMany = TDWHttpClient().perform(looping);
    EXPECT_EQ(tooMany.error().code(), TDWHttpError::TooManyRedirects);
    EXPECT_EQ(s_fake->requestsTo(QStringLiteral("/loop")).size(), 4);

    // The caller may stop a redirect, or change what the next hop carries.
    int calls = 0;
    looping.setRedirectHandler([&](const TDWHttpResponse &redirect, TDWHttpRequest &next) {
        EXPECT_EQ(redirect.statusCode(), 302);
        next.removeHeader("X-Hop");
        return ++calls < 2;
    });
    looping.setHeader("X-Hop", "1");
    s_fake->clearRequests();
    const TDWHttpResponse stopped = TDWHttpClient().perform(looping);
    EXPECT_EQ(stopped.statusCode(), 302);
    EXPECT_EQ(stopped.redirectCount(), 1);
    const QJsonArray log = s_fake->requests();
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(headerOf(log[0], QStringLiteral("x-hop")), QStringLiteral("1"));
    EXPECT_TRUE(headerOf(log[1], QStringLiteral("x-hop")).isEmpty());

    s_fake->addFault(fault(QStringLiteral("/ftp"), 301, QStringLiteral("ftp://www.googleapis.com/file")));
    EXPECT_EQ(TDWHttpClient().perform(TDWHttpRequest(QUrl(QStringLiteral("https://www.googleapis.com/ftp")))).error().code(),
              TDWHttpError::BadUrl);
    EXPECT_EQ(TDWHttpClient().perform(TDWHttpRequest(QUrl(QStringLiteral("file:///etc/passwd")))).error().code(),
              TDWHttpError::BadUrl);
}

TEST_F(TDWHttpClientTest, ResponseCarriesStatusHeadersAndBodyAndNoCookieIsKept)
{
    QJsonObject limited = fault(QStringLiteral("/limited"), 429);
    limited[QStringLiteral("retry_after")] = 12;
    limited[QStringLiteral("headers")] = QJsonObject{{QStringLiteral("Set-Cookie"), QStringLiteral("sid=abc; Path=/")}};
    s_fake->addFault(limited);
    TDWHttpClient client;
    const TDWHttpResponse response = client.perform(TDWHttpRequest(QUrl(QStringLiteral("https://www.googleapis.com/limited"))));
    ASSERT_TRUE(response.hasResponse());
    EXPECT_EQ(response.statusCode(), 429);
    EXPECT_EQ(response.header("retry-after"), QByteArray("12"));
    EXPECT_TRUE(response.body().contains("\"code\": 429"));

    client.perform(TDWHttpRequest(QUrl(QStringLiteral("https://www.googleapis.com/limited"))));
    const QJsonArray log = s_fake->requestsTo(QStringLiteral("/limited"));
    ASSERT_EQ(log.size(), 2);
    EXPECT_TRUE(headerOf(log[1], QStringLiteral("cookie")).isEmpty());
}

TEST_F(TDWHttpClientTest, FailuresAreToldApartByKind)
{
    QJsonObject stall = fault(QStringLiteral("/stall"), 200);
    stall[QStringLiteral("stall")] = 30;
    QJsonObject stallBody = fault(QStringLiteral("/stallbody"), 200);
    stallBody[QStringLiteral("stall_body")] = 30;
    stallBody[QStringLiteral("body")] = QStringLiteral("late");
    QJsonObject drop = fault(QStringLiteral("/drop"), 200);
    drop[QStringLiteral("drop")] = true;
    for (const QJsonObject &f : {stall, stallBody, drop})
        s_fake->addFault(f);

    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 closedPort = closed.serverPort();
    closed.close();

    const QString map = qEnvironmentVariable("TDW_HOST_MAP");
    const struct {
        const char *url;
        TDWHttpEnvironment environment;
        TDWHttpError::Code error;
        // Short only where the stall is the point: a busy machine can be slower than that to connect.
        std::chrono::milliseconds idleTimeout = 30s;
    } cases[] = {
        {"https://www.googleapis.com/stall", TDWHttpEnvironment::fromProcessEnvironment(), TDWHttpError::Timeout, 300ms},
        {"https://www.googleapis.com/stallbody", TDWHttpEnvironment::fromProcessEnvironment(), TDWHttpError::Timeout, 300ms},
        {"https://www.googleapis.com/drop", TDWHttpEnvironment::fromProcessEnvironment(), TDWHttpError::Network},
        // The fake's certificate is not trusted without the test CA.
        {"https://www.googleapis.com/x", TDWHttpEnvironment::fromStrings(map, {}), TDWHttpError::Tls},
        // Trusted, but for names it does not carry.
        {"https://tdw-test.invalid/x",
         TDWHttpEnvironment::fromStrings(QStringLiteral("tdw-test.invalid=127.0.0.1:%1").arg(s_fake->httpsPort()), qEnvironmentVariable("TDW_EXTRA_CA")),
         TDWHttpError::Tls},
        {"https://www.googleapis.com/x",
         TDWHttpEnvironment::fromStrings(QStringLiteral("www.googleapis.com=127.0.0.1:%1").arg(closedPort), {}),
         TDWHttpError::Connect},
    };
    for (const auto &c : cases) {
        TDWHttpRequest request{QUrl(QString::fromLatin1(c.url))};
        request.setIdleTimeout(c.idleTimeout);
        const TDWHttpResponse response = TDWHttpClient(c.environment).perform(request);
        EXPECT_EQ(response.error().code(), c.error) << c.url << " " << response.error().description().toStdString();
        EXPECT_EQ(response.statusCode(), 0);
        EXPECT_EQ(response.error().domain(), TDWHttpError::Domain);
        EXPECT_FALSE(response.error().localizedDescription().isEmpty());
    }
}

TEST_F(TDWHttpClientTest, CancelFromAnotherThreadEndsARunningRequestAndLaterOnes)
{
    QJsonObject stall = fault(QStringLiteral("/stall"), 200);
    stall[QStringLiteral("stall")] = 60;
    s_fake->addFault(stall);
    TDWHttpClient client;
    TDWHttpRequest request{QUrl(QStringLiteral("https://www.googleapis.com/stall"))};
    request.setIdleTimeout(120s);
    std::thread canceller([&] {
        // Cancel only once the request is on the wire.
        tdwtest::waitUntil([&] { return s_fake->requestsTo(QStringLiteral("/stall")).size() == 1; });
        client.cancel();
    });
    const TDWHttpResponse response = client.perform(request);
    canceller.join();
    EXPECT_EQ(response.error().code(), TDWHttpError::Cancelled);
    EXPECT_TRUE(client.isCancelled());
    EXPECT_EQ(client.perform(TDWHttpRequest(QUrl(QStringLiteral("https://www.googleapis.com/x")))).error().code(),
              TDWHttpError::Cancelled);
    EXPECT_EQ(s_fake->requestsTo(QStringLiteral("/x")).size(), 0);
}

TEST_F(TDWHttpClientTest, DownloadReplacesTheFileOnlyWithASuccessfulBody)
{
    const QString path = tdwtest::freshDir() + QStringLiteral("/file.bin");
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old copy");
    old.close();

    QJsonObject missing = fault(QStringLiteral("/file"), 404);
    s_fake->addFault(missing);
    TDWHttpRequest request{QUrl(QStringLiteral("https://www.googleapis.com/file"))};
    request.setDownloadPath(path);
    const TDWHttpResponse notFound = TDWHttpClient().perform(request);
    EXPECT_EQ(notFound.statusCode(), 404);
    EXPECT_FALSE(notFound.bodyInFile());
    EXPECT_FALSE(notFound.body().isEmpty());
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old copy"));
    old.close();

    const QByteArray content = QByteArray(400000, 'x') + "end";
    QJsonObject redirect = fault(QStringLiteral("/file"), 302, QStringLiteral("/file2"));
    QJsonObject body = fault(QStringLiteral("/file2"), 200);
    body[QStringLiteral("body")] = QString::fromLatin1(content);
    s_fake->addFault(redirect);
    s_fake->addFault(body);
    std::vector<qint64> progress;
    request.setProgressHandler([&](qint64 received, qint64 expected) {
        EXPECT_EQ(expected, content.size());
        progress.push_back(received);
    });
    const TDWHttpResponse ok = TDWHttpClient().perform(request);
    ASSERT_EQ(ok.statusCode(), 200);
    EXPECT_TRUE(ok.bodyInFile());
    EXPECT_TRUE(ok.body().isEmpty());
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), content);
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), content.size());
}

TEST_F(TDWHttpClientTest, OnlyA200AnswerReplacesTheDownloadFile)
{
    const QString folder = tdwtest::freshDir();
    const QString path = folder + QStringLiteral("/file.bin");
    const struct {
        int status;
        QJsonObject headers;
        QByteArray expected; // the file's content afterwards
    } cases[] = {
        {200, {}, "new content"},
        // Nothing: an empty file must not take the copy's place.
        {204, {}, "old copy"},
        // A part of the file, as if a range had been asked for.
        {206, {{QStringLiteral("Content-Range"), QStringLiteral("bytes 0-10/400")}}, "old copy"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.status);
        ASSERT_TRUE(TDWSafeFile::write(path, "old copy", nullptr));
        QJsonObject answer = fault(QStringLiteral("/file"), c.status);
        answer[QStringLiteral("body")] = QStringLiteral("new content");
        answer[QStringLiteral("headers")] = c.headers;
        s_fake->addFault(answer);
        TDWHttpRequest request{QUrl(QStringLiteral("https://www.googleapis.com/file"))};
        request.setDownloadPath(path);
        const TDWHttpResponse response = TDWHttpClient().perform(request);
        ASSERT_TRUE(response.hasResponse()) << response.error().description().toStdString();
        EXPECT_EQ(response.statusCode(), c.status);
        EXPECT_EQ(response.bodyInFile(), c.status == 200);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), c.expected);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("file.bin")});
    }
}

TEST_F(TDWHttpClientTest, BodiesKeptInMemoryAreBoundedAfterDecoding)
{
    constexpr qint64 Limit = 1 << 20;
    const QString path = tdwtest::freshDir() + QStringLiteral("/file.bin");
    const auto zeros = [](const QString &at, int status, qint64 count, bool gzip) {
        QJsonObject f = fault(at, status);
        f[QStringLiteral("zeros")] = double(count);
        f[QStringLiteral("gzip")] = gzip;
        return f;
    };
    const struct {
        QJsonObject fault;
        bool download;
        bool tooLarge;
    } cases[] = {
        // A small compressed error page that unpacks to 256 MiB.
        {zeros(QStringLiteral("/bomb"), 500, qint64(256) << 20, true), false, true},
        {zeros(QStringLiteral("/bomb"), 200, qint64(256) << 20, true), false, true},
        {zeros(QStringLiteral("/bomb"), 404, qint64(256) << 20, true), true, true},
        {zeros(QStringLiteral("/big"), 200, Limit + 1, false), false, true},
        {zeros(QStringLiteral("/big"), 200, Limit, true), false, false},
        // A successful download goes to its file and is not held in memory.
        {zeros(QStringLiteral("/big"), 200, 4 * Limit, true), true, false},
    };
    for (const auto &c : cases) {
        s_fake->addFault(c.fault);
        TDWHttpRequest request{QUrl(QStringLiteral("https://www.googleapis.com") + c.fault[QStringLiteral("path")].toString())};
        request.setBodyLimit(Limit);
        if (c.download)
            request.setDownloadPath(path);
        const TDWHttpResponse response = TDWHttpClient().perform(request);
        const std::string label = QJsonDocument(c.fault).toJson(QJsonDocument::Compact).toStdString() + (c.download ? " download" : "");
        if (c.tooLarge) {
            EXPECT_EQ(response.error().domain(), TDWHttpError::Domain) << label;
            EXPECT_EQ(response.error().code(), TDWHttpError::TooLarge) << label;
            EXPECT_TRUE(response.body().isEmpty()) << label;
        } else {
            ASSERT_TRUE(response.hasResponse()) << label << " " << response.error().description().toStdString();
            const qint64 expected = qint64(c.fault[QStringLiteral("zeros")].toDouble());
            EXPECT_EQ(c.download ? QFileInfo(path).size() : response.body().size(), expected) << label;
        }
    }
}

// A download the caller knows the size or digest of replaces its file only
// when it is that, and one that grows past its bound is cut off at once: the
// old copy stays and no temporary file is left.
TEST_F(TDWHttpClientTest, ADownloadReplacesItsFileOnlyWhenItIsWhatWasAnnounced)
{
    const QString folder = tdwtest::freshDir();
    const QString path = folder + QStringLiteral("/file.bin");
    const QByteArray content = "new content";
    const QByteArray md5 = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
    const QJsonObject answer{{QStringLiteral("path"), QStringLiteral("/file")}, {QStringLiteral("body"), QString::fromLatin1(content)}};
    const QJsonObject empty{{QStringLiteral("path"), QStringLiteral("/file")}, {QStringLiteral("body"), QString()}};
    const QJsonObject bomb{{QStringLiteral("path"), QStringLiteral("/file")}, {QStringLiteral("zeros"), double(qint64(256) << 20)}, {QStringLiteral("gzip"), true}};
    const qint64 size = content.size();
    const struct {
        const char *name;
        QJsonObject answer;
        TDWHttpRequest::DownloadCheck check;
        qint64 error; // 0: the file is replaced
    } cases[] = {
        {"as announced", answer, {size + 10, size, md5}, 0},
        {"the size alone", answer, {-1, size, {}}, 0},
        {"the digest in capitals", answer, {-1, -1, md5.toUpper()}, 0},
        {"shorter than announced", answer, {-1, size + 1, {}}, TDWHttpError::Mismatch},
        {"longer than announced", answer, {-1, size - 1, {}}, TDWHttpError::Mismatch},
        {"another digest", answer, {-1, size, QByteArray(32, 'a')}, TDWHttpError::Mismatch},
        {"empty where bytes were announced", empty, {100, 9, {}}, TDWHttpError::Mismatch},
        {"past the bound", answer, {size - 1, -1, {}}, TDWHttpError::TooLarge},
        {"a bomb for nine bytes", bomb, {9 + 1024, 9, {}}, TDWHttpError::TooLarge},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(TDWSafeFile::write(path, "old copy", nullptr));
        s_fake->addFault(c.answer);
        TDWHttpRequest request{QUrl(QStringLiteral("https://www.googleapis.com/file"))};
        request.setDownloadPath(path);
        request.setDownloadCheck(c.check);
        const TDWHttpResponse response = TDWHttpClient().perform(request);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        if (c.error == 0) {
            EXPECT_TRUE(response.hasResponse()) << response.error().description().toStdString();
            EXPECT_EQ(file.readAll(), content);
        } else {
            EXPECT_EQ(response.error().domain(), TDWHttpError::Domain);
            EXPECT_EQ(response.error().code(), c.error) << response.error().description().toStdString();
            EXPECT_EQ(response.error().scope(), c.error == TDWHttpError::Mismatch ? TDWError::Scope::Item : TDWError::Scope::Request);
            EXPECT_EQ(file.readAll(), "old copy");
        }
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("file.bin")});
    }
}

// Durations in this test are shrunk a hundredfold; the ones that must not end
// the request are set far out, so only the limit under test can.
class TDWHttpClientDeadlineTest : public TDWHttpClientTest
{
protected:
    void SetUp() override
    {
        TDWHttpClientTest::SetUp();
        TDWClock::setDurationScale(0.01);
    }
    void TearDown() override { TDWClock::setDurationScale(1.0); }

    static TDWHttpRequest tricklingRequest(const QString &at, int bytes)
    {
        QJsonObject trickle = fault(at, 200);
        trickle[QStringLiteral("body")] = QString(bytes, QLatin1Char('x'));
        trickle[QStringLiteral("trickle")] = 0.1;
        s_fake->addFault(trickle);
        TDWHttpRequest request{QUrl(QStringLiteral("https://www.googleapis.com") + at)};
        request.setConnectTimeout(std::chrono::hours(1));
        request.setIdleTimeout(std::chrono::hours(1));
        return request;
    }
};

TEST_F(TDWHttpClientDeadlineTest, AnApiRequestHasATotalDeadlineByDefaultThatEveryByteDoesNotReset)
{
    // A byte every tenth of a second for 15 s; the default deadline (5 min) is shrunk to 3 s.
    const TDWHttpResponse response = TDWHttpClient().perform(tricklingRequest(QStringLiteral("/drip"), 150));
    EXPECT_EQ(response.error().code(), TDWHttpError::Timeout) << response.error().description().toStdString();
}

TEST_F(TDWHttpClientDeadlineTest, ADownloadMustKeepAMinimumRateAndKeepsTheOldFileWhenItDoesNot)
{
    const QString path = tdwtest::freshDir() + QStringLiteral("/file.bin");
    ASSERT_TRUE(TDWSafeFile::write(path, "old copy", nullptr));

    // Ten bytes a second is below the default minimum rate.
    TDWHttpRequest slow = tricklingRequest(QStringLiteral("/slow"), 150);
    slow.setDownloadPath(path);
    const TDWHttpResponse tooSlow = TDWHttpClient().perform(slow);
    EXPECT_EQ(tooSlow.error().code(), TDWHttpError::Timeout) << tooSlow.error().description().toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("old copy"));
    file.close();
    EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("file.bin")});

    // Above a minimum it is set to, a download outlasts the deadline an API request would have.
    TDWHttpRequest steady = tricklingRequest(QStringLiteral("/steady"), 40);
    steady.setDownloadPath(path);
    steady.setMinimumRate(2);
    steady.setMinimumRateWindow(std::chrono::minutes(5));
    const TDWHttpResponse done = TDWHttpClient().perform(steady);
    ASSERT_TRUE(done.hasResponse()) << done.error().description().toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray(40, 'x'));
}

TEST_F(TDWHttpClientTest, DownloadsAreWrittenThroughTheSafeFileWriter)
{
    const QString folder = tdwtest::freshDir();
    const QString path = folder + QStringLiteral("/file.bin");
    ASSERT_TRUE(TDWSafeFile::write(path, "old copy", nullptr, 0640));

    QJsonObject trickle = fault(QStringLiteral("/file"), 200);
    trickle[QStringLiteral("body")] = QStringLiteral("new content");
    trickle[QStringLiteral("trickle")] = 0.2;
    s_fake->addFault(trickle);
    TDWHttpRequest request{QUrl(QStringLiteral("https://www.googleapis.com/file"))};
    request.setDownloadPath(path);
    TDWHttpClient client;
    TDWHttpResponse cancelled;
    std::thread downloader([&] { cancelled = client.perform(request); });
    // The partial body sits under the writer's temporary name beside the file.
    const auto hasTemporary = [&] {
        const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        return std::any_of(names.begin(), names.end(), [](const QString &name) { return TDWSafeFile::isTemporaryName(name); });
    };
    const bool sawTemporary = tdwtest::waitUntil(hasTemporary);
    client.cancel();
    downloader.join();
    EXPECT_TRUE(sawTemporary);
    EXPECT_EQ(cancelled.error().code(), TDWHttpError::Cancelled);
    EXPECT_FALSE(hasTemporary());

    s_fake->addFault(trickle);
    const mode_t oldMask = ::umask(027);
    const TDWHttpResponse replaced = TDWHttpClient().perform(request);
    const QString fresh = folder + QStringLiteral("/fresh.bin");
    request.setDownloadPath(fresh);
    s_fake->addFault(trickle);
    const TDWHttpResponse created = TDWHttpClient().perform(request);
    ::umask(oldMask);
    ASSERT_TRUE(replaced.hasResponse() && created.hasResponse());
    struct stat info = {};
    // A download is the user's alone, whatever the umask or the mode of the
    // file it replaces.
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(QFile::encodeName(fresh).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("new content"));
}

TEST_F(TDWHttpClientTest, TheWireTraceShowsTheExchangeAndNoSecret)
{
    const QByteArray refreshToken = "rt-trace-secret";
    const QByteArray clientSecret = "cs-trace-secret";
    const QByteArray queryToken = "qt-trace-secret";
    s_fake->addAccount(QJsonObject{{QStringLiteral("email"), QStringLiteral("trace@example.com")},
                                   {QStringLiteral("refresh_token"), QString::fromLatin1(refreshToken)}});
    TDWHttpRequest token{QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/token")), "POST"};
    token.setHeader("Content-Type", "application/x-www-form-urlencoded");
    token.setBody("grant_type=refresh_token&refresh_token=" + refreshToken + "&client_id=tidewell&client_secret=" + clientSecret);
    TDWHttpRequest api = bearerRequest(QStringLiteral("https://www.googleapis.com/drive/v2/about?access_token=") + QString::fromLatin1(queryToken));

    TDWWireTrace::setEnabled(true);
    tdwtest::LogCapture log;
    const TDWHttpResponse answer = TDWHttpClient().perform(token);
    TDWHttpClient().perform(api);
    TDWWireTrace::setEnabled(false);

    ASSERT_EQ(answer.statusCode(), 200) << answer.body().toStdString();
    const QByteArray accessToken = QJsonDocument::fromJson(answer.body()).object().value(QStringLiteral("access_token")).toString().toLatin1();
    ASSERT_FALSE(accessToken.isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("WIRE http accounts.google.com > POST /o/oauth2/token HTTP/1.1")));
    EXPECT_TRUE(log.contains(QStringLiteral("WIRE http accounts.google.com > grant_type=refresh_token&refresh_token=***&client_id=tidewell&client_secret=***")));
    EXPECT_TRUE(log.contains(QStringLiteral("WIRE http accounts.google.com < HTTP/1.1 200")));
    EXPECT_TRUE(log.contains(QStringLiteral("\"access_token\": \"***\"")));
    EXPECT_TRUE(log.contains(QStringLiteral("WIRE http www.googleapis.com > GET /drive/v2/about?access_token=*** HTTP/1.1")));
    EXPECT_TRUE(log.contains(QStringLiteral("WIRE http www.googleapis.com > Authorization: Bearer ***")));
    EXPECT_TRUE(log.contains(QStringLiteral("WIRE http www.googleapis.com > GData-Version: 3.0")));
    for (const QByteArray &secret : {refreshToken, clientSecret, queryToken, Token, accessToken}) {
        for (const QString &line : log.lines())
            EXPECT_FALSE(line.contains(QString::fromLatin1(secret))) << line.toStdString();
    }
}

} // namespace
