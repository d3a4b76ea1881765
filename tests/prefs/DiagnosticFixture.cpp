#include "DiagnosticFixture.h"

#include "TestSupport.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "app/TDWRegisterClasses.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "platform/foundation/TDWClock.h"
#include "prefs/TDWDiagnosticReportView.h"
#include "prefs/TDWDiagnosticWindowController.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTimeZone>

namespace diagtest {

namespace {

QJsonObject demoScenario()
{
    const QString folder = tdwtest::freshDir(QStringLiteral("sample"));
    QProcess sample;
    sample.start(QStringLiteral("python3"), {tdwtest::sourcePath(QStringLiteral("tools/demo/make_sample.py")), folder,
                                             QStringLiteral("--messages"), QStringLiteral("1")});
    EXPECT_TRUE(sample.waitForFinished(60000) && sample.exitCode() == 0) << sample.readAllStandardError().toStdString();
    QFile file(QDir(folder).filePath(QStringLiteral("google.json")));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QJsonObject scenario = QJsonDocument::fromJson(file.readAll()).object();
    QJsonObject lists = scenario[QStringLiteral("lists")].toObject();
    lists[QStringLiteral("page_size")] = 2;
    scenario[QStringLiteral("lists")] = lists;
    return scenario;
}

} // namespace

void DiagnosticTest::SetUpTestSuite()
{
    TDWRegisterClasses();
    startFake(demoScenario());
}

void DiagnosticTest::SetUp()
{
    ASSERT_TRUE(s_fake);
    FakeGoogleTest::SetUp();
    s_fake->clearRequests();
    TDWClock::setNowProvider([] { return QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53), QTimeZone::utc()); });
    stack.addAccount(Demo, {QStringLiteral("docs"), QStringLiteral("contacts"), QStringLiteral("calendar"), QStringLiteral("reader"),
                            QStringLiteral("picasaweb")});
    auto credential = std::make_shared<TDWCredential>();
    credential->setRefreshToken(QStringLiteral("1//demo-sample-account"));
    credential->setAccessToken(DemoToken);
    ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, Demo, true));
}

void DiagnosticTest::TearDown()
{
    QCoreApplication::processEvents();
    TDWClock::setNowProvider({});
}

void DiagnosticTest::seed(const QString &service, const QString &docType, const QString &docId, const QString &title, const QString &xmlString,
                          const QVariantMap &json)
{
    TDWManagedObjectContext &moc = *stack.moc;
    const TDWAccount::Ptr account = TDWAccount::byUsername(Demo, moc, nullptr);
    const TDWDoc::Ptr doc = TDWDoc::newWithMoc(moc, stack.store(Demo, service));
    doc->setDocId(docId);
    doc->setService(service);
    doc->setAccountUsername(Demo);
    doc->setDocType(docType);
    doc->setDirPath(account->dirPath() + QLatin1Char('/') + title);
    const TDWDocRev::Ptr rev = TDWDocRev::newWithMoc(moc, stack.store(Demo, service));
    rev->setDoc(doc);
    rev->setTitle(title);
    rev->setLatest(true);
    rev->setDirPath(doc->dirPath() + QStringLiteral("/1"));
    if (!xmlString.isNull())
        rev->setXmlString(xmlString);
    if (!json.isEmpty())
        rev->setExtensibleProperty(json, QStringLiteral("jsonDictionary"));
    TDWError error;
    ASSERT_TRUE(moc.save(&error)) << error.description().toStdString();
}

std::unique_ptr<TDWDiagnosticWindowController> DiagnosticTest::open(const QString &service, const QString &docId)
{
    return std::make_unique<TDWDiagnosticWindowController>(Demo, docId, service);
}

QString DiagnosticTest::report(const QString &service, const QString &docId)
{
    const std::unique_ptr<TDWDiagnosticWindowController> controller = open(service, docId);
    EXPECT_TRUE(tdwtest::waitUntil([&] { return controller->isFinished(); }, std::chrono::seconds(90)));
    return textOf(*controller);
}

QString DiagnosticTest::textOf(const TDWDiagnosticWindowController &controller)
{
    return controller.textView()->toPlainText();
}

} // namespace diagtest
