// The classes the service table names, as the application's start-up
// registers them: every name the shipped table gives makes an object of the
// right class, and a preflight with mail runs the mail check.
#include "app/TDWRegisterClasses.h"

#include "accounts/TDWApiPreflightOperation.h"
#include "accounts/TDWPreflightDelegate.h"
#include "accounts/TDWPreflightMgr.h"
#include "agent/TDWApiBackupOperation.h"
#include "agent/TDWBackupOperationClasses.h"
#include "common/TDWServiceTable.h"
#include "mail/TDWMailPreflightOperation.h"
#include "platform/foundation/TDWPropertyList.h"
#include "prefs/TDWDiagnosticCal.h"
#include "prefs/TDWDiagnosticDocs.h"
#include "prefs/TDWItemDiagnostic.h"
#include "prefs/TDWItemDiagnosticReport.h"
#include "prefs/TDWStoredEntryDiagnostic.h"
#include "platform/foundation/TDWResources.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "services/TDWCalendarListParser.h"
#include "services/TDWCalendarServiceDelegate.h"
#include "services/TDWContactsServiceDelegate.h"
#include "services/TDWDocListParser.h"
#include "services/TDWDocsServiceDelegate.h"
#include "services/TDWDriveListParser.h"
#include "services/TDWParserFactory.h"
#include "services/TDWPicasaServiceDelegate.h"
#include "services/TDWReaderSubscriptionListParser.h"
#include "services/TDWReaderServiceDelegate.h"
#include "services/TDWReaderTagListParser.h"
#include "services/TDWTaskListParser.h"

#include "FakeGoogleServer.h"
#include "TestSupport.h"

#include <QTcpServer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Every value under `key` anywhere in the entry, in table order.
void collect(const QVariant &value, const QString &key, QStringList *names)
{
    if (value.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (it.key() == key)
                names->append(it.value().toString());
            else
                collect(it.value(), key, names);
        }
    } else if (value.typeId() == QMetaType::QVariantList) {
        for (const QVariant &item : value.toList())
            collect(item, key, names);
    }
}

QStringList namesInShippedTable(const QString &key)
{
    QStringList names;
    collect(TDWServiceTable::shared().getConfig().value(QStringLiteral("services")), key, &names);
    names.removeDuplicates();
    return names;
}

template <class T, class Base>
std::function<bool(const Base *)> isA()
{
    return [](const Base *object) { return dynamic_cast<const T *>(object) != nullptr; };
}

class RecordingDelegate : public TDWPreflightDelegate
{
public:
    void handlePreflightFailure(const TDWError &error) override { outcome = error.localizedDescription(); }
    void handlePreflightSuccess() override { outcome = QStringLiteral("success"); }
    QString outcome;
};

class TDWRegisterClassesTest : public ::testing::Test
{
protected:
    void SetUp() override { TDWRegisterClasses(); }
    void TearDown() override
    {
        TDWServiceTable::shared().load(TDWResources::path(QStringLiteral("Config"), QStringLiteral("plist")), nullptr);
    }
};

TEST_F(TDWRegisterClassesTest, EveryPreflightClassOfTheTableIsMade)
{
    const QHash<QString, std::function<bool(const TDWPreflight *)>> expected = {
        {QStringLiteral("TDWApiPreflightOperation"), isA<TDWApiPreflightOperation, TDWPreflight>()},
        {QStringLiteral("TDWMailPreflightOperation"), isA<TDWMailPreflightOperation, TDWPreflight>()},
    };
    const QStringList names = namesInShippedTable(QStringLiteral("preflightClass"));
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()), QSet<QString>(expected.keyBegin(), expected.keyEnd()));
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        const std::unique_ptr<TDWPreflight> check =
            TDWPreflightClasses::shared().create(name, QStringLiteral("user@example.com"), QStringLiteral("token"), QStringLiteral("docs"));
        ASSERT_NE(check, nullptr);
        EXPECT_TRUE(expected.value(name)(check.get()));
        EXPECT_EQ(check->username(), QStringLiteral("user@example.com"));
    }
}

TEST_F(TDWRegisterClassesTest, EveryParserClassOfTheTableIsMade)
{
    const QHash<QString, std::function<bool(const TDWParser *)>> expected = {
        {QStringLiteral("TDWDocListParser"), isA<TDWDocListParser, TDWParser>()},
        {QStringLiteral("TDWDriveListParser"), isA<TDWDriveListParser, TDWParser>()},
        {QStringLiteral("TDWCalendarListParser"), isA<TDWCalendarListParser, TDWParser>()},
        {QStringLiteral("TDWReaderTagListParser"), isA<TDWReaderTagListParser, TDWParser>()},
        {QStringLiteral("TDWReaderSubscriptionListParser"), isA<TDWReaderSubscriptionListParser, TDWParser>()},
        {QStringLiteral("TDWTaskListParser"), isA<TDWTaskListParser, TDWParser>()},
        // A list URL without a class is an Atom list.
        {QString(), isA<TDWDocListParser, TDWParser>()},
    };
    QStringList names = namesInShippedTable(QStringLiteral("parserClass"));
    ASSERT_FALSE(names.isEmpty());
    // The task lists are reached from the calendar list, not named by the table.
    names << QStringLiteral("TDWTaskListParser") << QString();
    const auto config = std::make_shared<const TDWParserConfig>(TDWServiceTable::shared().getConfig());
    for (const QString &name : std::as_const(names)) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(expected.contains(name));
        const std::unique_ptr<TDWParser> parser = TDWParserFactory::create(name, config);
        ASSERT_NE(parser, nullptr);
        EXPECT_TRUE(expected.value(name)(parser.get()));
    }
}

TEST_F(TDWRegisterClassesTest, EveryServiceBackedUpOverTheApisMakesTheApiBackupOperation)
{
    QStringList apiServices;
    for (const TDWServiceConfig &service : TDWServiceTable::shared().serviceConfigs()) {
        if (service.backupOperationClass != QLatin1String("TDWApiBackupOperation"))
            continue;
        SCOPED_TRACE(service.id.toStdString());
        apiServices.append(service.id);
        const std::unique_ptr<TDWOperation> made =
            TDWBackupOperationClasses::shared().create(service.backupOperationClass, QStringLiteral("user@example.com"), service.id);
        const auto *operation = dynamic_cast<const TDWApiBackupOperation *>(made.get());
        ASSERT_NE(operation, nullptr);
        EXPECT_EQ(operation->username(), QStringLiteral("user@example.com"));
        EXPECT_EQ(operation->service(), service.id);
    }
    EXPECT_TRUE(apiServices.contains(QStringLiteral("docs")));
    EXPECT_TRUE(apiServices.contains(QStringLiteral("contacts")));
    EXPECT_FALSE(apiServices.contains(QStringLiteral("mail")));
}

TEST_F(TDWRegisterClassesTest, ANameNothingRegisteredMakesNothing)
{
    EXPECT_EQ(TDWPreflightClasses::shared().create(QStringLiteral("TDWNoSuchCheck"), QStringLiteral("u"), QStringLiteral("t"), QStringLiteral("mail")),
              nullptr);
    {
        tdwtest::LogCapture log;
        EXPECT_EQ(TDWParserFactory::create(QStringLiteral("TDWNoSuchParser"), std::make_shared<const TDWParserConfig>()), nullptr);
        EXPECT_TRUE(log.contains(QStringLiteral("ERROR: No list parser \"TDWNoSuchParser\"")));
    }

    // A table naming a check that nothing registered fails that service's
    // preflight with a message the user can read, and says why in the log.
    const QVariantMap service{{QStringLiteral("id"), QStringLiteral("mail")},
                              {QStringLiteral("listOfItemsLabel"), QStringLiteral("Gmail message list")},
                              {QStringLiteral("preflightClass"), QStringLiteral("TDWNoSuchCheck")}};
    const QString path = tdwtest::freshDir() + QStringLiteral("/Config.plist");
    ASSERT_TRUE(TDWPropertyList::writeFile(QVariantMap{{QStringLiteral("services"), QVariantList{service}}}, path, nullptr));
    ASSERT_TRUE(TDWServiceTable::shared().load(path, nullptr));
    tdwtest::LogCapture log;
    RecordingDelegate delegate;
    TDWPreflightMgr manager(QStringLiteral("user@example.com"), QStringLiteral("token"), {QStringLiteral("mail")}, &delegate);
    manager.start();
    ASSERT_TRUE(tdwtest::waitUntil([&] { return !delegate.outcome.isEmpty(); }));
    EXPECT_EQ(delegate.outcome, QStringLiteral("Unable to retrieve the Gmail message list: No check is available for this service."));
    EXPECT_EQ(manager.mailPreflightOperation(), nullptr);
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: No preflight check \"TDWNoSuchCheck\" for service mail")));
}

// The account setup's preflight of a Gmail account runs the mail check (here
// against a port where nothing listens, so it fails as a refused connection).
TEST_F(TDWRegisterClassesTest, APreflightWithMailRunsTheMailCheck)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const int port = closed.serverPort();
    closed.close();
    TDWUserDefaults::standard()->setString(QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("Hostname"));

    RecordingDelegate delegate;
    TDWPreflightMgr manager(QStringLiteral("user@example.com"), QStringLiteral("token"), {QStringLiteral("mail")}, &delegate);
    manager.start();
    ASSERT_TRUE(tdwtest::waitUntil([&] { return !delegate.outcome.isEmpty(); }, std::chrono::seconds(60)));
    EXPECT_EQ(delegate.outcome, QStringLiteral("Unable to connect to Google Mail via IMAP."));
    EXPECT_NE(dynamic_cast<TDWMailPreflightOperation *>(manager.mailPreflightOperation()), nullptr);
    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("Hostname"));
}

} // namespace

TEST_F(TDWRegisterClassesTest, EveryServiceDelegateClassOfTheTableIsMade)
{
    const QHash<QString, std::function<bool(const TDWServiceDelegate *)>> expected = {
        {QStringLiteral("TDWDocsServiceDelegate"), isA<TDWDocsServiceDelegate, TDWServiceDelegate>()},
        {QStringLiteral("TDWCalendarServiceDelegate"), isA<TDWCalendarServiceDelegate, TDWServiceDelegate>()},
        {QStringLiteral("TDWContactsServiceDelegate"), isA<TDWContactsServiceDelegate, TDWServiceDelegate>()},
        {QStringLiteral("TDWReaderServiceDelegate"), isA<TDWReaderServiceDelegate, TDWServiceDelegate>()},
        {QStringLiteral("TDWPicasaServiceDelegate"), isA<TDWPicasaServiceDelegate, TDWServiceDelegate>()},
    };
    const QStringList names = namesInShippedTable(QStringLiteral("serviceDelegateClass"));
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()), QSet<QString>(expected.keyBegin(), expected.keyEnd()));
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        const std::unique_ptr<TDWServiceDelegate> delegate = TDWServiceDelegateClasses::shared().create(name);
        ASSERT_NE(delegate, nullptr);
        EXPECT_TRUE(expected.value(name)(delegate.get()));
    }
}

TEST_F(TDWRegisterClassesTest, EveryDiagnosticClassOfTheTableIsMade)
{
    const QHash<QString, std::function<bool(const TDWItemDiagnostic *)>> expected = {
        {QStringLiteral("TDWDiagnosticDocs"), isA<TDWDiagnosticDocs, TDWItemDiagnostic>()},
        {QStringLiteral("TDWDiagnosticCal"), isA<TDWDiagnosticCal, TDWItemDiagnostic>()},
        {QStringLiteral("TDWDiagnosticContacts"), isA<TDWStoredEntryDiagnostic, TDWItemDiagnostic>()},
        {QStringLiteral("TDWDiagnosticReader"), isA<TDWStoredEntryDiagnostic, TDWItemDiagnostic>()},
        {QStringLiteral("TDWDiagnosticPicasaWeb"), isA<TDWStoredEntryDiagnostic, TDWItemDiagnostic>()},
    };
    const QStringList names = namesInShippedTable(QStringLiteral("diagnosticClass"));
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()), QSet<QString>(expected.keyBegin(), expected.keyEnd()));
    // The typed field of each service says the same as the table.
    QStringList typed;
    for (const TDWServiceConfig &service : TDWServiceTable::shared().serviceConfigs()) {
        if (!service.diagnosticClass.isEmpty())
            typed << service.diagnosticClass;
    }
    EXPECT_EQ(QSet<QString>(typed.begin(), typed.end()), QSet<QString>(names.begin(), names.end()));
    EXPECT_TRUE(TDWServiceTable::shared().serviceConfig(QStringLiteral("docs")).diagnosticClass == QLatin1String("TDWDiagnosticDocs"));
    struct NoReport : TDWItemDiagnosticReport
    {
        void addOutputString(const QString &) override {}
        void done() override {}
    } report;
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        const std::unique_ptr<TDWItemDiagnostic> diagnostic = TDWItemDiagnosticClasses::shared().create(name, TDWManagedObjectID(), &report);
        ASSERT_NE(diagnostic, nullptr);
        EXPECT_TRUE(expected.value(name)(diagnostic.get()));
    }
}
