// The store migration at start-up: every store of an earlier layout brought
// forward in place with its rows, a newer or unknown store stopping it with
// nothing touched, a failing step undone, and the upgrade's dated copy.
#include "DataObjectsTestSupport.h"
#include "LaterMetadataModel.h"

#include "TestSupport.h"

#include "common/TDWFileMgr.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWMetadataModel.h"
#include "migration/TDWDataFileUpgrade.h"
#include "migration/TDWMigrationManager.h"
#include "platform/store/TDWSqliteConnection.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <gtest/gtest.h>

using migrationtest::laterMetadataModel;

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QString Bob = QStringLiteral("bob@example.com");
const QString Docs = QStringLiteral("docs");

// A data folder of today's layout: two accounts, Drive stores with items, and
// a mail store that was never made. Closed again; answers the folder.
QString todaysDataFolder()
{
    dotest::MetadataStack stack;
    stack.addAccount(Alice);
    stack.addAccount(Bob, {Docs});
    for (const QString &user : {Alice, Bob}) {
        const TDWPersistentStorePtr store = stack.store(user, Docs);
        for (int i = 0; i < 3; ++i)
            TDWDoc::newWithMoc(*stack.moc, store)->setDocId(QStringLiteral("%1-%2").arg(user).arg(i));
    }
    EXPECT_TRUE(stack.moc->save(nullptr));
    return stack.folder;
}

// Every file of the folder tree with its bytes, side files left out.
QMap<QString, QByteArray> files(const QString &folder)
{
    QMap<QString, QByteArray> found;
    for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        if (path.endsWith(QLatin1String("-wal")) || path.endsWith(QLatin1String("-shm")))
            continue;
        QFile file(path);
        found.insert(QDir(folder).relativeFilePath(path), file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return found;
}

QStringList storeFiles(const QString &folder)
{
    QStringList stores;
    for (const QString &name : files(folder).keys())
        if (name.endsWith(QLatin1String(".sqlite3")))
            stores.append(QDir(folder).filePath(name));
    return stores;
}

class TDWMigrationManagerTest : public ::testing::Test
{
protected:
    void TearDown() override { TDWFileMgr::reset(); }
    // Points the file layout at the folder, as the start-up would.
    static QString dataPath(const QString &folder)
    {
        TDWFileMgr::reset();
        TDWFileMgr::initAltDataDir(folder);
        return TDWFileMgr::dataFilePath();
    }
};

TEST_F(TDWMigrationManagerTest, StoresOfTheEarlierLayoutAreMigratedInPlaceWithTheirRows)
{
    const QString folder = todaysDataFolder();
    const QString data = dataPath(folder);
    const QStringList stores = storeFiles(folder);
    ASSERT_EQ(stores.size(), 3); // the master and two Drive stores
    QMap<QString, QString> counts;
    const auto rowCounts = [](const QString &path) {
        return dotest::sqlite(path, QStringLiteral("SELECT (SELECT count(*) FROM sqlite_master WHERE type = 'table') || ' ' || "
                                                   "(SELECT group_concat(name || '=' || seq) FROM sqlite_sequence)"));
    };
    for (const QString &path : stores)
        counts.insert(path, rowCounts(path));

    TDWMigrationManager manager(laterMetadataModel());
    EXPECT_TRUE(manager.storesNeedMigration(data));
    QList<float> published;
    QObject::connect(&manager, &TDWMigrationManager::tdwMigrationProgressChanged, [&](float progress) { published.append(progress); });
    tdwtest::LogCapture log;
    const std::shared_ptr<TDWPersistentStoreCoordinator> coordinator = manager.migrateFrom(data);
    ASSERT_TRUE(coordinator);
    EXPECT_TRUE(log.contains(QStringLiteral("totalTime: ")));

    EXPECT_EQ(manager.numRecordsTotal(), 3);
    EXPECT_EQ(published, (QList<float>{1.0f / 3, 2.0f / 3, 1.0f}));
    for (const QString &path : stores) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(dotest::sqlite(path, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        EXPECT_EQ(dotest::sqlite(path, QStringLiteral("PRAGMA foreign_key_check")), QString());
        EXPECT_EQ(rowCounts(path), counts.value(path));
        EXPECT_EQ(dotest::sqlite(path, QStringLiteral("SELECT value FROM tdw_metadata WHERE key = 'layoutVersion'")), QStringLiteral("2"));
    }
    EXPECT_EQ(dotest::sqlite(data, QStringLiteral("SELECT group_concat(testNote) FROM Account")), QStringLiteral("none,none"));
    EXPECT_FALSE(manager.storesNeedMigration(data));

    // The application's store manager opens every store of the new layout.
    const auto storeMgr = TDWStoreMgr::initWithPersistentStoreCoordinator(coordinator, coordinator->persistentStores().first());
    ASSERT_TRUE(storeMgr);
    TDWManagedObjectContext moc(coordinator);
    const auto docs = TDWEntityFetch(moc, QStringLiteral("Doc")).where(QStringLiteral("testLabel == nil")).objects<TDWDoc>(nullptr);
    ASSERT_TRUE(docs);
    EXPECT_EQ(docs->size(), 6);
}

TEST_F(TDWMigrationManagerTest, ANewerOrUnknownStoreStopsTheMigrationWithNothingTouched)
{
    for (const char *stamp : {"UPDATE tdw_metadata SET value = 9 WHERE key = 'layoutVersion'",
                              "UPDATE tdw_metadata SET value = 'unknown' WHERE key = 'versionHash'"}) {
        SCOPED_TRACE(stamp);
        const QString folder = todaysDataFolder();
        const QString data = dataPath(folder);
        // One Drive store written by a newer program (or by none we know).
        const QString stamped = storeFiles(folder).filter(QStringLiteral("Auxiliary Stores")).first();
        dotest::sqlite(stamped, QString::fromLatin1(stamp));
        const QMap<QString, QByteArray> before = files(folder);

        tdwtest::LogCapture log;
        TDWMigrationManager manager(laterMetadataModel());
        EXPECT_FALSE(manager.migrateFrom(data));
        EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to find source model.")));
        EXPECT_TRUE(files(folder) == before);
    }
}

TEST_F(TDWMigrationManagerTest, AFailingStepLeavesItsStoreAsItWasAndNoFilesBehind)
{
    const QString folder = todaysDataFolder();
    const QString data = dataPath(folder);
    const QStringList accountStores = storeFiles(folder).filter(QStringLiteral("Auxiliary Stores"));
    ASSERT_EQ(accountStores.size(), 2);
    QStringList dumps;
    for (const QString &path : accountStores)
        dumps.append(dotest::sqlite(path, QStringLiteral(".dump")));
    const QStringList before = files(folder).keys();

    tdwtest::LogCapture log;
    TDWMigrationManager manager(laterMetadataModel({.failingAccountStoreStep = true}));
    EXPECT_FALSE(manager.migrateFrom(data));
    EXPECT_TRUE(log.contains(QStringLiteral("Exception migrating data: a step that fails")));
    EXPECT_EQ(files(folder).keys(), before);
    // The master store went first and is whole at the new layout; the stores after it are as they were.
    EXPECT_EQ(dotest::sqlite(data, QStringLiteral("SELECT value FROM tdw_metadata WHERE key = 'layoutVersion'")), QStringLiteral("2"));
    for (qsizetype i = 0; i < accountStores.size(); ++i)
        EXPECT_EQ(dotest::sqlite(accountStores[i], QStringLiteral(".dump")), dumps[i]);
    // The next start finds them of the earlier layout still, and tries again.
    EXPECT_TRUE(TDWMigrationManager(laterMetadataModel()).storesNeedMigration(data));
}

TEST_F(TDWMigrationManagerTest, TheDatedCopyHoldsRowsStillInTheLogAndNoCopyMeansNoUpgrade)
{
    // Rows saved but not yet folded into the file: the kill left the log beside it.
    const QString folder = tdwtest::freshDir(QStringLiteral("kill"));
    {
        dotest::MetadataStack stack;
        stack.addAccount(Alice);
        ASSERT_TRUE(QFile::exists(TDWFileMgr::dataFilePath() + QStringLiteral("-wal")));
        for (const QString &suffix : {QString(), QStringLiteral("-wal")})
            ASSERT_TRUE(QFile::copy(TDWFileMgr::dataFilePath() + suffix, QDir(folder).filePath(QStringLiteral("TidewellData.sqlite3")) + suffix));
    }
    const QString data = dataPath(folder);
    EXPECT_EQ(QFileInfo(TDWDataFileUpgrade::backupPath(data, dotest::at(2))).fileName(), QStringLiteral("TidewellData_backup_730951200.000000.sqlite3"));
    // A leftover of an interrupted rebuild goes first.
    ASSERT_TRUE(QFile::copy(data, QDir(folder).filePath(QStringLiteral("TidewellDataNew.sqlite3"))));

    TDWMigrationManager manager(laterMetadataModel());
    ASSERT_TRUE(TDWDataFileUpgrade::run(manager, data, dotest::at(2)));
    const QString backup = TDWDataFileUpgrade::backupPath(data, dotest::at(2));
    EXPECT_EQ(dotest::sqlite(backup, QStringLiteral("SELECT username FROM Account")), Alice);
    // Taken before the migration: the old layout.
    EXPECT_EQ(dotest::sqlite(backup, QStringLiteral("SELECT value FROM tdw_metadata WHERE key = 'layoutVersion'")), QStringLiteral("1"));
    EXPECT_FALSE(QFile::exists(QDir(folder).filePath(QStringLiteral("TidewellDataNew.sqlite3"))));

    // No room for the copy (a folder in its place): the stores are not touched.
    const QString second = todaysDataFolder();
    const QString secondData = dataPath(second);
    ASSERT_TRUE(QDir().mkpath(TDWDataFileUpgrade::backupPath(secondData, dotest::at(3))));
    const QMap<QString, QByteArray> before = files(second);
    tdwtest::LogCapture log;
    TDWMigrationManager again(laterMetadataModel());
    EXPECT_FALSE(TDWDataFileUpgrade::run(again, secondData, dotest::at(3)));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to copy ")));
    EXPECT_TRUE(files(second) == before);
}

TEST(TDWDataFileUpgradeTest, TheDocsFolderLosesOldAccountEntriesOnlyWhenEachHasItsFolder)
{
    struct Case
    {
        const char *name;
        QStringList folders;
        QStringList files;
        QStringList left;
    };
    const Case cases[] = {
        {"one entry per folder", {QStringLiteral("a@example.com"), QStringLiteral("b@example.com")},
         {QStringLiteral("account.aaaaaa"), QStringLiteral("account.bbbbbb")}, {QStringLiteral("a@example.com"), QStringLiteral("b@example.com")}},
        {"one more entry", {QStringLiteral("a@example.com")}, {QStringLiteral("account.aaaaaa"), QStringLiteral("notes.txt")},
         {QStringLiteral("a@example.com"), QStringLiteral("account.aaaaaa"), QStringLiteral("notes.txt")}},
        {"empty", {}, {}, {}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        const QDir dir(tdwtest::freshDir(QStringLiteral("docs")));
        for (const QString &name : k.folders)
            dir.mkdir(name);
        for (const QString &name : k.files) {
            QFile file(dir.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        TDWDataFileUpgrade::cleanDocsFolder(dir.path());
        EXPECT_EQ(dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name), k.left);
    }
}

} // namespace
