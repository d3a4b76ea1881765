// Pruning after a successful list retrieval: old revisions, items and links
// out of the store and then their files off the disk, outdated iterations,
// the limited Drive clean-up, and list-page folders older than a week.
#include "DataObjectsTestSupport.h"

#include "agent/TDWLockUnlockAllBackupFilesOperation.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocParent.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "services/TDWListRetrievalPruner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

const QString User = QStringLiteral("user@example.com");
const QString Docs = QStringLiteral("docs");
constexpr qint64 Day = 86400;

class TDWListRetrievalPrunerTest : public ::testing::Test
{
protected:
    void SetUp() override { stack.addAccount(User, {Docs}); }
    void TearDown() override { TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("DeleteReferenceDeltaSeconds")); }

    QDateTime daysAgo(qint64 days) const { return QDateTime::fromSecsSinceEpoch(TDWClock::now().toSecsSinceEpoch() - days * Day, Qt::UTC); }
    QString itemsFolder() const { return TDWFileMgr::backedUpItemsPathForService(Docs); }

    TDWDoc::Ptr addDoc(const QString &docId, const QString &docType = QStringLiteral("document"), bool deleted = false)
    {
        const TDWDoc::Ptr doc = TDWDoc::newWithMoc(*stack.moc, stack.store(User, Docs));
        doc->setAccountUsername(User);
        doc->setService(Docs);
        doc->setDocId(docId);
        doc->setDocType(docType);
        doc->setDeleted(deleted);
        doc->setDirPath(docId);
        return doc;
    }

    // A revision whose file is written under the item's folder; a null date keeps it open.
    TDWDocRev::Ptr addRev(const TDWDoc::Ptr &doc, int number, bool latest, const QDateTime &obsoleted)
    {
        const TDWDocRev::Ptr rev = TDWDocRev::newWithMoc(*stack.moc, stack.store(User, Docs));
        rev->setDoc(doc);
        rev->setLatest(latest);
        rev->setFirstSeenDate(daysAgo(800));
        rev->setObsoletedDate(obsoleted);
        const QString file = QStringLiteral("%1/%2/file.txt").arg(doc->docId()).arg(number);
        rev->setFilePath(file);
        QDir().mkpath(QFileInfo(QDir(itemsFolder()).filePath(file)).path());
        QFile out(QDir(itemsFolder()).filePath(file));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("x");
        return rev;
    }

    void save()
    {
        TDWError error;
        ASSERT_TRUE(stack.moc->save(&error)) << error.description().toStdString();
        stack.moc->reset();
    }

    void prune(bool limitedFullRun = false)
    {
        TDWListRetrievalPruner(User, Docs, stack.store(User, Docs)).deleteOldBackups(limitedFullRun);
        stack.moc->reset();
    }

    QStringList docIds()
    {
        QStringList ids;
        TDWError error;
        for (const TDWDoc::Ptr &doc : TDWDoc::allByStore(stack.store(User, Docs), *stack.moc, &error).value_or(QList<TDWDoc::Ptr>()))
            ids << doc->docId() + u':' + QString::number(doc->docRevs().size());
        stack.moc->reset();
        ids.sort();
        return ids;
    }

    bool exists(const QString &relative) const { return QFileInfo::exists(QDir(itemsFolder()).filePath(relative)); }

    dotest::MetadataStack stack;
};

TEST_F(TDWListRetrievalPrunerTest, RevisionsClosedBeforeTheCutOffGoWithTheirFiles)
{
    const TDWDoc::Ptr kept = addDoc(QStringLiteral("kept"));
    addRev(kept, 1, false, daysAgo(91));
    addRev(kept, 2, false, daysAgo(89));
    addRev(kept, 3, true, {});
    const TDWDoc::Ptr gone = addDoc(QStringLiteral("gone"), QStringLiteral("document"), true);
    addRev(gone, 1, false, daysAgo(200));
    addRev(gone, 2, true, daysAgo(95));
    gone->setDatabaseFilePath(QStringLiteral("gone.sqlite"));
    const QString eventStore = QDir(TDWMasterStore::applicationSupportFolder()).filePath(QStringLiteral("calendarevents/gone.sqlite"));
    QDir().mkpath(QFileInfo(eventStore).path());
    QFile(eventStore).open(QIODevice::WriteOnly);
    save();
    // A locked file is unlocked and removed.
    TDWLockUnlockAllBackupFilesOperation::lock(true, QDir(itemsFolder()).filePath(QStringLiteral("kept/1/file.txt")));

    prune();
    EXPECT_EQ(docIds(), QStringList({"kept:2"}));
    EXPECT_FALSE(exists(QStringLiteral("kept/1")));
    EXPECT_TRUE(exists(QStringLiteral("kept/2/file.txt")));
    EXPECT_TRUE(exists(QStringLiteral("kept/3/file.txt")));
    EXPECT_FALSE(exists(QStringLiteral("gone")));
    EXPECT_FALSE(QFileInfo::exists(eventStore));
}

TEST_F(TDWListRetrievalPrunerTest, TheUserDefaultSetsTheCutOffOrKeepsEverything)
{
    const TDWDoc::Ptr doc = addDoc(QStringLiteral("doc"));
    addRev(doc, 1, false, daysAgo(10));
    addRev(doc, 2, true, {});
    save();
    TDWUserDefaults::standard()->setInteger(-1, QStringLiteral("DeleteReferenceDeltaSeconds"));
    prune();
    EXPECT_EQ(docIds(), QStringList({"doc:2"}));
    TDWUserDefaults::standard()->setInteger(11 * Day, QStringLiteral("DeleteReferenceDeltaSeconds"));
    prune();
    EXPECT_EQ(docIds(), QStringList({"doc:2"}));
    TDWUserDefaults::standard()->setInteger(9 * Day, QStringLiteral("DeleteReferenceDeltaSeconds"));
    prune();
    EXPECT_EQ(docIds(), QStringList({"doc:1"}));
}

TEST_F(TDWListRetrievalPrunerTest, AFolderStaysWhileItHoldsAVisibleEntry)
{
    const TDWDoc::Ptr doc = addDoc(QStringLiteral("doc"));
    addRev(doc, 1, false, daysAgo(100));
    addRev(doc, 2, false, daysAgo(100));
    addRev(doc, 3, true, {});
    save();
    QFile(QDir(itemsFolder()).filePath(QStringLiteral("doc/1/notes.txt"))).open(QIODevice::WriteOnly);
    QFile(QDir(itemsFolder()).filePath(QStringLiteral("doc/2/.hidden"))).open(QIODevice::WriteOnly);
    prune();
    EXPECT_TRUE(exists(QStringLiteral("doc/1/notes.txt")));
    EXPECT_FALSE(exists(QStringLiteral("doc/1/file.txt")));
    EXPECT_FALSE(exists(QStringLiteral("doc/2")));
}

TEST_F(TDWListRetrievalPrunerTest, ALimitedFullDriveRunDropsEveryOtherTypeAndOldLinksAndIterations)
{
    const TDWDoc::Ptr pdf = addDoc(QStringLiteral("pdf"), QStringLiteral("file"));
    addRev(pdf, 1, true, {});
    const TDWDoc::Ptr document = addDoc(QStringLiteral("document"), QStringLiteral("document"));
    addRev(document, 1, true, {});
    const TDWDocParent::Ptr link = TDWDocParent::newWithMoc(*stack.moc, stack.store(User, Docs));
    link->setDoc(document);
    link->setParentDoc(pdf);
    link->setAssocCurrent(false);
    link->setObsoletedDate(daysAgo(100));
    const TDWBackupIteration::Ptr old = TDWBackupIteration::newWithMoc(*stack.moc);
    old->setIterationStartTime(daysAgo(100));
    const TDWBackupIteration::Ptr recent = TDWBackupIteration::newWithMoc(*stack.moc);
    const QDateTime recentStart = daysAgo(1);
    recent->setIterationStartTime(recentStart);
    save();

    prune(false);
    EXPECT_EQ(docIds(), QStringList({"document:1", "pdf:1"}));
    prune(true);
    EXPECT_EQ(docIds(), QStringList({"document:1"}));
    EXPECT_FALSE(exists(QStringLiteral("pdf")));
    const auto notOutdated = TDWBackupIteration::backupIterationsNotOutdatedBefore(TDWClock::now(), *stack.moc);
    ASSERT_TRUE(notOutdated);
    ASSERT_EQ(notOutdated->size(), 1);
    EXPECT_EQ(notOutdated->first()->iterationStartTime(), recentStart);
    EXPECT_TRUE(TDWDocParent::obsoletedBefore(TDWClock::now(), stack.store(User, Docs), *stack.moc).value_or(QList<TDWDocParent::Ptr>()).isEmpty());
}

TEST_F(TDWListRetrievalPrunerTest, ListPageFoldersOlderThanAWeekGo)
{
    TDWError error;
    const QString dirPath = TDWAccount::byUsername(User, *stack.moc, &error)->dirPath();
    stack.moc->reset();
    const QDir account(QDir(TDWFileMgr::itemListXmlPathForService(Docs)).filePath(dirPath));
    const QStringList names{QString::number(daysAgo(8).toSecsSinceEpoch()), QString::number(daysAgo(6).toSecsSinceEpoch()), QStringLiteral("notes"),
                            QStringLiteral("0")};
    for (const QString &name : names)
        ASSERT_TRUE(account.mkpath(name + QStringLiteral("/x")));
    TDWListRetrievalPruner(User, Docs, stack.store(User, Docs)).deleteOldDocListFiles();
    EXPECT_EQ(account.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name), QStringList({names[3], names[1], names[2]}));
}

} // namespace
