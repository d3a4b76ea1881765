// A list retrieval killed at any store save or file write, then run again,
// ends in the same state as runs that were never interrupted: no completed
// revision lost, no item left without its latest revision. The runs happen in
// child processes (this program, filtered to ChildRun), which the kill point
// stops with SIGKILL at the chosen write.
#include "DataObjectsTestSupport.h"
#include "FakeGoogleServer.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "agent/TDWApiBackupOperation.h"
#include "app/TDWRegisterClasses.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWTestKillPoint.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QProcess>

#include <cstdio>

#include <gtest/gtest.h>

namespace {

const QString User = QStringLiteral("User@Example.com");
const QString Docs = QStringLiteral("docs");
const char *FolderVariable = "TDW_KILL_TEST_FOLDER";

QJsonObject scenario()
{
    return QJsonDocument::fromJson(R"({
      "accounts": [{"email": "User@Example.com", "access_token": "at-user"}],
      "lists": {"page_size": 2, "data": {"User@Example.com": {"docs": {"files": [
        {"id": "fo", "title": "Work", "mimeType": "application/vnd.google-apps.folder"},
        {"id": "f1", "title": "Report.pdf", "mimeType": "application/pdf", "parents": ["fo"]},
        {"id": "d1", "title": "Notes", "mimeType": "application/vnd.google-apps.document", "parents": ["fo"]},
        {"id": "t1", "title": "Todo.txt", "mimeType": "text/plain"}]}}}}
    })").object();
}

struct Child
{
    bool killed = false;
    bool succeeded = false;
    int writes = 0;
};

// One retrieval in a child process on the data folder, stopped at write `killAt` (0: never).
Child runChild(const QString &folder, int killAt)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(FolderVariable), folder);
    environment.insert(QStringLiteral("TDW_TEST_KILL_AT_WRITE"), QString::number(killAt));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=TDWListRetrievalKillTest.ChildRun")});
    EXPECT_TRUE(child.waitForFinished(120000));
    Child outcome;
    outcome.killed = child.exitStatus() == QProcess::CrashExit;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        if (line.startsWith("RESULT ")) {
            const QList<QByteArray> fields = line.split(' ');
            outcome.writes = fields.value(1).toInt();
            outcome.succeeded = fields.value(2) == "1";
        }
    }
    return outcome;
}

// docId -> "deleted/latest revisions/latest title" of every item in the folder's Drive store.
QMap<QString, QString> state(const QString &folder)
{
    dotest::MetadataStack stack(folder);
    QMap<QString, QString> found;
    TDWError error;
    const TDWPersistentStorePtr store = stack.store(User, Docs);
    for (const TDWDoc::Ptr &doc : TDWDoc::allByStore(store, *stack.moc, &error).value_or(QList<TDWDoc::Ptr>())) {
        int latest = 0;
        QString title;
        for (const TDWDocRev::Ptr &rev : doc->docRevs()) {
            if (rev->latest()) {
                ++latest;
                title = rev->title();
            }
        }
        found.insert(doc->docId(), QStringLiteral("%1/%2/%3").arg(doc->deleted()).arg(latest).arg(title));
    }
    stack.moc->reset();
    return found;
}

// Everything in the data folder's backup folder, relative to it: the item and
// revision folders the retrieval made, and any file in them.
QStringList backupTree(const QString &folder)
{
    const QDir backups(QDir(folder).filePath(QStringLiteral("backups")));
    QStringList entries;
    QDirIterator it(backups.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << backups.relativeFilePath(it.next());
    entries.sort();
    return entries;
}

TEST(TDWListRetrievalKillTest, ChildRun)
{
    const QString folder = qEnvironmentVariable(FolderVariable);
    if (folder.isEmpty())
        GTEST_SKIP() << "run as a child of KillAtEveryWriteThenRunAgain";
    TDWRegisterClasses();
    dotest::MetadataStack stack(folder);
    TDWError error;
    if (!TDWAccount::byUsername(User, *stack.moc, &error)) {
        ASSERT_TRUE(TDWAccount::addAccountWithUsername(User, {}, 1, {Docs}, false, *stack.moc));
    }
    stack.moc->reset();
    auto credential = std::make_shared<TDWCredential>();
    credential->setAccessToken(QStringLiteral("at-user"));
    credential->setAccessTokenExpires(TDWClock::now().addSecs(3600));
    ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, User, true));
    const TDWBackupIteration::Ptr iteration = TDWBackupIteration::newWithMoc(*stack.moc);
    iteration->setIterationStartTime(QDateTime::fromSecsSinceEpoch(TDWClock::now().toSecsSinceEpoch(), Qt::UTC));
    ASSERT_TRUE(stack.moc->save(&error));
    const TDWManagedObjectID iterationId = iteration->objectID();
    stack.moc->reset();

    std::shared_ptr<TDWOperation> retrieval(
        TDWListRetrievalClasses::shared().create(TDWApiBackupOperation::ListRetrievalClass, User, Docs, iterationId, nullptr));
    ASSERT_TRUE(retrieval);
    TDWOperationQueue queue;
    queue.addOperation(retrieval);
    queue.waitUntilAllOperationsAreFinished();
    TDWAccount::Ptr account = TDWAccount::byUsername(User, *stack.moc, &error);
    const auto last = account ? account->lastListIterationForService(Docs) : nullptr;
    const bool succeeded = last && last->objectID() == iterationId;
    stack.moc->reset();
    std::printf("RESULT %d %d\n", TDWTestKillPoint::writesSoFar(), succeeded ? 1 : 0);
    std::fflush(stdout);
}

TEST(TDWListRetrievalKillTest, KillAtEveryWriteThenRunAgain)
{
    if (!qEnvironmentVariableIsEmpty(FolderVariable))
        GTEST_SKIP();
    tdwtest::FakeGoogleServer fake;
    ASSERT_TRUE(fake.start(scenario()));

    // Two runs that nobody stops: the state to reach, and how many writes a run makes.
    const QString reference = tdwtest::freshDir(QStringLiteral("reference"));
    const Child first = runChild(reference, 0);
    ASSERT_TRUE(first.succeeded);
    ASSERT_TRUE(runChild(reference, 0).succeeded);
    const QMap<QString, QString> expected = state(reference);
    ASSERT_EQ(expected.size(), 4);
    const QStringList expectedTree = backupTree(reference);
    ASSERT_TRUE(expectedTree.contains(QStringLiteral("Google Drive/User at Example dot com/Report/1"))) << expectedTree.join(u'\n').toStdString();
    ASSERT_GT(first.writes, 5);

    for (int n = 1; n <= first.writes; ++n) {
        SCOPED_TRACE(testing::Message() << "killed at write " << n << " of " << first.writes);
        const QString folder = tdwtest::freshDir(QStringLiteral("killed"));
        EXPECT_TRUE(runChild(folder, n).killed);
        // Whatever the kill left, no item is without its latest revision.
        for (const QString &item : state(folder))
            EXPECT_EQ(item.section(u'/', 1, 1), QStringLiteral("1")) << item.toStdString();
        EXPECT_TRUE(runChild(folder, 0).succeeded);
        EXPECT_EQ(state(folder), expected);
        // No folder a killed run made before its row is left, nor taken past ("Report-1", revision "2").
        EXPECT_EQ(backupTree(folder).join(u'\n').toStdString(), expectedTree.join(u'\n').toStdString());
    }
}

} // namespace
