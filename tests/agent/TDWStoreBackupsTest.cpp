#include "../dataobjects/DataObjectsTestSupport.h"

#include "TestSupport.h"
#include "agent/TDWStoreBackups.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWClock.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

namespace {

const QDateTime Now(QDate(2026, 6, 15), QTime(12, 0), Qt::UTC);
const QString Alice = QStringLiteral("alice@example.com");

QString nameAged(qint64 seconds)
{
    return TDWStoreBackups::folderNameForDate(Now.addSecs(-seconds));
}

QStringList entriesOf(const QString &path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

class TDWStoreBackupsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TDWClock::setNowProvider([] { return Now; });
        stack.addAccount(Alice, {QStringLiteral("docs"), QStringLiteral("contacts")});
        ASSERT_TRUE(stack.store(Alice, QStringLiteral("docs")));
        ASSERT_TRUE(stack.store(Alice, QStringLiteral("contacts")));
    }
    void TearDown() override { TDWClock::setNowProvider({}); }

    QString snapshots() const { return QDir(TDWFileMgr::appSupportDir()).filePath(QStringLiteral("Store Backups")); }

    // Every copy in a snapshot is a whole, sound store on its own.
    void expectSoundSnapshot(const QString &path)
    {
        const QString master = QDir(path).filePath(QFileInfo(TDWFileMgr::dataFilePath()).fileName());
        ASSERT_TRUE(QFileInfo::exists(master)) << master.toStdString();
        EXPECT_EQ(dotest::sqlite(master, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        EXPECT_EQ(dotest::sqlite(master, QStringLiteral("SELECT count(*) FROM Account")), QStringLiteral("1"));
        const QString aux = QDir(path).filePath(QStringLiteral("Auxiliary Stores"));
        const QStringList copies = entriesOf(aux);
        QStringList stores = QDir(TDWFileMgr::auxiliaryStoresDir()).entryList(QDir::Files);
        stores.removeIf([](const QString &name) { return TDWPersistentStoreCoordinator::isSideFileName(name); });
        EXPECT_FALSE(stores.isEmpty());
        EXPECT_EQ(copies, stores);
        for (const QString &copy : copies) {
            EXPECT_FALSE(copy.endsWith(QStringLiteral("-wal")) || copy.endsWith(QStringLiteral("-shm"))) << copy.toStdString();
            EXPECT_EQ(dotest::sqlite(QDir(aux).filePath(copy), QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        }
    }

    dotest::MetadataStack stack;
};

struct PruneCase
{
    const char *label;
    QStringList before; // folders present before
    QStringList after; // besides a new snapshot
    bool snapshotMade;
    QString logged; // a line that must be logged, or empty for none
};

} // namespace

TEST_F(TDWStoreBackupsTest, PrunesByAgeAndMakesOneSnapshotADay)
{
    const QString day23h = nameAged(23 * 3600);
    const QString days2 = nameAged(2 * 86400);
    const QString days8 = nameAged(8 * 86400);
    const QString future = TDWStoreBackups::folderNameForDate(Now.addSecs(7200));
    const QString weekAndAMinute = TDWStoreBackups::folderNameForDate(Now.addSecs(-7 * 86400 - 60));
    const QString leftover = nameAged(3600) + QStringLiteral("_tmp");
    const PruneCase cases[] = {
        {"nothing yet", {}, {}, true, {}},
        {"23 hours old", {day23h}, {day23h}, false, {}},
        {"2 days old", {days2}, {days2}, true, {}},
        {"8 days old", {days8}, {}, true, {}},
        {"8 and 2 days old", {days8, days2}, {days2}, true, {}},
        {"in the future", {future}, {future}, false, {}},
        {"a week and a minute old", {weekAndAMinute}, {}, true, {}},
        {"hidden entry", {QStringLiteral(".cache")}, {QStringLiteral(".cache")}, true, {}},
        {"foreign entry", {QStringLiteral("notes")}, {QStringLiteral("notes")}, true,
         QStringLiteral("ERROR: Unable to parse date from subfolder name: notes")},
        {"leftover of an earlier killed run", {leftover}, {}, true, {}},
    };
    const QString made = TDWStoreBackups::folderNameForDate(Now);
    for (const PruneCase &c : cases) {
        SCOPED_TRACE(c.label);
        QDir(snapshots()).removeRecursively();
        for (const QString &name : c.before)
            ASSERT_TRUE(QDir().mkpath(QDir(snapshots()).filePath(name)));
        tdwtest::LogCapture log;

        TDWStoreBackups::backUpStoresIfNecessary();

        QStringList expected = c.after;
        if (c.snapshotMade)
            expected.append(made);
        expected.sort();
        EXPECT_EQ(entriesOf(snapshots()), expected);
        if (c.snapshotMade)
            expectSoundSnapshot(QDir(snapshots()).filePath(made));
        QStringList errors;
        for (const QString &line : log.lines())
            if (line.startsWith(QStringLiteral("ERROR: ")))
                errors.append(line);
        EXPECT_EQ(errors, c.logged.isEmpty() ? QStringList() : QStringList{c.logged});
    }
}

TEST_F(TDWStoreBackupsTest, AnOldSnapshotThatIsALinkIsRemovedWithoutWhatItPointsTo)
{
    const QString elsewhere = tdwtest::freshDir(QStringLiteral("elsewhere"));
    QFile precious(QDir(elsewhere).filePath(QStringLiteral("precious.txt")));
    ASSERT_TRUE(precious.open(QIODevice::WriteOnly));
    precious.write("keep me");
    precious.close();
    ASSERT_TRUE(QDir().mkpath(snapshots()));
    const QString link = QDir(snapshots()).filePath(nameAged(9 * 86400));
    ASSERT_TRUE(QFile::link(elsewhere, link));

    TDWStoreBackups::backUpStoresIfNecessary();

    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(QFile::exists(precious.fileName()));
    EXPECT_EQ(entriesOf(snapshots()), QStringList{TDWStoreBackups::folderNameForDate(Now)});
}

TEST_F(TDWStoreBackupsTest, CopiesTakenWhileAWriterSavesAreWholeAndConsistent)
{
    const TDWPersistentStorePtr docs = stack.store(Alice, QStringLiteral("docs"));
    ASSERT_TRUE(docs);
    // Each save adds one item and its revision together: a consistent copy
    // holds as many revisions as items.
    std::atomic<int> saved = 0;
    std::atomic<bool> stop = false;
    std::atomic<bool> failed = false;
    std::thread writer([&] {
        const auto moc = TDWMasterStore::shared().newMoc();
        while (!stop) {
            const auto doc = TDWDoc::newWithMoc(*moc, docs);
            doc->setDocId(QStringLiteral("doc-%1").arg(saved.load()));
            doc->setAccountUsername(Alice);
            doc->setService(QStringLiteral("docs"));
            const auto revision = TDWDocRev::newWithMoc(*moc, docs);
            revision->setDoc(doc);
            revision->setTitle(QStringLiteral("a title long enough to fill pages ").repeated(20));
            if (!moc->save(nullptr)) {
                failed = true;
                return;
            }
            moc->reset();
            ++saved;
        }
    });
    while (saved < 20 && !failed)
        std::this_thread::yield();

    const QString folder = tdwtest::freshDir(QStringLiteral("copies"));
    struct Copy
    {
        QString path;
        int savedBefore;
    };
    std::vector<Copy> copies;
    for (int i = 0; i < 5; ++i) {
        const QString path = QDir(folder).filePath(QString::number(i));
        const int savedBefore = saved;
        ASSERT_TRUE(TDWStoreBackups::backUpStoresTo(path));
        copies.push_back({path, savedBefore});
    }
    stop = true;
    writer.join();
    ASSERT_FALSE(failed);

    const QString docsCopyName = QFileInfo(docs->path()).fileName();
    for (const Copy &copy : copies) {
        SCOPED_TRACE(copy.path.toStdString());
        expectSoundSnapshot(copy.path);
        const QString docsCopy = QDir(copy.path).filePath(QStringLiteral("Auxiliary Stores/") + docsCopyName);
        const int items = dotest::sqlite(docsCopy, QStringLiteral("SELECT count(*) FROM Doc")).toInt();
        EXPECT_EQ(dotest::sqlite(docsCopy, QStringLiteral("SELECT count(*) FROM DocRev")).toInt(), items);
        // What was saved before the copy began is in it, log and all.
        EXPECT_GE(items, copy.savedBefore);
    }
}

TEST(TDWStoreBackups, SnapshotsGoToTheDataFolderEvenBeforeAnythingElseAskedForIt)
{
    TDWFileMgr::reset();
    const QString previous = QDir::currentPath();
    const QString elsewhere = tdwtest::freshDir(QStringLiteral("cwd"));
    ASSERT_TRUE(QDir::setCurrent(elsewhere));

    TDWStoreBackups::backUpStoresIfNecessary();

    QDir::setCurrent(previous);
    EXPECT_TRUE(entriesOf(elsewhere).isEmpty());
    EXPECT_TRUE(QFileInfo(QDir(TDWFileMgr::appSupportDir()).filePath(QStringLiteral("Store Backups"))).isDir());
    TDWFileMgr::reset();
}
