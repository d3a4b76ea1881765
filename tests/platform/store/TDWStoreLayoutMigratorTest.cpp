// Store files of an earlier layout are brought forward in place, step by step;
// files of a newer layout are refused without a byte changed; a kill at any
// durable write of a migration leaves a whole file of one version or the next.
#include "StoreTestModel.h"

#include "TestSupport.h"

#include "platform/foundation/TDWTestKillPoint.h"
#include "platform/store/TDWSqliteConnection.h"
#include "platform/store/TDWStoreError.h"
#include "platform/store/TDWStoreLayoutMigrator.h"
#include "platform/store/TDWStoreMetadataKeys.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

using namespace storetest;

namespace {

const QString Library = QStringLiteral("library");

QByteArray bytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A library file of the first layout holding three items, its log folded in.
QString firstLayoutFile(const QString &folder)
{
    const QString path = QDir(folder).filePath(QStringLiteral("library.sqlite3"));
    auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(model());
    TDWError error;
    const TDWPersistentStorePtr store = coordinator->addPersistentStore(Library, path, {}, &error);
    EXPECT_TRUE(store) << error.description().toStdString();
    TDWManagedObjectContext context(coordinator);
    for (const char *code : {"Alpha", "BETA", "Straße"})
        addItem(context, store, QString::fromUtf8(code), QString::fromUtf8(code));
    EXPECT_TRUE(context.save(&error)) << error.description().toStdString();
    context.reset();
    EXPECT_TRUE(coordinator->removePersistentStore(store, &error));
    return path;
}

// What an independent reader sees of a store: health, rows and layout number.
void expectHealthy(const QString &path, const QString &layoutVersion)
{
    EXPECT_EQ(sqliteShell(path, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    EXPECT_EQ(sqliteShell(path, QStringLiteral("PRAGMA foreign_key_check")), QString());
    EXPECT_EQ(sqliteShell(path, QStringLiteral("SELECT count(*) FROM Item")), QStringLiteral("3"));
    EXPECT_EQ(sqliteShell(path, QStringLiteral("SELECT count(*) FROM Version WHERE item IS NOT NULL")), QStringLiteral("3"));
    EXPECT_EQ(sqliteShell(path, QStringLiteral("SELECT value FROM tdw_metadata WHERE key = 'layoutVersion'")), layoutVersion);
}

TEST(StoreLayout, NumbersFollowTheEarlierLayoutsAModelKeeps)
{
    EXPECT_EQ(model()->layoutVersion(Library), 1);
    EXPECT_EQ(laterModel(3)->layoutVersion(Library), 3);
    EXPECT_EQ(laterModel(3)->layoutVersion(QStringLiteral("main")), 1);
    EXPECT_EQ(laterModel(3)->versionHashOfLayout(Library, 1), model()->versionHash(Library));
    EXPECT_EQ(laterModel(3)->versionHashOfLayout(Library, 2), laterModel(2)->versionHash(Library));

    const QVariantMap first{{TDWStoreMetadataKeys::Configuration, Library}, {TDWStoreMetadataKeys::VersionHash, model()->versionHash(Library)}};
    int version = -1;
    // Files written before layouts were numbered are told by their hash.
    EXPECT_EQ(laterModel(3)->layoutStateOfStoreMetadata(Library, first, &version), TDWStoreLayoutState::Older);
    EXPECT_EQ(version, 1);
    EXPECT_EQ(model()->layoutStateOfStoreMetadata(Library, first), TDWStoreLayoutState::Current);
    QVariantMap third{{TDWStoreMetadataKeys::Configuration, Library},
                      {TDWStoreMetadataKeys::VersionHash, laterModel(3)->versionHash(Library)},
                      {TDWStoreMetadataKeys::LayoutVersion, 3}};
    EXPECT_EQ(model()->layoutStateOfStoreMetadata(Library, third, &version), TDWStoreLayoutState::Newer);
    EXPECT_EQ(version, 3);
    // A number this model knows with a hash it does not: never read as that layout.
    third[TDWStoreMetadataKeys::LayoutVersion] = 2;
    EXPECT_EQ(laterModel(3)->layoutStateOfStoreMetadata(Library, third), TDWStoreLayoutState::Unknown);
    EXPECT_EQ(laterModel(3)->layoutStateOfStoreMetadata(QStringLiteral("main"), first), TDWStoreLayoutState::Unknown);
}

TEST(StoreLayout, OlderFileIsRefusedUntouchedUntilMigratedInPlace)
{
    const QString path = firstLayoutFile(tdwtest::freshDir());
    const QByteArray before = bytes(path);
    {
        TDWPersistentStoreCoordinator coordinator(laterModel(2));
        TDWError error;
        EXPECT_FALSE(coordinator.addPersistentStore(Library, path, {}, &error));
        EXPECT_EQ(error.code(), TDWStoreError::OlderLayout) << error.description().toStdString();
    }
    EXPECT_TRUE(bytes(path) == before);
    EXPECT_TRUE(bytes(path + QStringLiteral("-wal")).isEmpty());

    TDWStoreLayoutMigrator migrator(laterModel(2), Library, path);
    TDWError error;
    ASSERT_TRUE(migrator.inspect(&error)) << error.description().toStdString();
    EXPECT_EQ(migrator.state(), TDWStoreLayoutState::Older);
    EXPECT_EQ(migrator.pendingSteps(), 1);
    int steps = 0;
    ASSERT_TRUE(migrator.migrate([&] { ++steps; }, &error)) << error.description().toStdString();
    EXPECT_EQ(steps, 1);
    expectHealthy(path, QStringLiteral("2"));
    // The new attribute has its default in every row; the new folded column is filled as saves fold.
    EXPECT_EQ(sqliteShell(path, QStringLiteral("SELECT group_concat(note) FROM Item")), QStringLiteral("none,none,none"));
    EXPECT_EQ(sqliteShell(path, QStringLiteral("SELECT group_concat(code__ci) FROM (SELECT code__ci FROM Item ORDER BY pk)")),
              QString::fromUtf8("alpha,beta,straße"));

    auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(laterModel(2));
    const TDWPersistentStorePtr store = coordinator->addPersistentStore(Library, path, {}, &error);
    ASSERT_TRUE(store) << error.description().toStdString();
    TDWManagedObjectContext context(coordinator);
    TDWFetchRequest request(QStringLiteral("Item"));
    request.setSortDescriptors({TDWSortDescriptor(QStringLiteral("code"), true, TDWSortDescriptor::CaseInsensitive)});
    const auto items = context.executeFetchRequest(request, &error);
    ASSERT_TRUE(items) << error.description().toStdString();
    ASSERT_EQ(items->size(), 3);
    EXPECT_EQ(items->at(1)->stringValue(QStringLiteral("code")), QStringLiteral("BETA"));
    EXPECT_EQ(items->at(1)->stringValue(QStringLiteral("note")), QStringLiteral("none"));
}

TEST(StoreLayout, NewerFileIsRefusedWithItsFileAndLogByteIdentical)
{
    // A newer program's file with rows still in its log: copied while its writer is open.
    const QString written = firstLayoutFile(tdwtest::freshDir());
    const QString path = QDir(tdwtest::freshDir()).filePath(QStringLiteral("newer.sqlite3"));
    {
        auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(model());
        TDWError error;
        const TDWPersistentStorePtr store = coordinator->addPersistentStore(Library, written, {}, &error);
        ASSERT_TRUE(store) << error.description().toStdString();
        TDWManagedObjectContext context(coordinator);
        addItem(context, store, QStringLiteral("late"), QStringLiteral("Late"));
        ASSERT_TRUE(context.save(&error));
        std::unique_ptr<TDWSqliteConnection> stamp = TDWSqliteConnection::open(written, {}, &error);
        ASSERT_TRUE(stamp && stamp->exec(QStringLiteral("UPDATE tdw_metadata SET value = 7 WHERE key = 'layoutVersion'"), &error));
        ASSERT_TRUE(QFile::copy(written, path));
        ASSERT_TRUE(QFile::copy(written + QStringLiteral("-wal"), path + QStringLiteral("-wal")));
    }
    const QByteArray file = bytes(path);
    const QByteArray log = bytes(path + QStringLiteral("-wal"));
    ASSERT_FALSE(log.isEmpty());

    for (const bool migrate : {false, true}) {
        TDWPersistentStoreCoordinator coordinator(laterModel(3));
        TDWError error;
        TDWPersistentStore::Options options;
        options.migrate = migrate;
        EXPECT_FALSE(coordinator.addPersistentStore(Library, path, options, &error));
        EXPECT_EQ(error.code(), TDWStoreError::NewerLayout) << error.description().toStdString();
    }
    TDWStoreLayoutMigrator migrator(model(), Library, path);
    TDWError error;
    ASSERT_TRUE(migrator.inspect(&error));
    EXPECT_EQ(migrator.state(), TDWStoreLayoutState::Newer);
    EXPECT_FALSE(migrator.migrate({}, &error));
    EXPECT_EQ(error.code(), TDWStoreError::NewerLayout);

    EXPECT_TRUE(bytes(path) == file);
    EXPECT_TRUE(bytes(path + QStringLiteral("-wal")) == log);
}

TEST(StoreLayout, RebuildStepReplacesTheFileAndLeavesNothingBeside)
{
    const QString folder = tdwtest::freshDir();
    const QString path = firstLayoutFile(folder);
    const QString leftover = TDWStoreLayoutMigrator::rebuildPath(path);
    EXPECT_EQ(QFileInfo(leftover).fileName(), QStringLiteral("libraryNew.sqlite3"));
    // An interrupted earlier rebuild, with a log of its own.
    QFile::copy(path, leftover);
    QFile::copy(path, leftover + QStringLiteral("-wal"));

    // Opened on demand: both steps run, the second on a copy swapped in.
    auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(laterModel(3));
    TDWPersistentStore::Options options;
    options.migrate = true;
    TDWError error;
    const TDWPersistentStorePtr store = coordinator->addPersistentStore(Library, path, options, &error);
    ASSERT_TRUE(store) << error.description().toStdString();
    EXPECT_EQ(store->metadata().value(TDWStoreMetadataKeys::ModelVersion).toString(), laterModel(3)->versionIdentifier());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList({QStringLiteral("library.sqlite3"), QStringLiteral("library.sqlite3-shm"),
                                                                 QStringLiteral("library.sqlite3-wal")}));
    coordinator->removePersistentStore(store, nullptr);
    expectHealthy(path, QStringLiteral("3"));
    EXPECT_EQ(sqliteShell(path, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name = 'Version_weight'")),
              QStringLiteral("1"));
}

TEST(StoreLayout, ReplacingAFileLeavesNoLogOfTheOldOneBesideTheNew)
{
    const QString folder = tdwtest::freshDir();
    const QString path = firstLayoutFile(folder);
    const QString newPath = TDWStoreLayoutMigrator::rebuildPath(path);
    ASSERT_TRUE(QFile::copy(path, newPath));
    // The old file gets a row that lives only in its log when the swap begins.
    const QString oldAtSwap = QDir(tdwtest::freshDir()).filePath(QStringLiteral("old.sqlite3"));
    {
        auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(model());
        const TDWPersistentStorePtr store = coordinator->addPersistentStore(Library, path, {}, nullptr);
        TDWManagedObjectContext context(coordinator);
        addItem(context, store, QStringLiteral("walonly"), QStringLiteral("In the log"));
        ASSERT_TRUE(context.save(nullptr));
        ASSERT_TRUE(QFile::copy(path, oldAtSwap));
        ASSERT_TRUE(QFile::copy(path + QStringLiteral("-wal"), oldAtSwap + QStringLiteral("-wal")));
    }
    ASSERT_TRUE(QFile::copy(oldAtSwap + QStringLiteral("-wal"), path + QStringLiteral("-wal")));
    ASSERT_TRUE(QFile::remove(path) && QFile::copy(oldAtSwap, path));

    TDWError error;
    ASSERT_TRUE(TDWStoreLayoutMigrator::replaceFile(newPath, path, &error)) << error.description().toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList({QStringLiteral("library.sqlite3")}));
    // The new file's rows, not the old log's.
    EXPECT_EQ(sqliteShell(path, QStringLiteral("SELECT count(*) FROM Item")), QStringLiteral("3"));
    EXPECT_EQ(sqliteShell(path, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
}

// The kill test's child: migrates the file named by TDW_LAYOUT_KILL_FILE to layout 3.
TEST(StoreLayoutKill, ChildRun)
{
    const QString path = qEnvironmentVariable("TDW_LAYOUT_KILL_FILE");
    if (path.isEmpty())
        GTEST_SKIP() << "run as a child of KillAtEveryDurableWriteLeavesOneWholeVersion";
    TDWStoreLayoutMigrator migrator(laterModel(3), Library, path);
    TDWError error;
    ASSERT_TRUE(migrator.inspect(&error) && migrator.migrate({}, &error)) << error.description().toStdString();
    std::printf("WRITES %d\n", TDWTestKillPoint::writesSoFar());
}

int runChild(const QString &path, int killAt, bool *killed)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TDW_LAYOUT_KILL_FILE"), path);
    environment.insert(QStringLiteral("TDW_TEST_KILL_AT_WRITE"), QString::number(killAt));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=StoreLayoutKill.ChildRun")});
    EXPECT_TRUE(child.waitForFinished(60000));
    *killed = child.exitStatus() == QProcess::CrashExit;
    const QByteArray output = child.readAllStandardOutput();
    const qsizetype at = output.indexOf("WRITES ");
    return at < 0 ? -1 : output.mid(at + 7).split('\n').first().toInt();
}

TEST(StoreLayoutKill, KillAtEveryDurableWriteLeavesOneWholeVersion)
{
    if (!qEnvironmentVariableIsEmpty("TDW_LAYOUT_KILL_FILE"))
        GTEST_SKIP();
    const QString fixture = firstLayoutFile(tdwtest::freshDir());
    const QByteArray original = bytes(fixture);
    bool killed = false;
    const QString reference = firstLayoutFile(tdwtest::freshDir());
    const int writes = runChild(reference, 0, &killed);
    ASSERT_FALSE(killed);
    // The in-place step's commit, the copy to rebuild, the two checkpoints of the swap, the rename.
    ASSERT_EQ(writes, 5);

    for (int n = 1; n <= writes; ++n) {
        SCOPED_TRACE(testing::Message() << "killed at write " << n);
        const QString folder = tdwtest::freshDir();
        const QString path = QDir(folder).filePath(QStringLiteral("library.sqlite3"));
        ASSERT_TRUE(QFile::copy(fixture, path));
        runChild(path, n, &killed);
        EXPECT_TRUE(killed);
        const QString version = sqliteShell(path, QStringLiteral("SELECT value FROM tdw_metadata WHERE key = 'layoutVersion'"));
        if (version == QStringLiteral("1"))
            EXPECT_TRUE(bytes(path) == original);
        else
            EXPECT_TRUE(version == QStringLiteral("2") || version == QStringLiteral("3")) << version.toStdString();
        expectHealthy(path, version);
        // The next run carries on, and clears what the killed one left.
        EXPECT_GE(runChild(path, 0, &killed), 0);
        EXPECT_FALSE(killed);
        expectHealthy(path, QStringLiteral("3"));
        EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList({QStringLiteral("library.sqlite3")}));
    }
}

} // namespace
