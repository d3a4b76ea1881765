#include "StoreTestModel.h"

#include "TestSupport.h"

#include "platform/store/TDWStoreError.h"
#include "platform/store/TDWStoreMetadataKeys.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace storetest;

namespace {

qint64 countItems(const Stack &stack, const TDWPersistentStorePtr &store)
{
    TDWFetchRequest request(QStringLiteral("Item"));
    request.setAffectedStores({store});
    return stack.newContext()->countForFetchRequest(request, nullptr);
}

TEST(PersistentStore, NewFileCarriesSchemaMetadataAndWalJournal)
{
    Stack stack;
    const QString path = stack.libraryA->path();
    EXPECT_EQ(sqliteShell(path, QStringLiteral("SELECT value FROM tdw_metadata WHERE key = 'configuration'")), QStringLiteral("library"));
    EXPECT_EQ(sqliteShell(path, QStringLiteral("SELECT value FROM tdw_metadata WHERE key = 'modelVersion'")), QStringLiteral("t1"));
    EXPECT_EQ(sqliteShell(path, QStringLiteral("SELECT value FROM tdw_metadata WHERE key = 'versionHash'")),
              model()->versionHash(QStringLiteral("library")));
    EXPECT_EQ(sqliteShell(path, QStringLiteral("PRAGMA journal_mode")), QStringLiteral("wal"));
    EXPECT_EQ(sqliteShell(path, QStringLiteral("SELECT group_concat(name, ',') FROM (SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name)")),
              QStringLiteral("Item,Link,Version,sqlite_sequence,tdw_metadata"));
    EXPECT_EQ(sqliteShell(path, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    EXPECT_EQ(stack.libraryA->configurationName(), QStringLiteral("library"));
    EXPECT_NE(stack.libraryA->identifier(), stack.libraryB->identifier());
}

// A store names the user's accounts and items: the file, its log and shared
// memory, and a copy are the user's alone, whatever the umask.
TEST(PersistentStore, NewFilesTheirSideFilesAndCopiesArePrivate)
{
    const mode_t savedUmask = ::umask(022);
    const auto restoreUmask = qScopeGuard([savedUmask] { ::umask(savedUmask); });
    Stack stack;
    auto context = stack.newContext();
    addItem(*context, stack.libraryA, QStringLiteral("a"), QStringLiteral("A"));
    ASSERT_TRUE(context->save(nullptr));
    const QString copy = QDir(tdwtest::freshDir()).filePath(QStringLiteral("copy.sqlite3"));
    ASSERT_TRUE(stack.libraryA->copyToPath(copy, nullptr));

    const QString path = stack.libraryA->path();
    for (const QString &file : {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm"), copy}) {
        struct stat info = {};
        ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &info), 0) << qPrintable(file);
        EXPECT_EQ(info.st_mode & 07777, mode_t(0600)) << qPrintable(file);
    }
}

TEST(PersistentStore, ReopenedFileKeepsItsIdentifierAndRows)
{
    QString folder;
    QString identifier;
    {
        Stack stack;
        folder = stack.folder;
        identifier = stack.libraryA->identifier();
        auto context = stack.newContext();
        addItem(*context, stack.libraryA, QStringLiteral("a"), QStringLiteral("A"));
        ASSERT_TRUE(context->save(nullptr));
    }
    Stack reopened(folder);
    EXPECT_EQ(reopened.libraryA->identifier(), identifier);
    EXPECT_EQ(countItems(reopened, reopened.libraryA), 1);
}

struct RefusedFileCase
{
    const char *name;
    // Prepares the file at path and names the configuration and model to open it with.
    std::function<void(const QString &path)> prepare;
    QString configuration;
    bool changedModel;
    qint64 code;
};

void PrintTo(const RefusedFileCase &value, std::ostream *out)
{
    *out << value.name;
}

class RefusedFile : public ::testing::TestWithParam<RefusedFileCase>
{
};

TEST_P(RefusedFile, IsNotOpenedAndNotChanged)
{
    const QString path = QDir(tdwtest::freshDir()).filePath(QStringLiteral("store.sqlite3"));
    GetParam().prepare(path);
    QFile file(path);
    const bool existed = file.exists();
    const QByteArray before = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    file.close();
    TDWPersistentStoreCoordinator coordinator(GetParam().changedModel ? changedModel() : model());
    TDWError error;
    EXPECT_FALSE(coordinator.addPersistentStore(GetParam().configuration, path, {}, &error));
    EXPECT_EQ(error.code(), GetParam().code) << error.description().toStdString();
    EXPECT_TRUE(coordinator.persistentStores().isEmpty());
    EXPECT_EQ(file.exists(), existed);
    if (existed) {
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll() == before);
    }
}

void libraryFileWithAnItem(const QString &path)
{
    TDWPersistentStoreCoordinator coordinator(model());
    auto store = coordinator.addPersistentStore(QStringLiteral("library"), path, {}, nullptr);
    auto context = std::make_unique<TDWManagedObjectContext>(std::shared_ptr<TDWPersistentStoreCoordinator>(&coordinator, [](auto *) {}));
    addItem(*context, store, QStringLiteral("a"), QStringLiteral("A"));
    ASSERT_TRUE(context->save(nullptr));
    context.reset();
    // Fold the log into the file, so comparing the file's bytes covers the data.
    ASSERT_TRUE(coordinator.removePersistentStore(store, nullptr));
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedFile,
    ::testing::Values(
        RefusedFileCase{"OtherConfiguration", libraryFileWithAnItem, QStringLiteral("main"), false, TDWStoreError::IncompatibleVersion},
        RefusedFileCase{"OtherModelLayout", libraryFileWithAnItem, QStringLiteral("library"), true, TDWStoreError::IncompatibleVersion},
        RefusedFileCase{"ForeignDatabase",
                        [](const QString &path) { sqliteShell(path, QStringLiteral("CREATE TABLE notes (body TEXT)")); },
                        QStringLiteral("library"), false, TDWStoreError::NotAStore},
        RefusedFileCase{"NotADatabase",
                        [](const QString &path) {
                            QFile file(path);
                            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
                            file.write(QByteArray(4096, 'x'));
                        },
                        QStringLiteral("library"), false, TDWStoreError::Sqlite},
        RefusedFileCase{"UnknownConfiguration", [](const QString &) {}, QStringLiteral("nope"), false, TDWStoreError::UnknownConfiguration}),
    [](const ::testing::TestParamInfo<RefusedFileCase> &info) { return std::string(info.param.name); });

TEST(PersistentStore, MetadataIsReadableWithoutTheModelAndCallerKeysPersist)
{
    QString path;
    {
        Stack stack;
        path = stack.libraryA->path();
        TDWError error;
        ASSERT_TRUE(stack.libraryA->setMetadata({{QStringLiteral("lastChangeId"), QStringLiteral("42")}, {QStringLiteral("count"), 7}}, &error))
            << error.description().toStdString();
        ASSERT_TRUE(stack.libraryA->setMetadata({{QStringLiteral("count"), QVariant()}}, &error));
        // The store's own keys are not the caller's to change.
        EXPECT_FALSE(stack.libraryA->setMetadata({{TDWStoreMetadataKeys::VersionHash, QStringLiteral("x")}}, &error));
        EXPECT_EQ(error.code(), TDWStoreError::InvalidArgument);
    }
    TDWError error;
    const QVariantMap metadata = TDWPersistentStoreCoordinator::metadataForStoreAtPath(path, &error);
    EXPECT_EQ(metadata.value(TDWStoreMetadataKeys::Configuration).toString(), QStringLiteral("library"));
    EXPECT_EQ(metadata.value(TDWStoreMetadataKeys::ModelVersion).toString(), QStringLiteral("t1"));
    EXPECT_EQ(metadata.value(QStringLiteral("lastChangeId")).toString(), QStringLiteral("42"));
    EXPECT_FALSE(metadata.contains(QStringLiteral("count")));
    EXPECT_TRUE(model()->isConfigurationCompatibleWithStoreMetadata(QStringLiteral("library"), metadata));
    EXPECT_FALSE(changedModel()->isConfigurationCompatibleWithStoreMetadata(QStringLiteral("library"), metadata));

    EXPECT_TRUE(TDWPersistentStoreCoordinator::metadataForStoreAtPath(path + QStringLiteral(".missing"), &error).isEmpty());
    EXPECT_EQ(error.code(), TDWStoreError::FileOperation);
}

// A marker that describes rows must be committed with them or not at all.
TEST(PersistentStore, MetadataSetOnAContextIsWrittenWithItsSaveOrNotAtAll)
{
    Stack stack;
    const QString path = stack.libraryA->path();
    const auto marker = [&] { return sqliteShell(path, QStringLiteral("SELECT value FROM tdw_metadata WHERE key = 'marker'")); };
    auto context = stack.newContext();

    // Forgotten with the changes it came with.
    addItem(*context, stack.libraryA, QStringLiteral("a"), QStringLiteral("A"));
    context->setMetadataToSave(stack.libraryA, {{QStringLiteral("marker"), QStringLiteral("rolled back")}});
    context->rollback();
    EXPECT_FALSE(context->hasChanges());
    EXPECT_TRUE(context->save(nullptr));
    EXPECT_EQ(marker(), QString());

    // Refused keys fail the whole save: no row is written either.
    addItem(*context, stack.libraryA, QStringLiteral("b"), QStringLiteral("B"));
    context->setMetadataToSave(stack.libraryA, {{TDWStoreMetadataKeys::VersionHash, QStringLiteral("x")}});
    TDWError error;
    EXPECT_FALSE(context->save(&error));
    EXPECT_EQ(error.code(), TDWStoreError::InvalidArgument);
    EXPECT_EQ(countItems(stack, stack.libraryA), 0);
    context->rollback();

    // Written in the store's transaction, alone or with rows; later values replace earlier ones.
    context->setMetadataToSave(stack.libraryA, {{QStringLiteral("marker"), QStringLiteral("1")}});
    ASSERT_TRUE(context->save(&error)) << error.description().toStdString();
    EXPECT_EQ(marker(), QStringLiteral("1"));
    addItem(*context, stack.libraryA, QStringLiteral("c"), QStringLiteral("C"));
    context->setMetadataToSave(stack.libraryA, {{QStringLiteral("marker"), QStringLiteral("2")}});
    context->setMetadataToSave(stack.libraryA, {{QStringLiteral("marker"), QStringLiteral("3")}, {QStringLiteral("other"), 4}});
    ASSERT_TRUE(context->save(&error)) << error.description().toStdString();
    EXPECT_FALSE(context->hasChanges());
    EXPECT_EQ(marker(), QStringLiteral("3"));
    EXPECT_EQ(countItems(stack, stack.libraryA), 1);
    EXPECT_EQ(stack.libraryA->metadata().value(QStringLiteral("marker")).toString(), QStringLiteral("3"));
    EXPECT_EQ(stack.libraryA->metadata().value(QStringLiteral("other")).toInt(), 4);
    EXPECT_FALSE(stack.libraryB->metadata().contains(QStringLiteral("marker")));
}

TEST(PersistentStore, ChangedIndexesAreRebuiltWithoutTouchingRows)
{
    auto build = [](bool indexed) {
        auto m = std::make_shared<TDWManagedObjectModel>(QStringLiteral("i"));
        m->addEntity(QStringLiteral("Note"), {QStringLiteral("c")})
            .addAttribute(QStringLiteral("body"), TDWAttributeType::String, {.indexed = indexed});
        EXPECT_TRUE(m->finalize(nullptr));
        return std::shared_ptr<const TDWManagedObjectModel>(m);
    };
    const QString path = QDir(tdwtest::freshDir()).filePath(QStringLiteral("notes.sqlite3"));
    for (bool indexed : {false, true}) {
        auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(build(indexed));
        TDWError error;
        auto store = coordinator->addPersistentStore(QStringLiteral("c"), path, {}, &error);
        ASSERT_TRUE(store) << error.description().toStdString();
        TDWManagedObjectContext context(coordinator);
        context.insertNewObject(QStringLiteral("Note"))->setValue(QStringLiteral("body"), QStringLiteral("hello"));
        ASSERT_TRUE(context.save(&error));
    }
    EXPECT_EQ(sqliteShell(path, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL")), QStringLiteral("Note_body"));
    EXPECT_EQ(sqliteShell(path, QStringLiteral("SELECT count(*) FROM Note")), QStringLiteral("2"));
    EXPECT_EQ(sqliteShell(path, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
}

TEST(PersistentStore, ReadOnlyStoreServesFetchesAndRefusesSaves)
{
    Stack stack;
    {
        auto context = stack.newContext();
        addItem(*context, stack.libraryA, QStringLiteral("a"), QStringLiteral("A"));
        ASSERT_TRUE(context->save(nullptr));
    }
    auto readOnly = std::make_shared<TDWPersistentStoreCoordinator>(model());
    TDWPersistentStore::Options options;
    options.readOnly = true;
    TDWError error;
    auto store = readOnly->addPersistentStore(QStringLiteral("library"), stack.libraryA->path(), options, &error);
    ASSERT_TRUE(store) << error.description().toStdString();
    TDWManagedObjectContext context(readOnly);
    auto items = context.executeFetchRequest(TDWFetchRequest(QStringLiteral("Item")), &error);
    ASSERT_TRUE(items && items->size() == 1);
    items->first()->setValue(QStringLiteral("title"), QStringLiteral("changed"));
    EXPECT_FALSE(context.save(&error));
    EXPECT_EQ(error.code(), TDWStoreError::ReadOnly);
    EXPECT_EQ(sqliteShell(store->path(), QStringLiteral("SELECT title FROM Item")), QStringLiteral("A"));
}

TEST(PersistentStore, DestroyingAStoreRemovesItsLogFilesAndANewStoreStartsEmpty)
{
    Stack stack;
    const QString path = stack.libraryA->path();
    {
        auto context = stack.newContext();
        for (int i = 0; i < 50; ++i)
            addItem(*context, stack.libraryA, QString::number(i), QStringLiteral("old"));
        ASSERT_TRUE(context->save(nullptr));
    }
    // The store is open, so its committed rows still sit in its log.
    ASSERT_TRUE(QFile::exists(path + QStringLiteral("-wal")));
    ASSERT_GT(QFileInfo(path + QStringLiteral("-wal")).size(), 0);
    const QString staleLog = path + QStringLiteral(".stale-wal");
    const QString staleIndex = path + QStringLiteral(".stale-shm");
    ASSERT_TRUE(QFile::copy(path + QStringLiteral("-wal"), staleLog));
    ASSERT_TRUE(QFile::copy(path + QStringLiteral("-shm"), staleIndex));

    TDWError error;
    ASSERT_TRUE(stack.coordinator->destroyPersistentStoreAtPath(path, &error)) << error.description().toStdString();
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")})
        EXPECT_FALSE(QFile::exists(path + suffix)) << suffix.toStdString();
    EXPECT_FALSE(stack.coordinator->persistentStoreForPath(path));
    EXPECT_TRUE(stack.libraryA->isRemoved());

    // Side files left behind by someone else's deletion must not be replayed into the new file.
    ASSERT_TRUE(QFile::rename(staleLog, path + QStringLiteral("-wal")));
    ASSERT_TRUE(QFile::rename(staleIndex, path + QStringLiteral("-shm")));
    auto fresh = stack.coordinator->addPersistentStore(QStringLiteral("library"), path, {}, &error);
    ASSERT_TRUE(fresh) << error.description().toStdString();
    EXPECT_NE(fresh->identifier(), stack.libraryA->identifier());
    EXPECT_EQ(countItems(stack, fresh), 0);
    EXPECT_EQ(sqliteShell(path, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));

    // Deleting files of a store that is gone already reports it.
    ASSERT_TRUE(stack.coordinator->destroyPersistentStoreAtPath(path, &error));
    EXPECT_FALSE(TDWPersistentStoreCoordinator::deleteStoreFiles(path, &error));
    EXPECT_EQ(error.code(), TDWStoreError::FileOperation);
}

TEST(PersistentStore, RemovedStoreRefusesWork)
{
    Stack stack;
    auto context = stack.newContext();
    TDWManagedObjectPtr item = addItem(*context, stack.libraryA, QStringLiteral("a"), QStringLiteral("A"));
    TDWError error;
    ASSERT_TRUE(stack.coordinator->removePersistentStore(stack.libraryA, &error));
    EXPECT_FALSE(context->save(&error));
    EXPECT_EQ(error.code(), TDWStoreError::StoreRemoved);
    EXPECT_FALSE(stack.coordinator->removePersistentStore(stack.libraryA, &error));
    EXPECT_EQ(error.code(), TDWStoreError::StoreNotFound);
    // The file is still there and opens again.
    EXPECT_TRUE(stack.coordinator->addPersistentStore(QStringLiteral("library"), stack.libraryA->path(), {}, &error));
}

TEST(PersistentStore, SameFileOrACopyOfItCannotBeAddedTwice)
{
    Stack stack;
    TDWError error;
    EXPECT_FALSE(stack.coordinator->addPersistentStore(QStringLiteral("library"), stack.libraryA->path(), {}, &error));
    const QString copy = QDir(stack.folder).filePath(QStringLiteral("copy.sqlite3"));
    ASSERT_TRUE(stack.libraryA->copyToPath(copy, &error)) << error.description().toStdString();
    EXPECT_FALSE(stack.coordinator->addPersistentStore(QStringLiteral("library"), copy, {}, &error));
    EXPECT_EQ(error.code(), TDWStoreError::InvalidArgument);
}

TEST(PersistentStore, CopyIsASelfContainedSnapshotWhileTheStoreStaysOpen)
{
    Stack stack;
    auto context = stack.newContext();
    for (int i = 0; i < 20; ++i)
        addItem(*context, stack.libraryA, QString::number(i), QStringLiteral("t"));
    ASSERT_TRUE(context->save(nullptr));
    const QString copy = QDir(tdwtest::freshDir()).filePath(QStringLiteral("copy.sqlite3"));
    TDWError error;
    ASSERT_TRUE(stack.libraryA->copyToPath(copy, &error)) << error.description().toStdString();
    EXPECT_FALSE(QFile::exists(copy + QStringLiteral("-wal")));
    EXPECT_EQ(sqliteShell(copy, QStringLiteral("SELECT count(*) FROM Item")), QStringLiteral("20"));
    EXPECT_EQ(sqliteShell(copy, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    // The original goes on working.
    addItem(*context, stack.libraryA, QStringLiteral("late"), QStringLiteral("t"));
    EXPECT_TRUE(context->save(&error));
}

TEST(PersistentStore, CopyOfAFileNoCoordinatorHoldsIncludesWhatIsStillInItsLog)
{
    Stack stack;
    auto context = stack.newContext();
    for (int i = 0; i < 20; ++i)
        addItem(*context, stack.libraryA, QString::number(i), QStringLiteral("t"));
    ASSERT_TRUE(context->save(nullptr));
    const QString path = stack.libraryA->path();
    ASSERT_TRUE(QFile::exists(path + QStringLiteral("-wal")));
    // The saved rows are still in the log: the store file alone misses them.
    const QString folder = tdwtest::freshDir();
    const QString fileOnly = QDir(folder).filePath(QStringLiteral("file-only.sqlite3"));
    ASSERT_TRUE(QFile::copy(path, fileOnly));
    EXPECT_NE(sqliteShell(fileOnly, QStringLiteral("SELECT count(*) FROM Item")), QStringLiteral("20"));

    const QString copy = QDir(folder).filePath(QStringLiteral("copy.sqlite3"));
    TDWError error;
    ASSERT_TRUE(TDWPersistentStore::copyFile(path, copy, &error)) << error.description().toStdString();
    EXPECT_EQ(sqliteShell(copy, QStringLiteral("SELECT count(*) FROM Item")), QStringLiteral("20"));
    EXPECT_EQ(sqliteShell(copy, QStringLiteral("PRAGMA journal_mode")), QStringLiteral("delete"));
    EXPECT_EQ(sqliteShell(copy, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));

    // Through the coordinator: the held store's own connections, or a connection of its own.
    const QString held = QDir(folder).filePath(QStringLiteral("held.sqlite3"));
    ASSERT_TRUE(stack.coordinator->copyStoreFileAtPath(path, held, &error)) << error.description().toStdString();
    EXPECT_EQ(sqliteShell(held, QStringLiteral("SELECT count(*) FROM Item")), QStringLiteral("20"));
    const QString unheld = QDir(folder).filePath(QStringLiteral("unheld.sqlite3"));
    ASSERT_TRUE(stack.coordinator->copyStoreFileAtPath(copy, unheld, &error)) << error.description().toStdString();
    EXPECT_EQ(sqliteShell(unheld, QStringLiteral("SELECT count(*) FROM Item")), QStringLiteral("20"));
}

TEST(PersistentStore, ACopyThatFailsItsIntegrityCheckIsRemovedAndReported)
{
    const QString folder = tdwtest::freshDir();
    const QString damaged = QDir(folder).filePath(QStringLiteral("damaged.sqlite3"));
    // An index whose declared column is not the one its entries were built from.
    sqliteShell(damaged, QStringLiteral("CREATE TABLE t(a, b); CREATE INDEX i ON t(a); INSERT INTO t VALUES (1, 30), (2, 20), (3, 10);"
                                        "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET sql = 'CREATE INDEX i ON t(b)' WHERE name = 'i';"));
    ASSERT_NE(sqliteShell(damaged, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));

    const QString copy = QDir(folder).filePath(QStringLiteral("copy.sqlite3"));
    TDWError error;
    EXPECT_FALSE(TDWPersistentStore::copyFile(damaged, copy, &error));
    EXPECT_TRUE(error.localizedDescription().contains(QStringLiteral("failed its integrity check"))) << error.description().toStdString();
    EXPECT_FALSE(QFile::exists(copy));
    EXPECT_FALSE(TDWPersistentStore::copyFile(QDir(folder).filePath(QStringLiteral("missing.sqlite3")), copy, &error));
    EXPECT_EQ(error.code(), TDWStoreError::FileOperation);
    EXPECT_FALSE(QFile::exists(copy));
}

TEST(PersistentStore, SideFilesAreToldFromStoreFiles)
{
    for (const auto &[name, side] : {std::pair{"a.sqlite3-wal", true}, {"a.sqlite3-shm", true}, {"a.sqlite3-journal", true},
                                     {"a.sqlite3", false}, {"wal-notes", false}})
        EXPECT_EQ(TDWPersistentStoreCoordinator::isSideFileName(QString::fromLatin1(name)), side) << name;
}

} // namespace
