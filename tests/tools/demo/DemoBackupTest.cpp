// The demo's main job from end to end: the servers started as scripts/demo
// starts them, the application started through its own start-up in fresh
// folders, the first run adding the sample account with a sign-in in the
// (test's) browser, the backup it asks for, and Back Up Now from the status
// menu; then the files on disk, the stores and the account's status.
#include "DemoAppFixture.h"
#include "LaterMetadataModel.h"
#include "MetadataStoreChecks.h"
#include "TestBrowser.h"
#include "TestSupport.h"

#include "accounts/TDWKeychainMgr.h"
#include "agent/TDWBackupScheduler.h"
#include "app/TDWDesktopNotifier.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "mail/TDWMailUtils.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "prefs/TDWAccountDeleteConfirmationWindowController.h"
#include "prefs/TDWAccountPrefCellView.h"
#include "prefs/TDWAccountPrefController.h"
#include "prefs/TDWAccountTable.h"
#include "prefs/TDWAdvancedPrefsController.h"
#include "prefs/TDWRuleSheetController.h"
#include "prefs/TDWTidewellPrefsWindowController.h"
#include "restore/TDWRecoveryProgress.h"
#include "restore/TDWRecoveryUserOperation.h"
#include "status/TDWStatusMgr.h"
#include "ui/TDWAccountFlowController.h"
#include "ui/TDWAuthViewController.h"
#include "ui/TDWContentView.h"
#include "ui/TDWStatusItemMgr.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSet>
#include <QStandardPaths>
#include <QTest>
#include <QUuid>

#include <sys/stat.h>

using demotest::DemoAppFixture;
using demotest::DemoServers;
using demotest::RunTimeoutMs;
using demotest::Services;

namespace {

const QString Address = DemoServers::Address;

// A file of the backup folder as a second run must leave it.
struct FileState
{
    qint64 size = 0;
    qint64 modifiedNs = 0;
    quint64 inode = 0;
    bool operator==(const FileState &) const = default;
};

QMap<QString, FileState> filesUnder(const QString &folder)
{
    QMap<QString, FileState> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat info = {};
        if (::stat(QFile::encodeName(path).constData(), &info) == 0)
            files.insert(path, {qint64(info.st_size), qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec, quint64(info.st_ino)});
    }
    return files;
}

// The files of `folder` made, replaced, written or removed between the two states.
QStringList changedFiles(const QMap<QString, FileState> &before, const QMap<QString, FileState> &after, const QString &folder)
{
    QStringList changed;
    for (const QString &path : QSet<QString>(before.keyBegin(), before.keyEnd()) | QSet<QString>(after.keyBegin(), after.keyEnd()))
        if (!before.contains(path) || !after.contains(path) || !(before.value(path) == after.value(path)))
            changed << QDir(folder).relativeFilePath(path);
    return changed;
}

// Entries at or below `folder` that anyone but their owner may read, write or
// search, with their modes; links are neither followed nor counted.
QStringList notPrivateUnder(const QString &folder)
{
    QStringList found;
    const auto check = [&found](const QString &path) {
        struct stat info = {};
        if (::lstat(QFile::encodeName(path).constData(), &info) == 0 && !S_ISLNK(info.st_mode) && (info.st_mode & 077))
            found << QStringLiteral("%1 %2").arg(info.st_mode & 07777, 4, 8, QLatin1Char('0')).arg(path);
    };
    check(folder);
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext())
        check(it.next());
    return found;
}

// A file of the sample's other services, relative to the backup folder: its
// whole contents, or (when `holds` names any) texts it must hold.
struct ExpectedFile
{
    QString path;
    QByteArray contents;
    QList<QByteArray> holds;
};

// Where the folder layout puts the Drive files and exports, contact cards and
// the calendar the sample holds (the family calendar is the user's only to
// read: not backed up at the registered calendar access level).
QList<ExpectedFile> expectedServiceFiles(const QString &sampleFolder)
{
    QFile scenario(QDir(sampleFolder).filePath(QStringLiteral("google.json")));
    EXPECT_TRUE(scenario.open(QIODevice::ReadOnly));
    const QJsonObject data = QJsonDocument::fromJson(scenario.readAll())
                                 .object()[QStringLiteral("lists")][QStringLiteral("data")][DemoServers::Address]
                                 .toObject();
    QHash<QString, QByteArray> driveContents;
    for (const QJsonValue &file : data[QStringLiteral("docs")][QStringLiteral("files")].toArray())
        driveContents.insert(file[QStringLiteral("id")].toString(), file[QStringLiteral("content")].toString().toUtf8());
    const QString drive = QStringLiteral("Google Drive/demo at example dot com/");
    const QString contacts = QStringLiteral("Google Contacts/demo at example dot com/");
    return {
        {drive + QStringLiteral("Planting plan/1/Planting plan.docx"), driveContents.value(QStringLiteral("doc-plan"))},
        {drive + QStringLiteral("Household budget/1/Household budget.xlsx"), driveContents.value(QStringLiteral("sheet-budget"))},
        {drive + QStringLiteral("Lease/1/Lease.pdf"), driveContents.value(QStringLiteral("pdf-lease"))},
        {drive + QStringLiteral("shed/1/shed.jpg"), driveContents.value(QStringLiteral("img-shed"))},
        // Every card has the formatted name that vCard 3.0 requires.
        {contacts + QStringLiteral("Ann Example/1/Ann Example.vcf"), {}, {"\r\nN:Example;Ann;;;\r\nFN:Ann Example\r\n", "EMAIL;type=pref:ann@example.org"}},
        {contacts + QStringLiteral("Bo Sample/1/Bo Sample.vcf"), {}, {"\r\nN:Sample;Bo;;;\r\nFN:Bo Sample\r\n", "EMAIL;type=pref:bo@example.net"}},
        {contacts + QStringLiteral("Chlo\u00e9 Test/1/Chlo\u00e9 Test.vcf"), {},
         {"\r\nN:Test;Chlo\xc3\xa9;;;\r\nFN:Chlo\xc3\xa9 Test\r\n", "EMAIL;type=pref:chloe@example.com"}},
        {QStringLiteral("Google Calendar/demo at example dot com/demoexample/1/demoexample.com.ics"), {}, {"SUMMARY:Call with Bo"}},
    };
}

class DemoBackupTest : public DemoAppFixture
{
protected:
    TDWPersistentStorePtr store(const QString &service) const
    {
        return TDWMasterStore::shared().storeMgr()->storeForAccountUsername(Address, service);
    }

    // The service's revisions, all of them.
    qint64 revisionCount(const QString &service) const
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        return TDWEntityFetch(*moc, QStringLiteral("DocRev")).where(QStringLiteral("1 = 1")).in(store(service)).count(nullptr);
    }

    QMap<QString, qint64> revisionCounts() const
    {
        QMap<QString, qint64> counts;
        for (const QString &service : Services)
            counts.insert(service, revisionCount(service));
        return counts;
    }

    // The service's revisions as a failure shows them: enough to tell which
    // run made each one and what it saw.
    std::string revisionsDescription(const QString &service) const
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const auto revisions = TDWEntityFetch(*moc, QStringLiteral("DocRev")).where(QStringLiteral("1 = 1")).in(store(service)).objects<TDWDocRev>(nullptr);
        if (!revisions)
            return "(unreadable)";
        const auto date = [](const QDateTime &value) { return value.isValid() ? value.toUTC().toString(Qt::ISODateWithMs) : QStringLiteral("-"); };
        QStringList lines;
        for (const TDWDocRev::Ptr &revision : *revisions) {
            const TDWDoc::Ptr doc = revision->doc();
            lines << QStringLiteral("%1 [%2] etag %3, accessRole %4, lastModified %5, firstSeen %6, lastSeen %7, obsoleted %8, latest %9, "
                                   "exportStatus %10, events fetched since %11")
                         .arg(revision->dirPath(), revision->title(), revision->etag(), revision->accessRole(), date(revision->lastModifiedDate()),
                              date(revision->firstSeenDate()), date(revision->lastSeenDate()), date(revision->obsoletedDate()))
                         .arg(revision->latest())
                         .arg(revision->exportStatus())
                         .arg(doc ? date(doc->databaseLastUpdatedTime()) : QStringLiteral("-"));
        }
        lines.sort();
        return lines.join(QLatin1Char('\n')).toStdString();
    }

    // Every revision of a task list: its title and export status.
    QStringList taskListRevisions() const
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const auto revisions = TDWEntityFetch(*moc, QStringLiteral("DocRev")).where(QStringLiteral("1 = 1")).in(store(QStringLiteral("tasks"))).objects<TDWDocRev>(nullptr);
        EXPECT_TRUE(revisions);
        QStringList found;
        for (const TDWDocRev::Ptr &revision : revisions ? *revisions : QList<TDWDocRev::Ptr>())
            found << QStringLiteral("%1 %2").arg(revision->title()).arg(revision->exportStatus());
        found.sort();
        return found;
    }

    // Every item of the service has exactly one latest revision; their number.
    qint64 itemsWithOneLatestRevision(const QString &service) const
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const qint64 items = TDWEntityFetch(*moc, QStringLiteral("Doc")).where(QStringLiteral("1 = 1")).in(store(service)).count(nullptr);
        const auto latest = TDWEntityFetch(*moc, QStringLiteral("DocRev")).where(QStringLiteral("latest = 1")).in(store(service)).objects<TDWDocRev>(nullptr);
        EXPECT_TRUE(latest) << service.toStdString();
        if (!latest)
            return -1;
        QSet<QString> itemsWithLatest;
        for (const TDWDocRev::Ptr &revision : *latest)
            itemsWithLatest.insert(revision->doc() ? revision->doc()->docId() : QString());
        EXPECT_EQ(itemsWithLatest.size(), latest->size()) << service.toStdString() << ": an item with two latest revisions";
        EXPECT_EQ(latest->size(), items) << service.toStdString() << ": an item without a latest revision";
        return items;
    }

    // Every service of the account backed up, and so all of the program's backups.
    void expectBackedUp() const
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const TDWAccount::Ptr account = TDWAccount::byUsername(Address, *moc, nullptr);
        ASSERT_TRUE(account);
        for (const QString &service : Services)
            EXPECT_EQ(controller->statusMgr()->statusForAccount(account, service, *moc), TDWStatusMgr::BackedUp) << service.toStdString();
        EXPECT_EQ(controller->statusMgr()->globalStatus(), TDWStatusMgr::AllBackedUp);
    }

    // When the latest complete backup cycle ended.
    static QDateTime latestIterationEnd()
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const TDWBackupIteration::Ptr latest = TDWBackupIteration::latestBackupIteration(*moc, nullptr);
        return latest ? latest->iterationEndTime() : QDateTime();
    }

    // The Python checker's verdict on every message file against the server's All Mail.
    QJsonObject mailVerdict() const
    {
        QProcess python;
        python.start(QStringLiteral("python3"), {tdwtest::sourcePath(QStringLiteral("tests/tools/demo/check_backed_up_mail.py")),
                                                 TDWFileMgr::backedUpItemsPathForService(QStringLiteral("mail")),
                                                 s_servers->value(QStringLiteral("TDW_EXTRA_CA")), s_servers->value(QStringLiteral("IMAP_PORT")),
                                                 Address, DemoServers::SampleToken});
        EXPECT_TRUE(python.waitForFinished(RunTimeoutMs));
        EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
        return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    }

    // The backed-up latest revisions of the service's files (no folders or groups), as restore items.
    QList<TDWQueuedRecovery> backedUpFiles(const QString &service) const
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const auto revisions = TDWEntityFetch(*moc, QStringLiteral("DocRev")).where(QStringLiteral("latest = 1 AND exportStatus = 3")).in(store(service)).objects<TDWDocRev>(nullptr);
        EXPECT_TRUE(revisions) << service.toStdString();
        QList<TDWQueuedRecovery> items;
        for (const TDWDocRev::Ptr &revision : revisions ? *revisions : QList<TDWDocRev::Ptr>())
            if (!revision->doc()->isGrouping())
                items << TDWQueuedRecovery{QString(), revision->objectID(), QString()};
        return items;
    }

    // Runs a restore request through the application's restore queue, with its window, to its end.
    TDWRecoveryProgress::State restore(const QList<TDWQueuedRecovery> &items, const QString &dest, bool asMailbox, const QString &rootUUID = {})
    {
        const auto request = std::make_shared<TDWRecoveryUserOperation>(items, dest, true, QString(), asMailbox, rootUUID);
        controller->addRecoveryOperation(request);
        EXPECT_TRUE(QTest::qWaitFor([&] { return request->isFinished() && request->progress()->state() != TDWRecoveryProgress::State::InProgress; },
                                    RunTimeoutMs));
        return request->progress()->state();
    }

    // Debian's interpreter, which has the independent readers (python3-vobject, python3-icalendar).
    static QString readByPython(const QString &script, const QStringList &files)
    {
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-c"), script} + files);
        if (!python.waitForFinished(60000))
            return QStringLiteral("python3 did not finish");
        return python.exitCode() == 0 ? QString() : QString::fromUtf8(python.readAllStandardError());
    }

    // Back Up Now from the status menu with nothing changed on the servers: the
    // run goes through to its end and writes nothing new, neither revisions nor
    // files of the backup folder (made, written, replaced or removed).
    void expectBackUpNowWritesNothingNew(const QMap<QString, qint64> &revisions, const QMap<QString, FileState> &files, const QDateTime &lastEnded)
    {
        const int endedBefore = runsEnded;
        QAction *backUpNow = controller->statusItemMgr()->backUpNowItem();
        ASSERT_TRUE(backUpNow->isEnabled());
        ASSERT_EQ(backUpNow->text(), QStringLiteral("Back Up Now"));
        backUpNow->trigger();
        ASSERT_TRUE(waitForRunEnd(endedBefore));
        EXPECT_GT(latestIterationEnd(), lastEnded);
        expectBackedUp();
        const QMap<QString, qint64> revisionsAfter = revisionCounts();
        for (const QString &service : Services)
            EXPECT_EQ(revisionsAfter.value(service), revisions.value(service))
                << service.toStdString() << " got new revisions in a run with nothing new:\n" << revisionsDescription(service);
        const QString backups = TDWFileMgr::backedUpItemsPath();
        const QStringList touched = changedFiles(files, filesUnder(backups), backups);
        EXPECT_TRUE(touched.isEmpty()) << "written, replaced or removed by a run with nothing new:\n"
                                       << touched.join(QLatin1Char('\n')).toStdString();
    }

    // Ends the application as the tests end it, its folders and settings kept
    // for the next start.
    void quitApplication()
    {
        AppFixture::TearDown();
        startupFinished = false;
    }

    // Adds a scripted fault to the fake Google server, through its control endpoint.
    static bool addGoogleFault(const QJsonObject &fault) { return postGoogleControl(QStringLiteral("/_control/fault"), fault); }

    // Posts to a control endpoint of the fake Google server.
    static bool postGoogleControl(const QString &path, const QJsonObject &body)
    {
        // The consent page's address names the fake's plain-HTTP port.
        QUrl control(s_servers->value(QStringLiteral("TDW_AUTHORIZATION_URL")));
        control.setPath(path);
        control.setQuery(QString());
        QProcess python;
        python.start(QStringLiteral("python3"), {QStringLiteral("-c"),
                                                 QStringLiteral("import sys, urllib.request\n"
                                                                "urllib.request.urlopen(urllib.request.Request(sys.argv[1], data=sys.argv[2].encode(), "
                                                                "headers={'Content-Type': 'application/json'}), timeout=30).read()"),
                                                 control.toString(), QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Compact))});
        return python.waitForFinished(60000) && python.exitCode() == 0;
    }

    // The export status of the latest revision of a Drive item, -1 when there is none.
    qint64 latestDriveStatus(const QString &docId) const
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const auto revisions = TDWEntityFetch(*moc, QStringLiteral("DocRev")).where(QStringLiteral("latest = 1")).in(store(QStringLiteral("docs"))).objects<TDWDocRev>(nullptr);
        for (const TDWDocRev::Ptr &revision : revisions ? *revisions : QList<TDWDocRev::Ptr>())
            if (revision->doc() && revision->doc()->docId() == docId)
                return revision->exportStatus();
        return -1;
    }

    // The row of the preferences' Google Accounts pane for the account, once the keyring's answer is in.
    static TDWAccountPrefCellView *accountRow(TDWAccountPrefController *pane)
    {
        if (!QTest::qWaitFor([pane] { return pane->signInState(Address) != TDWAccountPrefController::SignIn::Unknown; }, RunTimeoutMs))
            return nullptr;
        return pane->rowView(int(pane->accountUsernames().indexOf(Address)));
    }
};

TEST_F(DemoBackupTest, BackUpNowBacksUpTheSampleAccountAndASecondRunWritesNothing)
{
    // The umask most users have: the backup must be private all the same.
    const mode_t savedUmask = ::umask(022);
    const auto restoreUmask = qScopeGuard([savedUmask] { ::umask(savedUmask); });
    goThroughFirstRun();
    if (HasFatalFailure())
        return;
    // The first run ends with the program's Back Up Now, the first backup of the account.
    ASSERT_TRUE(waitForRunEnd(0));

    // Every All Mail message has a message file the Python checker accepts.
    const QJsonObject mail = mailVerdict();
    EXPECT_EQ(mail.value(QStringLiteral("server_messages")).toInt(), 400);
    EXPECT_EQ(mail.value(QStringLiteral("files")).toInt(), 400);
    const QJsonArray problems = mail.value(QStringLiteral("problems")).toArray();
    EXPECT_TRUE(problems.isEmpty()) << problems.size() << " problems, the first: " << problems.first().toString().toStdString();

    // The other services' files, where the layout puts them, and nothing else beside the mail.
    const QString backups = TDWFileMgr::backedUpItemsPath();
    const QMap<QString, FileState> files = filesUnder(backups);
    QStringList others;
    for (const QString &path : files.keys())
        if (!path.endsWith(QLatin1String(".emlx")))
            others << QDir(backups).relativeFilePath(path);
    QStringList expectedPaths;
    for (const ExpectedFile &expected : expectedServiceFiles(QDir(s_servers->folder()).filePath(QStringLiteral("sample")))) {
        expectedPaths << expected.path;
        QFile file(QDir(backups).filePath(expected.path));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << expected.path.toStdString();
        const QByteArray contents = file.readAll();
        if (expected.holds.isEmpty())
            EXPECT_EQ(contents, expected.contents) << expected.path.toStdString();
        for (const QByteArray &text : expected.holds)
            EXPECT_TRUE(contents.contains(text)) << expected.path.toStdString() << " lacks " << text.constData() << ":\n" << contents.constData();
    }
    others.sort();
    expectedPaths.sort();
    EXPECT_EQ(others.join(QLatin1Char('\n')).toStdString(), expectedPaths.join(QLatin1Char('\n')).toStdString());

    // The stores: one latest revision per item, and the account backed up.
    EXPECT_EQ(itemsWithOneLatestRevision(QStringLiteral("mail")), 400);
    EXPECT_EQ(itemsWithOneLatestRevision(QStringLiteral("docs")), 6); // with the two folders
    EXPECT_EQ(itemsWithOneLatestRevision(QStringLiteral("contacts")), 6); // with the three groups
    EXPECT_EQ(itemsWithOneLatestRevision(QStringLiteral("calendar")), 1);
    // Task lists are listed and versioned, with no file to write: one revision
    // each, recorded as having nothing to download.
    EXPECT_EQ(taskListRevisions(), (QStringList{QStringLiteral("Errands 0"), QStringLiteral("Home 0")})) << revisionsDescription(QStringLiteral("tasks"));
    expectBackedUp();
    const QDateTime firstEnded = latestIterationEnd();
    ASSERT_TRUE(firstEnded.isValid());

    // Back Up Now from the status menu, nothing changed on the servers: nothing new.
    expectBackUpNowWritesNothingNew(revisionCounts(), files, firstEnded);
    if (HasFatalFailure())
        return;

    // Nothing of the backup, the stores, their snapshots, the log or the
    // settings is open to other local users.
    const QString settings = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).filePath(QStringLiteral("Tidewell"));
    for (const QString &folder : {dataFolder(), settings, backups}) {
        ASSERT_TRUE(QFileInfo(folder).isDir()) << folder.toStdString();
        const QStringList open = notPrivateUnder(folder);
        EXPECT_TRUE(open.isEmpty()) << open.size() << " entries open to others, the first ones:\n"
                                    << open.mid(0, 20).join(QLatin1Char('\n')).toStdString();
    }
    EXPECT_TRUE(QFileInfo::exists(QDir(dataFolder()).filePath(QStringLiteral("Store Backups"))));
}

TEST_F(DemoBackupTest, RestoresTheBackedUpSampleThroughTheApplication)
{
    goThroughFirstRun();
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(waitForRunEnd(0));
    const QString backups = TDWFileMgr::backedUpItemsPath();

    // Drive files, contact cards and the calendar into one folder.
    const QString dest = tdwtest::freshDir(QStringLiteral("restored"));
    QList<TDWQueuedRecovery> items;
    for (const QString &service : {QStringLiteral("docs"), QStringLiteral("contacts"), QStringLiteral("calendar")})
        items << backedUpFiles(service);
    ASSERT_EQ(restore(items, dest, false), TDWRecoveryProgress::State::Finished);
    QStringList cards;
    QStringList calendars;
    for (const ExpectedFile &expected : expectedServiceFiles(QDir(s_servers->folder()).filePath(QStringLiteral("sample")))) {
        const QString name = expected.path.section(QLatin1Char('/'), -1);
        const QString restored = QDir(dest).filePath(name);
        QFile file(restored);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        QFile backedUp(QDir(backups).filePath(expected.path));
        ASSERT_TRUE(backedUp.open(QIODevice::ReadOnly)) << expected.path.toStdString();
        const QByteArray contents = file.readAll();
        EXPECT_EQ(contents, backedUp.readAll()) << name.toStdString();
        if (expected.holds.isEmpty())
            EXPECT_EQ(contents, expected.contents) << name.toStdString();
        // The backup's files are locked; their copies are the user's to change.
        EXPECT_FALSE(QFileInfo(backedUp.fileName()).permissions() & QFileDevice::WriteOwner) << expected.path.toStdString();
        EXPECT_TRUE(QFileInfo(restored).permissions() & QFileDevice::WriteOwner) << name.toStdString();
        (name.endsWith(QLatin1String(".vcf")) ? cards : calendars) << restored;
    }
    calendars = calendars.filter(QStringLiteral(".ics"));
    EXPECT_EQ(cards.size(), 3);
    EXPECT_EQ(calendars.size(), 1);
    EXPECT_EQ(readByPython(QStringLiteral("import sys, vobject\n"
                                          "for f in sys.argv[1:]:\n"
                                          "    card = vobject.readOne(open(f, encoding='utf-8').read())\n"
                                          "    assert card.fn.value, f\n"),
                           cards),
              QString());
    EXPECT_EQ(readByPython(QStringLiteral("import sys, icalendar\n"
                                          "cal = icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read())\n"
                                          "assert any(str(e.get('SUMMARY')) == 'Call with Bo' for e in cal.walk('VEVENT'))\n"),
                           calendars),
              QString());

    // Every message into one mailbox, as the root mailbox's own messages.
    const QString mailbox = tdwtest::freshDir(QStringLiteral("mailboxes")) + QLatin1Char('/') + TDWMailUtils::mailboxFolderName(QStringLiteral("All Mail"));
    const QString rootUUID = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    ASSERT_TRUE(TDWMailUtils::createMailboxDirectoryAtPath(mailbox, rootUUID));
    const QList<TDWQueuedRecovery> messages = backedUpFiles(QStringLiteral("mail"));
    ASSERT_EQ(messages.size(), 400);
    ASSERT_EQ(restore(messages, mailbox, true, rootUUID), TDWRecoveryProgress::State::Finished);
    EXPECT_EQ(readByPython(QStringLiteral("import plistlib, sys\n"
                                          "assert plistlib.load(open(sys.argv[1], 'rb'), fmt=plistlib.FMT_XML) == {'MailboxName': 'All Mail'}\n"),
                           {mailbox + QStringLiteral("/Info.plist")}),
              QString());
    const auto moc = TDWMasterStore::shared().newMoc();
    for (qsizetype i = 0; i < messages.size(); ++i) {
        const auto revision = std::dynamic_pointer_cast<TDWDocRev>(moc->existingObjectWithID(messages[i].docRevObjectId, nullptr));
        ASSERT_TRUE(revision);
        QFile backedUp(QDir(TDWFileMgr::backedUpItemsPathForService(QStringLiteral("mail"))).filePath(revision->filePath()));
        QFile restored(mailbox + QLatin1Char('/') + TDWMailUtils::mailboxMessagePath(rootUUID, i + 1));
        ASSERT_TRUE(backedUp.open(QIODevice::ReadOnly) && restored.open(QIODevice::ReadOnly)) << restored.fileName().toStdString();
        EXPECT_EQ(restored.readAll(), backedUp.readAll()) << restored.fileName().toStdString();
    }
}

// A message whose newest revision failed to download restores its older,
// backed-up revision. Gmail keeps a message's bytes for good and the fake
// server does the same, so no run makes a second revision of a message: the
// failed newest revision is written into the store through the data objects,
// as a run that saw the message change and then failed its download records it.
TEST_F(DemoBackupTest, AMessageWhoseLatestRevisionFailedRestoresItsOlderRevision)
{
    goThroughFirstRun();
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(waitForRunEnd(0));

    const auto moc = TDWMasterStore::shared().newMoc();
    const QList<TDWQueuedRecovery> messages = backedUpFiles(QStringLiteral("mail"));
    ASSERT_FALSE(messages.isEmpty());
    const auto older = std::dynamic_pointer_cast<TDWDocRev>(moc->existingObjectWithID(messages.first().docRevObjectId, nullptr));
    ASSERT_TRUE(older && older->doc());
    const QDateTime later = older->firstSeenDate().addSecs(60);
    const TDWDocRev::Ptr failed = TDWDocRev::newWithMoc(*moc, store(QStringLiteral("mail")));
    failed->setDoc(older->doc());
    failed->setTitle(older->title());
    failed->setDirPath(older->doc()->dirPath() + QStringLiteral("/2"));
    failed->setFilePath(failed->dirPath() + QLatin1Char('/') + older->filePath().section(QLatin1Char('/'), -1));
    failed->setFirstSeenDate(later);
    failed->setLastSeenDate(later);
    failed->setLastExportAttemptDate(later);
    failed->setLastExportFailureError(QStringLiteral("download failed"));
    failed->setExportStatus(TDWDocRev::DownloadFailed);
    failed->setLatest(true);
    older->setLatest(false);
    older->setObsoletedDate(later);
    TDWError error;
    ASSERT_TRUE(moc->save(&error)) << error.description().toStdString();
    const QString failedPath = QDir(TDWFileMgr::backedUpItemsPathForService(QStringLiteral("mail"))).filePath(failed->filePath());
    ASSERT_FALSE(QFileInfo::exists(failedPath)) << failedPath.toStdString();

    const QString mailbox = tdwtest::freshDir(QStringLiteral("mailboxes")) + QLatin1Char('/') + TDWMailUtils::mailboxFolderName(QStringLiteral("Inbox"));
    const QString rootUUID = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    ASSERT_TRUE(TDWMailUtils::createMailboxDirectoryAtPath(mailbox, rootUUID));
    ASSERT_EQ(restore({TDWQueuedRecovery{QString(), failed->objectID(), QString()}}, mailbox, true, rootUUID), TDWRecoveryProgress::State::Finished);
    QFile backedUp(QDir(TDWFileMgr::backedUpItemsPathForService(QStringLiteral("mail"))).filePath(older->filePath()));
    QFile restored(mailbox + QLatin1Char('/') + TDWMailUtils::mailboxMessagePath(rootUUID, 1));
    ASSERT_TRUE(backedUp.open(QIODevice::ReadOnly)) << backedUp.fileName().toStdString();
    ASSERT_TRUE(restored.open(QIODevice::ReadOnly)) << restored.fileName().toStdString();
    const QByteArray contents = restored.readAll();
    EXPECT_FALSE(contents.isEmpty());
    EXPECT_EQ(contents, backedUp.readAll());
    EXPECT_FALSE(QFileInfo::exists(mailbox + QLatin1Char('/') + TDWMailUtils::mailboxMessagePath(rootUUID, 2)));
}

// Google refuses the account's sign-in: the preferences show "Login required",
// the desktop notice leads to the account's sign-in sheet, and signing in
// again through the browser makes the account whole, backed up by the next run.
TEST_F(DemoBackupTest, ARefusedSignInIsMadeGoodAgainFromThePreferences)
{
    goThroughFirstRun();
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(waitForRunEnd(0));

    // The account and its services, in grey.
    controller->windows()->showPrefsWindow();
    auto *prefs = TDWTidewellPrefsWindowController::sharedPrefsWindowController();
    TDWAccountPrefController *pane = prefs->accountPrefsViewController();
    ASSERT_EQ(pane->accountUsernames(), QStringList{Address});
    TDWAccountPrefCellView *row = accountRow(pane);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->servicesField()->text(), QStringLiteral("Gmail, Drive, Contacts, Calendar, Tasks"));
    EXPECT_FALSE(row->servicesTextIsAlert());

    // The access token has run out and Google refuses the refresh token.
    ASSERT_TRUE(addGoogleFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/o/oauth2/token")},
                                           {QStringLiteral("status"), 400},
                                           {QStringLiteral("error"), QStringLiteral("invalid_grant")}}));
    const std::shared_ptr<TDWCredential> credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(Address);
    ASSERT_TRUE(credential);
    credential->setAccessTokenExpires(QDateTime::currentDateTimeUtc().addSecs(-3600));
    const int endedBefore = runsEnded;
    controller->statusItemMgr()->backUpNowItem()->trigger();
    ASSERT_TRUE(waitForRunEnd(endedBefore));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        row = pane->rowView(0);
        return row && row->servicesField()->text() == QStringLiteral("Login required");
    }, RunTimeoutMs));
    EXPECT_TRUE(row->servicesTextIsAlert());
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        EXPECT_EQ(controller->statusMgr()->statusForAccount(TDWAccount::byUsername(Address, *moc, nullptr), QStringLiteral("mail"), *moc),
                  TDWStatusMgr::LoginRequired);
    }

    // The desktop notice clicked: "accounts", with the sign-in sheet of the account.
    tdwtest::RecordingUrlHandler browser;
    ASSERT_TRUE(controller->notifier());
    emit controller->notifier()->activated(
        {{QStringLiteral("notificationType"), QStringLiteral("loginrequired")}, {QStringLiteral("accountUsername"), Address}});
    EXPECT_EQ(prefs->currentIdentifier(), QStringLiteral("accounts"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pane->accountFlowController() && pane->accountFlowController()->authViewController(); }, RunTimeoutMs));
    EXPECT_EQ(prefs->attachedSheet(), pane->accountSheet());
    if (const QString pictures = qEnvironmentVariable("TDW_PICTURE_DIR"); !pictures.isEmpty()) {
        EXPECT_TRUE(pane->accountSheet()->grab().save(QDir(pictures).filePath(QStringLiteral("prefs-resignin-sheet.png"))));
    }

    // Signing in again in the browser: the sheet closes once the account is saved.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser.opened.isEmpty(); }, RunTimeoutMs));
    EXPECT_EQ(tdwtest::TestBrowser::answerConsent(browser.opened.first(), QStringLiteral("allow")).response.statusCode(), 200);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pane->accountSheet()->isVisible(); }, RunTimeoutMs));

    // The row and the status menu are well again, and the next Back Up Now succeeds.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        row = pane->rowView(0);
        return row && !row->servicesTextIsAlert() && row->servicesField()->text().startsWith(QStringLiteral("Gmail"));
    }, RunTimeoutMs));
    EXPECT_FALSE(TDWKeychainMgr::keychainMgr()->credentialForUsername(Address)->refreshTokenInvalid());
    const int endedAfterRefusal = runsEnded;
    controller->statusItemMgr()->backUpNowItem()->trigger();
    ASSERT_TRUE(waitForRunEnd(endedAfterRefusal));
    expectBackedUp();
}

// From the preferences: an exclusion rule stored through the Advanced pane's
// sheet, and the account disabled, then deleted, through the confirmation sheet.
TEST_F(DemoBackupTest, TheRuleSheetAndTheDisableSheetFromThePreferences)
{
    goThroughFirstRun();
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(waitForRunEnd(0));
    controller->windows()->showPrefsWindow();
    auto *prefs = TDWTidewellPrefsWindowController::sharedPrefsWindowController();

    // "Name contains Planting" from the Advanced pane's rule sheet.
    prefs->toolbarItem(QStringLiteral("advanced"))->trigger();
    prefs->advancedPrefsController()->editRulesButton()->click();
    TDWRuleSheetController *rules = prefs->advancedPrefsController()->ruleSheet();
    ASSERT_TRUE(rules);
    TDWRuleRowWidget *row = rules->addRow();
    row->fieldPopUp()->setCurrentIndex(0);
    row->operatorPopUp()->setCurrentIndex(row->operatorPopUp()->findText(QStringLiteral("contains")));
    row->textField()->setText(QStringLiteral("Planting"));
    rules->rulesOkButton()->click();
    EXPECT_FALSE(rules->isVisible());
    EXPECT_EQ(TDWPredicate::parse(TDWUserDefaults::standard()->stringForKey(QStringLiteral("dontbackuppredicate"))),
              TDWPredicate::parse(QStringLiteral("title CONTAINS[cd] \"Planting\"")));

    // The rule update that follows leaves the plan, already backed up, at 3:
    // its file stays in the backup.
    EXPECT_EQ(latestDriveStatus(QStringLiteral("doc-plan")), 3);

    // Disable from the Google Accounts pane: every service off, the row says so.
    prefs->toolbarItem(QStringLiteral("accounts"))->trigger();
    TDWAccountPrefController *pane = prefs->accountPrefsViewController();
    pane->tableView()->selectRow(0);
    QKeyEvent deleteKey(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(pane->tableView(), &deleteKey);
    ASSERT_TRUE(pane->deleteConfirmationWindowController());
    EXPECT_EQ(prefs->attachedSheet(), pane->deleteConfirmationWindowController());
    pane->deleteConfirmationWindowController()->disableButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        TDWAccountPrefCellView *cell = pane->rowView(0);
        return cell && cell->servicesField()->text() == QStringLiteral("Disabled");
    }, RunTimeoutMs));
    QStringList stores;
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const TDWAccount::Ptr account = TDWAccount::byUsername(Address, *moc, nullptr);
        ASSERT_TRUE(account);
        EXPECT_FALSE(account->enabledForAnyService());
        stores = TDWStoreMgr::storeFilenames(*account);
    }
    ASSERT_FALSE(stores.isEmpty());

    // Delete through the same sheet (a disabled account can only be deleted):
    // its stores, its folders under each service folder and its credential go.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prefs->attachedSheet(); }, RunTimeoutMs));
    pane->tableView()->selectRow(0);
    QCoreApplication::sendEvent(pane->tableView(), &deleteKey);
    ASSERT_TRUE(pane->deleteConfirmationWindowController());
    EXPECT_FALSE(pane->deleteConfirmationWindowController()->disableButton()->isVisible());
    pane->deleteConfirmationWindowController()->deleteButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pane->accountUsernames().isEmpty(); }, RunTimeoutMs));
    for (const QString &file : stores)
        EXPECT_FALSE(QFileInfo::exists(TDWStoreMgr::pathForStoreFilename(file))) << file.toStdString();
    for (const QString &service : Services)
        EXPECT_FALSE(QFileInfo::exists(QDir(TDWFileMgr::backedUpItemsPathForService(service)).filePath(QStringLiteral("demo at example dot com"))))
            << service.toStdString();
    TDWKeychainLookup outcome = TDWKeychainLookup::Found;
    EXPECT_FALSE(TDWKeychainMgr::keychainMgr()->credentialForUsername(Address, &outcome));
    EXPECT_EQ(outcome, TDWKeychainLookup::NotFound);
}

// A second account added through the Google Accounts pane is backed up by the next run.
TEST_F(DemoBackupTest, ASecondAccountAddedFromThePreferencesIsBackedUp)
{
    goThroughFirstRun();
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(waitForRunEnd(0));
    // A second user of the fake Google server, with an empty Drive.
    const QString second = QStringLiteral("second@example.com");
    ASSERT_TRUE(postGoogleControl(QStringLiteral("/_control/account"), QJsonObject{{QStringLiteral("email"), second}}));

    controller->windows()->showPrefsWindow();
    auto *prefs = TDWTidewellPrefsWindowController::sharedPrefsWindowController();
    TDWAccountPrefController *pane = prefs->accountPrefsViewController();
    tdwtest::RecordingUrlHandler browser;
    pane->addButton()->click();
    ASSERT_TRUE(pane->accountFlowController());
    QWidget *view = TDWContentView::current(pane->accountSheet());
    ASSERT_TRUE(view);
    view->findChild<QLineEdit *>(QStringLiteral("usernameField"))->setText(second);
    for (QCheckBox *service : view->findChildren<QCheckBox *>())
        if (Services.contains(service->objectName()))
            service->setChecked(service->objectName() == QLatin1String("docs"));
    view->findChild<QPushButton *>(QStringLiteral("continue"))->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser.opened.isEmpty(); }, RunTimeoutMs));
    EXPECT_EQ(tdwtest::TestBrowser::answerConsent(browser.opened.first(), QStringLiteral("allow")).response.statusCode(), 200);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pane->accountSheet()->isVisible(); }, RunTimeoutMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pane->accountUsernames() == (QStringList{Address, second}); }, RunTimeoutMs));

    const int endedBefore = runsEnded;
    controller->statusItemMgr()->backUpNowItem()->trigger();
    ASSERT_TRUE(waitForRunEnd(endedBefore));
    const auto moc = TDWMasterStore::shared().newMoc();
    const TDWAccount::Ptr account = TDWAccount::byUsername(second, *moc, nullptr);
    ASSERT_TRUE(account);
    EXPECT_EQ(controller->statusMgr()->statusForAccount(account, QStringLiteral("docs"), *moc), TDWStatusMgr::BackedUp);
}

// After the demo's backup, the next release's model (one attribute and one
// folded column more) migrates the demo's stores in place at start-up; the
// application starts on them, and Back Up Now finds nothing new to write.
// Servers of its own: the first run's sign-in starts from their first state.
class DemoUpgradeTest : public DemoBackupTest
{
};

TEST_F(DemoUpgradeTest, TheDemosStoresUpgradeInPlaceAndTheNextBackUpNowWritesNothing)
{
    goThroughFirstRun();
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(waitForRunEnd(0));
    const QMap<QString, qint64> revisions = revisionCounts();
    const QString backups = TDWFileMgr::backedUpItemsPath();
    const QMap<QString, FileState> files = filesUnder(backups);
    const QDateTime backedUp = latestIterationEnd();
    quitApplication();

    const QStringList stores = migrationtest::metadataStoreFiles(TDWFileMgr::dataFilePath());
    // The master store and one store per service.
    ASSERT_EQ(stores.size(), 1 + Services.size()) << stores.join(QLatin1Char('\n')).toStdString();
    QMap<QString, QString> rows;
    for (const QString &path : stores) {
        rows.insert(path, migrationtest::tableRowCounts(path));
        EXPECT_EQ(migrationtest::layoutVersion(path), QStringLiteral("1"));
    }

    // The next release starts; on the offline scheduler, nothing but the
    // upgrade writes to the stores before they are looked at.
    TDWMasterStore::shared().setManagedObjectModel(migrationtest::laterMetadataModel());
    const auto currentModel = qScopeGuard([] { TDWMasterStore::shared().setManagedObjectModel(nullptr); });
    makeController();
    launch();
    ASSERT_TRUE(startupFinished);
    EXPECT_TRUE(prompted->errors.isEmpty()) << prompted->errors.join(QLatin1Char('\n')).toStdString();
    for (const QString &path : stores) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(migrationtest::layoutVersion(path), QStringLiteral("2"));
        migrationtest::expectSound(path);
        EXPECT_EQ(migrationtest::tableRowCounts(path).toStdString(), rows.value(path).toStdString());
        EXPECT_TRUE(path == stores.first() ? migrationtest::hasColumn(path, QStringLiteral("Account"), QStringLiteral("testNote"))
                                           : migrationtest::hasColumn(path, QStringLiteral("Doc"), QStringLiteral("testLabel__ci")));
    }
    EXPECT_EQ(QDir(dataFolder()).entryList({QStringLiteral("TidewellData_backup_*.sqlite3")}).size(), 1);
    quitApplication();

    // Started again on the program's own scheduler: Back Up Now, nothing changed on the servers.
    makeProgramController();
    launch();
    ASSERT_TRUE(startupFinished);
    ASSERT_TRUE(controller->windows()->mainWindowController());
    expectBackUpNowWritesNothingNew(revisions, files, backedUp);
    for (const QString &path : stores)
        migrationtest::expectSound(path);
}

} // namespace
