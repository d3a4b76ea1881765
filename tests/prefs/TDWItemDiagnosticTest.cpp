// The item diagnostics window and the diagnostics the service table names,
// made through the program's own class registrations, against the fake Google
// server with the demo's data: reports against golden files, the access token
// kept off curl's command line and away from every host but https Google
// ones, redirects followed with a cap, and curl's files private, unique and
// gone at every ending.
#include "DiagnosticFixture.h"
#include "DiagnosticTestSupport.h"
#include "TestSupport.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "common/TDWFileMgr.h"
#include "platform/foundation/TDWClock.h"
#include "prefs/TDWDiagnosticDocs.h"
#include "prefs/TDWDiagnosticWindowController.h"
#include "prefs/TDWItemDiagnostic.h"
#include "prefs/TDWStoredEntryDiagnostic.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QTimeZone>
#include <QUrl>
#include <QWidget>

#include <sys/stat.h>

using namespace diagtest;

namespace {

const QString Docs = QStringLiteral("docs");
const QString PlanContent = QStringLiteral("Planting plan\r\nBeans in May, kale in July.\n");
const QString LeaseContent = QStringLiteral("%PDF-1.4\r\n% lease for the garden flat\n%%EOF\n");
const QString LeasePath = QStringLiteral("/drive/v2/files/pdf-lease");

class TDWItemDiagnosticTest : public DiagnosticTest
{
protected:
    void seedLease() { seed(Docs, QStringLiteral("file"), QStringLiteral("pdf-lease"), QStringLiteral("Lease.pdf")); }
    // A fault on the download of the lease (its metadata request, on the same path, goes first).
    void faultLeaseDownload(QJsonObject fault)
    {
        fault[QStringLiteral("path")] = LeasePath;
        fault[QStringLiteral("skip")] = 1;
        fake().addFault(fault);
    }
};

TEST_F(TDWItemDiagnosticTest, PlanDocumentShowsItsFileObjectThenEachExportWithTheFakesSize)
{
    seed(Docs, QStringLiteral("document"), QStringLiteral("doc-plan"), QStringLiteral("Planting plan"), {},
         {{QStringLiteral("id"), QStringLiteral("doc-plan")}, {QStringLiteral("title"), QStringLiteral("Planting plan")}});
    const auto controller = open(Docs, QStringLiteral("doc-plan"));
    ASSERT_TRUE(tdwtest::waitUntil([&] { return controller->isFinished(); }, std::chrono::seconds(90)));
    const QString text = textOf(*controller);
    expectGolden(text, QStringLiteral("item-plan-document"));
    saveScreenshot(controller->window(), QStringLiteral("item-diagnostics"));
    EXPECT_TRUE(text.contains(QStringLiteral("Resulting file size: %1").arg(PlanContent.toUtf8().size())));
    EXPECT_TRUE(tokenLeaks(fake()).isEmpty()) << tokenLeaks(fake()).join(u'\n').toStdString();
    EXPECT_TRUE(curlTempFiles().isEmpty());
}

TEST_F(TDWItemDiagnosticTest, UploadedFileIsDownloadedOnceFromItsDownloadUrl)
{
    seedLease();
    const QString text = report(Docs, QStringLiteral("pdf-lease"));
    expectGolden(text, QStringLiteral("item-lease"));
    EXPECT_EQ(text.count(QStringLiteral("Executing curl as follows:")), 1);
    EXPECT_TRUE(text.contains(QStringLiteral("Resulting file size: %1").arg(LeaseContent.toUtf8().size())));
}

TEST_F(TDWItemDiagnosticTest, ExportLinksGiveOneRunEachSeparated)
{
    seedLease();
    const QString download = QStringLiteral("https://www.googleapis.com/drive/v2/files/pdf-lease?alt=media");
    fake().addFault({{"path", LeasePath}, {"content_type", "application/json"},
                     {"body", QJsonObject{{"id", "pdf-lease"},
                                          {"exportLinks", QJsonObject{{"text/plain", download + "&f=1"}, {"application/pdf", download + "&f=2"},
                                                                      {"text/html", download + "&f=3"}}}}}});
    const QString text = report(Docs, QStringLiteral("pdf-lease"));
    EXPECT_EQ(text.count(QStringLiteral("Executing curl as follows:")), 3);
    EXPECT_EQ(text.count(QStringLiteral("=======")), 2);
    // In the order of the MIME types.
    EXPECT_LT(text.indexOf(QStringLiteral("f=2")), text.indexOf(QStringLiteral("f=3")));
    EXPECT_LT(text.indexOf(QStringLiteral("f=3")), text.indexOf(QStringLiteral("f=1")));
    EXPECT_EQ(text.count(QStringLiteral("Resulting file size: %1").arg(LeaseContent.toUtf8().size())), 3);
    EXPECT_TRUE(curlTempFiles().isEmpty());
}

// Location in any case and with blanks around it, relative to the URL that
// gave it; the token goes to the Google hop, not to the other https host, and
// curl refuses the plain-http one outright.
TEST_F(TDWItemDiagnosticTest, RedirectsAreResolvedAndTheTokenStaysOnGoogleHttps)
{
    seedLease();
    const QString elsewhere = QStringLiteral("https://127.0.0.1:%1/hop/b").arg(fake().httpsPort());
    faultLeaseDownload({{"status", 302}, {"headers", QJsonObject{{"LOCATION", "  \t/hop/a \t"}}}});
    fake().addFault({{"path", "/hop/a"}, {"status", 302}, {"headers", QJsonObject{{"location", elsewhere}}}});
    fake().addFault({{"path", "/hop/b"}, {"status", 302}, {"location", "http://www.google.com/hop/c"}});
    const QString text = report(Docs, QStringLiteral("pdf-lease"));
    expectGolden(text, QStringLiteral("item-redirects"));
    EXPECT_EQ(text.count(QStringLiteral("Following redirect\u2026")), 3);
    EXPECT_TRUE(text.contains(QStringLiteral("curl command failed")));
    const QJsonArray hopA = fake().requestsTo(QStringLiteral("/hop/a"));
    ASSERT_EQ(hopA.size(), 1);
    EXPECT_EQ(hopA[0][QStringLiteral("host")].toString(), QStringLiteral("www.googleapis.com"));
    EXPECT_EQ(hopA[0][QStringLiteral("headers")][QStringLiteral("authorization")].toString(), QStringLiteral("Bearer ") + DemoToken);
    const QJsonArray hopB = fake().requestsTo(QStringLiteral("/hop/b"));
    ASSERT_EQ(hopB.size(), 1);
    EXPECT_FALSE(hopB[0][QStringLiteral("headers")].toObject().contains(QStringLiteral("authorization")));
    EXPECT_TRUE(fake().requestsTo(QStringLiteral("/hop/c")).isEmpty());
    EXPECT_TRUE(tokenLeaks(fake()).isEmpty()) << tokenLeaks(fake()).join(u'\n').toStdString();
}

TEST_F(TDWItemDiagnosticTest, MetadataRedirectsCarryTheTokenOnlyToGoogleHttps)
{
    seedLease();
    for (const QString &target : {QStringLiteral("http://www.googleapis.com/meta/plain"), QStringLiteral("https://127.0.0.1:%1/meta/other").arg(fake().httpsPort())}) {
        SCOPED_TRACE(target.toStdString());
        fake().clearRequests();
        fake().addFault({{"path", LeasePath}, {"status", 302}, {"location", target}});
        const QString text = report(Docs, QStringLiteral("pdf-lease"));
        EXPECT_TRUE(text.contains(QStringLiteral("Unexpected status code (404) when retrieving metadata."))) << text.toStdString();
        EXPECT_EQ(fake().requestsTo(QUrl(target).path()).size(), 1);
        EXPECT_TRUE(tokenLeaks(fake()).isEmpty()) << tokenLeaks(fake()).join(u'\n').toStdString();
    }
}

TEST_F(TDWItemDiagnosticTest, ARedirectLoopStopsAtTheCap)
{
    seedLease();
    faultLeaseDownload({{"status", 302}, {"location", "/loop/a"}});
    fake().addFault({{"path", "/loop/a"}, {"status", 302}, {"location", "/loop/b"}, {"times", -1}});
    fake().addFault({{"path", "/loop/b"}, {"status", 302}, {"location", "a"}, {"times", -1}});
    const QString text = report(Docs, QStringLiteral("pdf-lease"));
    EXPECT_EQ(text.count(QStringLiteral("Following redirect\u2026")), TDWDiagnosticDocs::MaxRedirects);
    EXPECT_TRUE(text.contains(QStringLiteral("Not following more than 10 redirects.")));
    EXPECT_TRUE(curlTempFiles().isEmpty());
}

TEST_F(TDWItemDiagnosticTest, MetadataFailuresEndTheReport)
{
    seedLease();
    const struct
    {
        QJsonObject fault;
        QString expected;
        QString golden;
    } cases[] = {
        {{{"status", 500}}, QStringLiteral("Unexpected status code (500) when retrieving metadata."), {}},
        {{{"body", "{not json"}, {"content_type", "application/json"}}, QStringLiteral("Refreshed metadata: {not json"), QStringLiteral("item-metadata-not-json")},
        {{{"body", QJsonObject{{"exportLinks", "text"}}}}, QStringLiteral("ERROR parsing metadata: \"exportLinks\" is not an object."), {}},
        {{{"drop", true}}, QStringLiteral("Encountered error when retrieving metadata: "), {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        QJsonObject fault = c.fault;
        fault[QStringLiteral("path")] = LeasePath;
        fake().addFault(fault);
        const QString text = report(Docs, QStringLiteral("pdf-lease"));
        EXPECT_TRUE(text.contains(c.expected)) << text.toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral("Executing curl")));
        if (!c.golden.isEmpty())
            expectGolden(text, c.golden);
    }
}

TEST_F(TDWItemDiagnosticTest, ASlowDownloadIsEndedByTheKillTime)
{
    seedLease();
    faultLeaseDownload({{"stall", 20}});
    // 120 seconds become 6.
    TDWClock::setDurationScale(0.05);
    const QString text = report(Docs, QStringLiteral("pdf-lease"));
    TDWClock::setDurationScale(1.0);
    expectGolden(text, QStringLiteral("item-kill-time"));
    EXPECT_TRUE(text.contains(QStringLiteral("curl command failed\n\ncurl: (28)"))) << text.toStdString();
    EXPECT_TRUE(curlTempFiles().isEmpty());
}

// Two diagnostics at once, each curl held by the fake: neither curl's command
// line nor its environment holds the token, and each run has its own two
// private files, all gone at the end.
TEST_F(TDWItemDiagnosticTest, CurlsHoldNoTokenAndConcurrentRunsHavePrivateFilesOfTheirOwn)
{
    seedLease();
    seed(Docs, QStringLiteral("document"), QStringLiteral("doc-plan"), QStringLiteral("Planting plan"));
    // Bodies of different sizes: each report must show its own.
    const QByteArray leaseBody = "the lease, held back";
    const QByteArray planBody = "the plan's export, held back a while";
    faultLeaseDownload({{"stall", 2}, {"body", QString::fromLatin1(leaseBody)}});
    fake().addFault({{"path", "/feeds/download/export"}, {"stall", 2}, {"body", QString::fromLatin1(planBody)}});
    const auto lease = open(Docs, QStringLiteral("pdf-lease"));
    const auto plan = open(Docs, QStringLiteral("doc-plan"));
    bool tokenSeen = false;
    QSet<QString> files;
    bool allPrivate = true;
    const int curls = watchCurls(
        [&](const QByteArray &cmdline, const QByteArray &environ) {
            tokenSeen = tokenSeen || cmdline.contains(DemoToken.toUtf8()) || environ.contains(DemoToken.toUtf8());
            for (const QString &name : curlTempFiles()) {
                files.insert(name);
                struct stat info = {};
                if (::stat(QFile::encodeName(QDir(TDWFileMgr::tempPath()).filePath(name)).constData(), &info) == 0)
                    allPrivate = allPrivate && (info.st_mode & 0777) == 0600;
            }
        },
        [&] { return lease->isFinished() && plan->isFinished(); });
    EXPECT_GE(curls, 2);
    EXPECT_FALSE(tokenSeen);
    EXPECT_TRUE(allPrivate);
    EXPECT_EQ(files.size(), 4);
    EXPECT_EQ(textOf(*lease).count(QStringLiteral("Resulting file size: %1").arg(leaseBody.size())), 1);
    EXPECT_EQ(textOf(*plan).count(QStringLiteral("Resulting file size: %1").arg(planBody.size())), 1);
    EXPECT_TRUE(curlTempFiles().isEmpty());
}

TEST_F(TDWItemDiagnosticTest, ClosingTheWindowEndsCurlAndRemovesItsFiles)
{
    seedLease();
    faultLeaseDownload({{"stall", 30}});
    auto controller = open(Docs, QStringLiteral("pdf-lease"));
    bool closed = false;
    QObject::connect(controller.get(), &TDWDiagnosticWindowController::windowClosed, [&] { closed = true; });
    ASSERT_TRUE(tdwtest::waitUntil([] { return !curlTempFiles().isEmpty(); }));
    ASSERT_TRUE(tdwtest::waitUntil([&] { return !fake().requestsTo(LeasePath).isEmpty() && fake().requestsTo(LeasePath).size() == 2; }));
    controller->showWindow();
    controller->window()->close();
    EXPECT_TRUE(closed);
    controller.reset();
    EXPECT_TRUE(tdwtest::waitUntil([] { return curlTempFiles().isEmpty(); }, std::chrono::seconds(10)));
    bool curlLeft = true;
    tdwtest::waitUntil([&] {
        curlLeft = watchCurls([](const QByteArray &, const QByteArray &) {}, [] { return true; }) > 0;
        return !curlLeft;
    }, std::chrono::seconds(10));
    EXPECT_FALSE(curlLeft);
}

TEST_F(TDWItemDiagnosticTest, StoredEntriesAreShownAsTextOneTagALine)
{
    seed(QStringLiteral("contacts"), QStringLiteral("contact"), QStringLiteral("c-ann"), QStringLiteral("Ann Example"),
         QStringLiteral("<entry><title>Ann</title><content><b>x</b></content>\n <note>kept</note></entry>"));
    const QString text = report(QStringLiteral("contacts"), QStringLiteral("c-ann"));
    expectGolden(text, QStringLiteral("item-contact"));
    EXPECT_TRUE(text.contains(QStringLiteral("<entry>\n<title>Ann</title>\n<content>\n<b>x</b>\n</content>\n <note>kept</note>\n</entry>\n\n")));
    EXPECT_TRUE(fake().requests().isEmpty());
}

TEST_F(TDWItemDiagnosticTest, EveryStoredEntryServiceFinishesAlsoWithoutItsRevision)
{
    for (const QString &service : {QStringLiteral("contacts"), QStringLiteral("reader"), QStringLiteral("picasaweb"), Docs, QStringLiteral("calendar")}) {
        SCOPED_TRACE(service.toStdString());
        const QString text = report(service, QStringLiteral("gone"));
        EXPECT_TRUE(text.endsWith(QStringLiteral("Unable to locate item revision.\n\n"))) << text.toStdString();
    }
    seed(QStringLiteral("reader"), QStringLiteral("subscription"), QStringLiteral("feed/x"), QStringLiteral("X"));
    EXPECT_TRUE(report(QStringLiteral("reader"), QStringLiteral("feed/x")).endsWith(QStringLiteral("(null)\n\n")));
}

TEST_F(TDWItemDiagnosticTest, CalendarEventsAreFetchedWithTheIdEncoded)
{
    seed(QStringLiteral("calendar"), QStringLiteral("calendarmeta"), Demo, Demo, {},
         {{QStringLiteral("id"), Demo}, {QStringLiteral("summary"), Demo}});
    const QString text = report(QStringLiteral("calendar"), Demo);
    expectGolden(text, QStringLiteral("item-calendar"));
    EXPECT_TRUE(text.contains(QStringLiteral("Stored JSON data: ")));
    EXPECT_TRUE(text.contains(QStringLiteral("(null)")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"summary\": \"Swimming\"")));
    EXPECT_TRUE(curlTempFiles().isEmpty());

    seed(QStringLiteral("calendar"), QStringLiteral("calendarmeta"), QStringLiteral("a@b#c"), QStringLiteral("Odd"));
    const QString odd = report(QStringLiteral("calendar"), QStringLiteral("a@b#c"));
    EXPECT_TRUE(odd.contains(QStringLiteral("/calendar/v3/calendars/a%40b%23c/events"))) << odd.toStdString();
    EXPECT_TRUE(odd.contains(QStringLiteral("HTTP/1.1 404")));
    EXPECT_TRUE(tokenLeaks(fake()).isEmpty());
}

TEST_F(TDWItemDiagnosticTest, ARefusedRefreshTokenStopsBeforeAnyRequest)
{
    seedLease();
    auto credential = std::make_shared<TDWCredential>();
    credential->setRefreshToken(QStringLiteral("1//demo-sample-account"));
    credential->setAccessToken(DemoToken);
    credential->setRefreshTokenInvalid(true);
    ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, Demo, true));
    const QString text = report(Docs, QStringLiteral("pdf-lease"));
    EXPECT_TRUE(text.endsWith(QStringLiteral("The refresh token is either invalid or missing.  Please log in using the Preferences window.\n\n")));
    EXPECT_TRUE(fake().requests().isEmpty());
}

// An expired token is renewed first; a renewal the fake refuses ends the
// report with the retriever's message and tells the user nothing more.
TEST_F(TDWItemDiagnosticTest, AnExpiredTokenIsRenewedOrTheReportSaysWhyNot)
{
    seedLease();
    auto credential = std::make_shared<TDWCredential>();
    credential->setRefreshToken(QStringLiteral("1//demo-sample-account"));
    credential->setAccessToken(QStringLiteral("ya29.expired"));
    credential->setAccessTokenExpires(TDWClock::now().addSecs(-60));
    ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, Demo, true));
    const QString renewed = report(Docs, QStringLiteral("pdf-lease"));
    EXPECT_TRUE(renewed.contains(QStringLiteral("Resulting file size: %1").arg(LeaseContent.toUtf8().size()))) << renewed.toStdString();
    EXPECT_EQ(fake().requestsTo(QStringLiteral("/o/oauth2/token")).size(), 1);

    auto unknown = std::make_shared<TDWCredential>();
    unknown->setRefreshToken(QStringLiteral("1//unknown"));
    unknown->setAccessToken(QStringLiteral("ya29.expired"));
    unknown->setAccessTokenExpires(TDWClock::now().addSecs(-60));
    ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(unknown, Demo, true));
    fake().clearRequests();
    const QString refused = report(Docs, QStringLiteral("pdf-lease"));
    EXPECT_TRUE(refused.contains(QStringLiteral("\n\nUnable to retrieve an access token: "))) << refused.toStdString();
    EXPECT_TRUE(fake().requestsTo(LeasePath).isEmpty());
}

TEST_F(TDWItemDiagnosticTest, TheHeaderDateIsUtcWhateverTheZone)
{
    EXPECT_EQ(TDWDiagnosticWindowController::headerDate(QDateTime(QDate(2026, 7, 1), QTime(23, 30), QTimeZone("Pacific/Auckland"))),
              QStringLiteral("2026-07-01 11:30:00"));
}

} // namespace
