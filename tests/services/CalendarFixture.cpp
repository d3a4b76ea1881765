#include "CalendarFixture.h"

#include "TestSupport.h"
#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "agent/TDWApiBackupOperation.h"
#include "app/TDWRegisterClasses.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWClock.h"
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"
#include "services/TDWCalendarDatabaseUpdate.h"
#include "services/TDWCalendarEventStore.h"

#include "common/TDWFileMgr.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QJsonDocument>

namespace caltest {

void CalendarFixture::SetUp()
{
    TDWRegisterClasses();
    stack.addAccount(Alice, {QStringLiteral("calendar")});
    TDWKeyring::setBackend(std::make_shared<TDWFileKeyring>(tdwtest::freshDir(QStringLiteral("keyring"))));
    auto credential = std::make_shared<TDWCredential>();
    credential->setRefreshToken(QStringLiteral("rt-alice"));
    credential->setAccessToken(QStringLiteral("at-alice"));
    ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, Alice, true));
    ASSERT_TRUE(server.start(scenario()));
}

void CalendarFixture::TearDown()
{
    server.stop();
    TDWClock::setDurationScale(1.0);
    TDWKeyring::setBackend(nullptr);
}

QJsonObject CalendarFixture::scenario()
{
    QFile file(tdwtest::sourcePath(QStringLiteral("tests/services/fixtures/calendarevents/scenario.json")));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QJsonDocument::fromJson(file.readAll()).object();
}

TDWManagedObjectID CalendarFixture::seedCalendar(qint64 exportStatus, const QString &docId, const QString &accessRole)
{
    const TDWPersistentStorePtr store = stack.store(Alice, QStringLiteral("calendar"));
    auto doc = TDWDoc::newWithMoc(*stack.moc, store);
    doc->setDocId(docId);
    doc->setDocType(QStringLiteral("calendarmeta"));
    doc->setService(QStringLiteral("calendar"));
    doc->setAccountUsername(Alice);
    doc->setDirPath(QStringLiteral("Alice"));
    auto rev = TDWDocRev::newWithMoc(*stack.moc, store);
    rev->setDoc(doc);
    rev->setTitle(QStringLiteral("Alice"));
    rev->setAccessRole(accessRole);
    rev->setDirPath(QStringLiteral("Alice/1"));
    rev->setFilePath(QStringLiteral("Alice/1/Alice.ics"));
    rev->setExportStatus(exportStatus);
    rev->setLatest(true);
    rev->setFirstSeenDate(dotest::at(1));
    rev->setLastSeenDate(dotest::at(1));
    rev->setExtensibleProperty(true, QStringLiteral("has216fix"));
    rev->setExtensibleProperty(true, QStringLiteral("has252calendarfix"));
    EXPECT_TRUE(stack.moc->save(nullptr));
    // The listing makes the revision's folder with the revision.
    QDir().mkpath(QFileInfo(backupFilePath(rev)).absolutePath());
    return rev->objectID();
}

void CalendarFixture::exportCalendar(const TDWManagedObjectID &docRevId)
{
    const std::shared_ptr<TDWOperation> operation(TDWExportOperationClasses::shared().create(QStringLiteral("TDWCalendarExportOperation"), docRevId, Alice));
    ASSERT_TRUE(operation);
    operation->start();
    operation->waitUntilFinished();
    stack.moc->reset();
}

bool CalendarFixture::synchronise(const TDWManagedObjectID &docRevId, const QDateTime &iterationDate)
{
    const std::shared_ptr<TDWCalendarDatabaseUpdate> operation(
        TDWCalendarUpdateClasses::shared().create(TDWCalendarDatabaseUpdate::ClassName, docRevId, Alice, iterationDate));
    EXPECT_TRUE(operation);
    if (!operation)
        return false;
    operation->start();
    EXPECT_TRUE(operation->isFinished());
    stack.moc->reset();
    return operation->successful();
}

TDWDoc::Ptr CalendarFixture::calendarDoc()
{
    const auto docs = TDWDoc::allByStore(stack.store(Alice, QStringLiteral("calendar")), *stack.moc, nullptr);
    return docs && docs->size() == 1 ? docs->first() : nullptr;
}

TDWDocRev::Ptr CalendarFixture::revision(const TDWManagedObjectID &id)
{
    return std::dynamic_pointer_cast<TDWDocRev>(stack.moc->existingObjectWithID(id, nullptr));
}

TDWDocRev::Ptr CalendarFixture::latestRevision()
{
    return TDWDocRev::latestForDoc(calendarDoc(), QDateTime(), *stack.moc, nullptr);
}

QString CalendarFixture::eventStorePath()
{
    const TDWDoc::Ptr doc = calendarDoc();
    return doc && !doc->databaseFilePath().isEmpty() ? TDWCalendarEventStore::absolutePath(doc->databaseFilePath()) : QString();
}

QString CalendarFixture::storedEventIds()
{
    return dotest::sqlite(eventStorePath(), QStringLiteral("SELECT group_concat(eventId, ' ') FROM (SELECT eventId FROM Event ORDER BY eventId)"));
}

QString CalendarFixture::backupFilePath(const TDWDocRev::Ptr &rev)
{
    return QDir(TDWFileMgr::backedUpItemsPathForService(QStringLiteral("calendar"))).filePath(rev->filePath());
}

QString CalendarFixture::icalendarProblems(const QString &icsPath, const QString &expectedFixture)
{
    return icalendarProblemsAgainst(icsPath, tdwtest::sourcePath(QStringLiteral("tests/services/fixtures/calendarevents/") + expectedFixture));
}

QString CalendarFixture::icalendarProblems(const QString &icsPath, const QJsonArray &expected)
{
    const QString expectedPath = QDir(tdwtest::freshDir(QStringLiteral("expected"))).filePath(QStringLiteral("expected.json"));
    QFile file(expectedPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(expected).toJson()) < 0)
        return QStringLiteral("the expected events could not be written");
    file.close();
    return icalendarProblemsAgainst(icsPath, expectedPath);
}

QString CalendarFixture::icalendarProblemsAgainst(const QString &icsPath, const QString &expectedPath)
{
    QProcess checker;
    checker.setProcessChannelMode(QProcess::MergedChannels);
    // Debian's interpreter (see tests/services/CMakeLists.txt), which has python3-vobject and python3-icalendar.
    checker.start(qEnvironmentVariable("TDW_DEBIAN_PYTHON3", QStringLiteral("python3")),
                  {tdwtest::sourcePath(QStringLiteral("tests/services/check_icalendar.py")), icsPath, expectedPath});
    if (!checker.waitForFinished(60000) || checker.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("the checker did not finish: ") + checker.errorString();
    return checker.exitCode() == 0 ? QString() : QString::fromUtf8(checker.readAll()).trimmed();
}

} // namespace caltest
