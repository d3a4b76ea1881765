// A follow-up backup of the demo's sample account, killed with SIGKILL at a
// durable write (a store save or a safe-file commit, by the program's own
// kill point) and started again, ends as an uninterrupted one: the same
// items and revisions in the stores, the same folders and files with the same
// bytes in the backup folder, so no "X-1" name, no revision numbered past an
// orphan and no orphan file. The first backup is made once through the first
// run; every follow-up runs in a child process (this program, filtered to
// ChildRun) on a copy of the program's folders, against servers that changed
// since: mail added, flagged and deleted, a Drive file changed, added and
// deleted, a contact, an event and a task changed.
#include "DemoAppFixture.h"
#include "TestSupport.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "agent/TDWBackupScheduler.h"
#include "common/TDWFileMgr.h"
#include "common/TDWFileUpkeep.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWTestKillPoint.h"
#include "ui/TDWStatusItemMgr.h"

#include <QAction>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cstdio>

using demotest::DemoAppFixture;
using demotest::DemoServers;
using demotest::RunTimeoutMs;

namespace {

// The child's copy of the program's folders, one sub-folder per variable.
const char *RootVariable = "TDW_DEMO_KILL_ROOT";
// Every how many writes a kill is tried (1, the default: at every one).
const char *StrideVariable = "TDW_DEMO_KILL_STRIDE";
// The folders the program keeps its settings, data, secrets and backups in.
const QStringList FolderVariables = {QStringLiteral("HOME"), QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral("XDG_DATA_HOME"),
                                     QStringLiteral("XDG_CACHE_HOME"), QStringLiteral("XDG_STATE_HOME")};

bool copyFolder(const QString &from, const QString &to)
{
    QProcess copy;
    copy.start(QStringLiteral("cp"), {QStringLiteral("-a"), from, to});
    return copy.waitForFinished(RunTimeoutMs) && copy.exitStatus() == QProcess::NormalExit && copy.exitCode() == 0;
}

// What a run left that the comparison looks at, a line each: the backup
// folder's folders and files (with their bytes' digest), and every item and
// revision of the account's stores (without dates and row numbers).
QStringList stateOf(const QString &root, const QString &dataRelative, const QString &backupsRelative)
{
    QStringList lines;
    const QDir backups(QDir(root).filePath(QStringLiteral("XDG_DATA_HOME/") + backupsRelative));
    QDirIterator it(backups.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = backups.relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            lines << QStringLiteral("folder ") + relative;
            continue;
        }
        QFile file(path);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
        lines << QStringLiteral("file %1 %2 %3").arg(relative).arg(bytes.size()).arg(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex()));
    }
    const QDir stores(QDir(root).filePath(QStringLiteral("XDG_DATA_HOME/") + dataRelative + QStringLiteral("/Auxiliary Stores")));
    for (const QString &name : stores.entryList({QStringLiteral("*.sqlite3")}, QDir::Files, QDir::Name)) {
        QProcess shell;
        shell.start(QStringLiteral("sqlite3"),
                    {stores.filePath(name),
                     QStringLiteral("SELECT 'item', docId, docType, deleted, dirPath FROM Doc ORDER BY docId;"
                                    "SELECT 'revision', d.docId, r.dirPath, r.filePath, r.title, r.etag, r.exportStatus, r.latest "
                                    "FROM DocRev r JOIN Doc d ON r.doc = d.pk ORDER BY 2, 3, 4, 6;")});
        EXPECT_TRUE(shell.waitForFinished(30000));
        EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
        for (const QString &row : QString::fromUtf8(shell.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts))
            lines << name + QLatin1Char(' ') + row;
    }
    // A message file's name holds the time it was written and a unique part: those may differ.
    static const QRegularExpression writtenAt(QStringLiteral("_[0-9.]+_([0-9]+-[0-9]+)_[0-9A-F-]{36}\\.emlx"));
    lines.replaceInStrings(writtenAt, QStringLiteral("_(written)_\\1_(unique).emlx"));
    lines.sort();
    return lines;
}

// The lines of one state that the other lacks, for a failure's message.
std::string difference(const QStringList &expected, const QStringList &found)
{
    const QSet<QString> want(expected.cbegin(), expected.cend());
    const QSet<QString> got(found.cbegin(), found.cend());
    QStringList lines;
    for (const QString &line : want - got)
        lines << QStringLiteral("missing: ") + line;
    for (const QString &line : got - want)
        lines << QStringLiteral("extra:   ") + line;
    lines.sort();
    return lines.mid(0, 40).join(u'\n').toStdString();
}

struct ChildRun
{
    bool killed = false;
    bool finished = false;
    int writes = 0;
};

class DemoBackupKillTest : public DemoAppFixture
{
protected:
    static QString childRoot() { return qEnvironmentVariable(RootVariable); }

    // A child inherits the servers of its parent, whose environment it has.
    static void SetUpTestSuite()
    {
        if (childRoot().isEmpty())
            DemoAppFixture::SetUpTestSuite();
    }

    void SetUp() override
    {
        if (childRoot().isEmpty()) {
            DemoAppFixture::SetUp();
            return;
        }
        // The copy of the parent's folders, which the program finds as its own.
        for (const QString &variable : FolderVariables)
            qputenv(variable.toLatin1().constData(), QFile::encodeName(QDir(childRoot()).filePath(variable)));
        TDWMasterStore::shared().setStoreMgr(nullptr);
        TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
        TDWFileMgr::reset();
        countRunEnds();
    }

    // One follow-up backup in a child process on the folders in `root`, killed just before write `killAt` (0: never).
    static ChildRun runChild(const QString &root, int killAt)
    {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(RootVariable), root);
        environment.insert(QStringLiteral("TDW_TEST_KILL_AT_WRITE"), QString::number(killAt));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=DemoBackupKillTest.ChildRun")});
        EXPECT_TRUE(child.waitForFinished(RunTimeoutMs + 60000));
        ChildRun run;
        run.killed = child.exitStatus() == QProcess::CrashExit;
        for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
            if (line.startsWith("WRITES ")) {
                run.writes = line.mid(7).trimmed().toInt();
                run.finished = true;
            }
        }
        return run;
    }

    // The program's folders, as this process's environment names them, copied into `root`.
    static bool copyProgramFolders(const QString &root)
    {
        for (const QString &variable : FolderVariables)
            if (!copyFolder(qEnvironmentVariable(variable.toLatin1().constData()), QDir(root).filePath(variable)))
                return false;
        return true;
    }

    static bool copyRoot(const QString &from, const QString &to)
    {
        for (const QString &variable : FolderVariables)
            if (!copyFolder(QDir(from).filePath(variable), QDir(to).filePath(variable)))
                return false;
        return true;
    }

    // Changes on both servers since the first backup. The fake Google server
    // is loaded again with the sample and a run of changes, keeping the
    // tokens the program signed in with; unchanged items keep their etags.
    void changeServers(const std::shared_ptr<TDWCredential> &credential)
    {
        QFile sample(QDir(s_servers->folder()).filePath(QStringLiteral("sample/google.json")));
        ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
        QJsonObject scenario = QJsonDocument::fromJson(sample.readAll()).object();
        QJsonArray accounts = scenario[QStringLiteral("accounts")].toArray();
        ASSERT_FALSE(accounts.isEmpty());
        QJsonObject account = accounts.first().toObject();
        account[QStringLiteral("access_token")] = QJsonArray{DemoServers::SampleToken, credential->accessToken()};
        account[QStringLiteral("refresh_token")] = QJsonArray{credential->refreshToken()};
        accounts[0] = account;
        scenario[QStringLiteral("accounts")] = accounts;
        QJsonObject lists = scenario[QStringLiteral("lists")].toObject();
        lists[QStringLiteral("runs")] = QJsonArray{QJsonDocument::fromJson(R"({"demo@example.com": {
          "docs": {"files": {
            "change": [{"id": "doc-plan", "content": "Planting plan\r\nBeans in May, kale in August.\n"}],
            "add": [{"id": "txt-seeds", "title": "Seeds.txt", "mimeType": "text/plain", "parents": ["root"], "content": "beans, kale\n"}],
            "delete": ["pdf-lease"]}},
          "contacts": {"contacts": {"change": [{"id": "c-bo", "email": "bo@sample.example"}]}},
          "calendar": {"events": {
            "change": [{"id": "ev-call", "summary": "Call with Bo, moved"}],
            "add": [{"id": "ev-seeds", "parents": ["demo@example.com"], "summary": "Seed swap",
                     "start": {"dateTime": "2026-03-01T10:00:00Z"}, "end": {"dateTime": "2026-03-01T11:00:00Z"}}]}},
          "tasks": {"tasks": {"change": [{"id": "t-post", "status": "completed", "completed": "2026-01-20T10:00:00.000Z"}]}}
        }})").object()};
        scenario[QStringLiteral("lists")] = lists;
        const QString google = QStringLiteral("http://127.0.0.1:%1/_control/").arg(s_servers->value(QStringLiteral("GOOGLE_HTTP_PORT")));
        post(google + QStringLiteral("scenario"), QJsonDocument(scenario).toJson(QJsonDocument::Compact));
        post(google + QStringLiteral("run"), "{}");
        // Two of All Mail's messages by their UIDs, which the generated mailbox does not start at 1.
        const QString imap = QStringLiteral("http://127.0.0.1:%1/").arg(s_servers->value(QStringLiteral("IMAP_CONTROL_PORT")));
        const QJsonArray messages =
            QJsonDocument::fromJson(post(imap, R"({"op": "messages"})")).object()[QStringLiteral("result")][QStringLiteral("messages")].toArray();
        ASSERT_GT(messages.size(), 5);
        const int flagged = messages[2].toObject()[QStringLiteral("uid")].toInt();
        const int expunged = messages[4].toObject()[QStringLiteral("uid")].toInt();
        post(imap, QStringLiteral(R"([{"op": "add_message", "raw": "From: bo@example.net\r\nTo: demo@example.com\r\nSubject: Seeds\r\nMessage-ID: <seeds@example.net>\r\n\r\nKale or beans?\r\n",
                                      "labels": ["\\Inbox"], "internaldate": "2026-01-21T09:00:00Z"},
                                     {"op": "flag", "uid": %1, "add": ["\\Flagged"]},
                                     {"op": "expunge", "uid": %2}])")
                       .arg(flagged)
                       .arg(expunged)
                       .toUtf8());
    }

    // The body of the server's answer to a POST of `body`; a failure fails the test.
    static QByteArray post(const QString &url, const QByteArray &body)
    {
        QProcess curl;
        curl.start(QStringLiteral("curl"), {QStringLiteral("-sS"), QStringLiteral("--fail-with-body"), QStringLiteral("-H"),
                                            QStringLiteral("Content-Type: application/json"), QStringLiteral("--data-binary"), QStringLiteral("@-"), url});
        curl.write(body);
        curl.closeWriteChannel();
        const bool finished = curl.waitForFinished(60000);
        const QByteArray answer = curl.readAllStandardOutput();
        EXPECT_TRUE(finished && curl.exitCode() == 0) << url.toStdString() << ": " << answer.toStdString() << curl.readAllStandardError().toStdString();
        return answer;
    }
};

// The child: a follow-up backup through the program's start-up and Back Up Now,
// on the folders its parent gave; prints the writes it made.
TEST_F(DemoBackupKillTest, ChildRun)
{
    if (childRoot().isEmpty())
        GTEST_SKIP() << "run as a child of FollowUpBackupKilledAtEachWriteAndRunAgainEndsAsAnUninterruptedOne";
    // What main() does before the application starts: the half-written files a killed run left go.
    TDWFileUpkeep::atStartup(QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(QStringLiteral("Tidewell")),
                             QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).filePath(QStringLiteral("Tidewell")));
    makeProgramController();
    launch();
    ASSERT_TRUE(startupFinished);
    if (!controller->backupScheduler()->backupInProgress()) {
        QAction *backUpNow = controller->statusItemMgr()->backUpNowItem();
        ASSERT_TRUE(backUpNow->isEnabled());
        backUpNow->trigger();
    }
    ASSERT_TRUE(waitForRunEnd(0));
    std::printf("WRITES %d\n", TDWTestKillPoint::writesSoFar());
    std::fflush(stdout);
}

TEST_F(DemoBackupKillTest, FollowUpBackupKilledAtEachWriteAndRunAgainEndsAsAnUninterruptedOne)
{
    if (!childRoot().isEmpty())
        GTEST_SKIP();
    goThroughFirstRun();
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(waitForRunEnd(0));
    const std::shared_ptr<TDWCredential> credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(DemoServers::Address);
    ASSERT_TRUE(credential && !credential->refreshToken().isEmpty());
    const QDir dataHome(qEnvironmentVariable("XDG_DATA_HOME"));
    const QString dataRelative = dataHome.relativeFilePath(TDWFileMgr::defaultDataDir());
    const QString backupsRelative = dataHome.relativeFilePath(TDWFileMgr::backedUpItemsPath());
    ASSERT_FALSE(backupsRelative.startsWith(QLatin1String("..")));
    // The program quits, as a user's would, before its folders are copied.
    controller.reset();
    QCoreApplication::processEvents();
    TDWMasterStore::shared().setStoreMgr(nullptr);
    TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
    const QString base = tdwtest::freshDir(QStringLiteral("after-first-backup"));
    ASSERT_TRUE(copyProgramFolders(base));
    changeServers(credential);
    if (HasFatalFailure())
        return;

    // The uninterrupted follow-up: the state to reach, and the writes it makes.
    const QString reference = tdwtest::freshDir(QStringLiteral("reference"));
    ASSERT_TRUE(copyRoot(base, reference));
    QElapsedTimer clock;
    clock.start();
    const ChildRun uninterrupted = runChild(reference, 0);
    ASSERT_TRUE(uninterrupted.finished);
    const qint64 runMs = clock.elapsed();
    const QStringList expected = stateOf(reference, dataRelative, backupsRelative);
    ASSERT_FALSE(expected == stateOf(base, dataRelative, backupsRelative)) << "the follow-up found nothing new";
    ASSERT_GT(uninterrupted.writes, 10);

    const int stride = std::max(1, qEnvironmentVariableIntValue(StrideVariable));
    int covered = 0;
    for (int n = 1; n <= uninterrupted.writes; n += stride) {
        SCOPED_TRACE(testing::Message() << "killed at write " << n << " of " << uninterrupted.writes);
        const QString round = tdwtest::freshDir(QStringLiteral("killed"));
        ASSERT_TRUE(copyRoot(base, round));
        const ChildRun killed = runChild(round, n);
        // A run may make a write or two fewer than the reference (the order of a few saves varies).
        if (!killed.killed) {
            EXPECT_TRUE(killed.finished);
            continue;
        }
        ++covered;
        ASSERT_TRUE(runChild(round, 0).finished);
        const QStringList found = stateOf(round, dataRelative, backupsRelative);
        EXPECT_TRUE(found == expected) << difference(expected, found);
        QDir(round).removeRecursively();
    }
    std::printf("follow-up backup: %d of %d kill points covered (every %d), %lld ms per uninterrupted run\n", covered,
                uninterrupted.writes, stride, runMs);
    EXPECT_GE(covered, uninterrupted.writes / stride - 2);
}

} // namespace
