#include "DataObjectsTestSupport.h"

#include "TestSupport.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWMasterStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QString Bob = QStringLiteral("bob@example.com");
const QString Mail = QStringLiteral("mail");
const QString Docs = QStringLiteral("docs");

class TDWStoreMgrTest : public ::testing::Test
{
protected:
    QString storeFilename(const QString &username, const QString &service)
    {
        auto moc = TDWMasterStore::shared().newMoc();
        auto setting = TDWAccountServiceSetting::byAccountUsername(username, service, *moc);
        return setting ? setting->storeFilename() : QString();
    }

    QStringList auxiliaryFiles() const { return QDir(TDWFileMgr::auxiliaryStoresDir()).entryList(QDir::Files, QDir::Name); }

    // Writes one item into the store and keeps its log (-wal) and index (-shm) files in place.
    void addItem(const TDWPersistentStorePtr &store, const QString &docId)
    {
        auto doc = TDWDoc::newWithMoc(*stack.moc, store);
        doc->setDocId(docId);
        ASSERT_TRUE(stack.moc->save(nullptr));
    }

    dotest::MetadataStack stack;
};

TEST_F(TDWStoreMgrTest, FirstUseNamesAndCreatesTheFileAndARestartOpensTheSameOne)
{
    stack.addAccount(Alice);
    EXPECT_TRUE(auxiliaryFiles().isEmpty());
    EXPECT_TRUE(storeFilename(Alice, Mail).isEmpty());

    const TDWPersistentStorePtr store = stack.store(Alice, Mail);
    ASSERT_TRUE(store);
    EXPECT_EQ(stack.store(Alice, Mail), store);
    const QString name = storeFilename(Alice, Mail);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F-]{36}\\.sqlite3$")).match(name).hasMatch()) << name.toStdString();
    EXPECT_EQ(QFileInfo(store->path()).fileName(), name);
    EXPECT_EQ(auxiliaryFiles().filter(QStringLiteral(".sqlite3")).first(), name);
    // The name is in the master file, and the new file says what it holds.
    EXPECT_EQ(dotest::sqlite(TDWFileMgr::dataFilePath(), QStringLiteral("SELECT storeFilename FROM AccountServiceSetting WHERE service = 'mail'")), name);
    EXPECT_EQ(dotest::sqlite(store->path(), QStringLiteral("SELECT value FROM tdw_metadata WHERE key = 'configuration'")), QStringLiteral("accountservice"));
    EXPECT_EQ(dotest::sqlite(store->path(), QStringLiteral("SELECT value FROM tdw_metadata WHERE key = 'modelVersion'")), QStringLiteral("v12"));
    addItem(store, QStringLiteral("item"));

    stack.reopen();
    // Opened at creation, before anyone asks for it.
    ASSERT_EQ(stack.coordinator->persistentStores().size(), 2);
    const TDWPersistentStorePtr reopened = stack.store(Alice, Mail);
    EXPECT_EQ(QFileInfo(reopened->path()).fileName(), name);
    EXPECT_TRUE(TDWDoc::byDocId(QStringLiteral("item"), reopened, *stack.moc, nullptr));
    EXPECT_EQ(stack.coordinator->persistentStores().size(), 2);
}

TEST_F(TDWStoreMgrTest, NoAccountOrNoSettingGivesNothingTwiceWithoutALogLine)
{
    stack.addAccount(Alice);
    tdwtest::LogCapture log;
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(stack.store(Bob, Mail));
        EXPECT_FALSE(stack.store(Alice, QStringLiteral("nosuchservice")));
        EXPECT_FALSE(stack.store(QStringLiteral("Alice@example.com"), Mail));
    }
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(auxiliaryFiles().isEmpty());
}

TEST_F(TDWStoreMgrTest, TwoSettingsForOneServiceGiveNothing)
{
    stack.addAccount(Alice);
    auto duplicate = TDWAccountServiceSetting::newWithMoc(*stack.moc);
    duplicate->setAccount(TDWAccount::byUsername(Alice, *stack.moc, nullptr));
    duplicate->setService(Mail);
    ASSERT_TRUE(stack.moc->save(nullptr));
    tdwtest::LogCapture log;
    EXPECT_FALSE(stack.store(Alice, Mail));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Too many account service entities found for account/service.")));
}

TEST_F(TDWStoreMgrTest, ListingsHoldOpenedStoresOnly)
{
    stack.addAccount(Bob);
    stack.addAccount(Alice);
    EXPECT_TRUE(stack.storeMgr->allAccountServiceStoresForAccountUsername(Alice).isEmpty());
    EXPECT_TRUE(stack.storeMgr->allAccountServiceStoresForAccountUsername(QStringLiteral("nobody")).isEmpty());
    EXPECT_TRUE(auxiliaryFiles().isEmpty()); // listing creates nothing

    const auto bobMail = stack.store(Bob, Mail);
    const auto aliceDocs = stack.store(Alice, Docs);
    const auto aliceMail = stack.store(Alice, Mail);
    EXPECT_EQ(stack.storeMgr->allAccountServiceStoresForAccountUsername(Alice).size(), 2);
    const auto all = stack.storeMgr->allAccountServiceStores();
    ASSERT_TRUE(all);
    ASSERT_EQ(all->size(), 3);
    EXPECT_EQ(all->last(), bobMail); // accounts in user-name order
    const auto mailStores = stack.storeMgr->allForService(Mail);
    ASSERT_TRUE(mailStores);
    ASSERT_EQ(mailStores->size(), 2);
    EXPECT_TRUE(mailStores->contains(aliceMail) && mailStores->contains(bobMail));
    EXPECT_EQ(stack.storeMgr->allForService(QStringLiteral("contacts")), std::optional<QList<TDWPersistentStorePtr>>(QList<TDWPersistentStorePtr>()));
}

TEST_F(TDWStoreMgrTest, DeletingAnAccountsStoresRemovesThemWithTheirSideFiles)
{
    stack.addAccount(Alice);
    stack.addAccount(Bob);
    const TDWPersistentStorePtr mail = stack.store(Alice, Mail);
    const TDWPersistentStorePtr docs = stack.store(Alice, Docs);
    const TDWPersistentStorePtr bobs = stack.store(Bob, Mail);
    addItem(mail, QStringLiteral("old"));
    const QString path = mail->path();
    ASSERT_TRUE(QFile::exists(path + QStringLiteral("-wal")));
    ASSERT_TRUE(QFile::exists(path + QStringLiteral("-shm")));

    stack.storeMgr->deleteStoresForUsername(Alice);
    EXPECT_FALSE(stack.coordinator->persistentStoreForPath(path));
    EXPECT_FALSE(stack.coordinator->persistentStoreForPath(docs->path()));
    EXPECT_TRUE(stack.coordinator->persistentStoreForPath(bobs->path()));
    for (const QString &file : {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm"), docs->path()})
        EXPECT_FALSE(QFile::exists(file)) << file.toStdString();
    EXPECT_TRUE(QFile::exists(bobs->path()));

    // The settings still name the files, so the next use opens a fresh, empty one under the same name.
    const TDWPersistentStorePtr fresh = stack.store(Alice, Mail);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->path(), path);
    EXPECT_EQ(dotest::sqlite(path, QStringLiteral("SELECT count(*) FROM Doc")), QStringLiteral("0"));
}

TEST_F(TDWStoreMgrTest, AMissingFileIsLoggedAndTheOtherStoresStillGo)
{
    stack.addAccount(Alice);
    const QString mail = stack.store(Alice, Mail)->path();
    const QString docs = stack.store(Alice, Docs)->path();
    stack.storeMgr->deleteStoresForUsername(Alice);
    ASSERT_FALSE(QFile::exists(mail));
    tdwtest::LogCapture log;
    stack.storeMgr->deleteStoresForUsername(Alice);
    EXPECT_EQ(log.lines().filter(QStringLiteral("ERROR: Unable to delete store at ")).size(), 2);
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to delete store at %1: ").arg(docs)));
}

TEST_F(TDWStoreMgrTest, AStoreThatCannotBeOpenedIsNotCachedAndIsTriedAgain)
{
    stack.addAccount(Alice);
    const QString path = stack.store(Alice, Mail)->path();
    stack.storeMgr->deleteStoresForUsername(Alice);
    QDir().mkpath(path); // a folder where the file should be
    tdwtest::LogCapture log;
    EXPECT_FALSE(stack.store(Alice, Mail));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to open store at %1").arg(path)));
    QDir(path).removeRecursively();
    EXPECT_TRUE(stack.store(Alice, Mail));
}

} // namespace
