#include "AccountDeletionFixture.h"

#include "TestSupport.h"
#include "accounts/TDWAccountDeleter.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWStoreMgr.h"

#include <QDir>
#include <QFile>

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QString Bob = QStringLiteral("bob@example.com");

class TDWAccountDeleterTest : public AccountDeletionFixture
{
protected:
    // Gives the stored account another folder name, as an older version or a
    // damaged store may have left it.
    void setDirPath(const QString &username, const QString &dirPath)
    {
        const TDWAccount::Ptr account = TDWAccount::byUsername(username, *stack.moc, nullptr);
        ASSERT_TRUE(account);
        account->setDirPath(dirPath);
        ASSERT_TRUE(stack.moc->save(nullptr));
    }

    QStringList storeFilenamesOf(const QString &username)
    {
        const TDWAccount::Ptr account = TDWAccount::byUsername(username, *stack.moc, nullptr);
        return account ? TDWStoreMgr::storeFilenames(*account) : QStringList();
    }
};

TEST_F(TDWAccountDeleterTest, RemovesTheRecordStoresFoldersAndCredentialOfThatAccountOnly)
{
    addAccountWithData(Alice);
    addAccountWithData(Bob);
    const QStringList aliceStores = storeFilenamesOf(Alice);
    const QStringList bobStores = storeFilenamesOf(Bob);
    ASSERT_EQ(aliceStores.size(), 2);
    const QStringList aliceFolders = accountFolders(dirPathOf(Alice));
    const QStringList bobFolders = accountFolders(dirPathOf(Bob));
    ASSERT_EQ(existing(aliceFolders), aliceFolders);

    TDWError error;
    ASSERT_TRUE(TDWAccountDeleter::deleteAccount(Alice, &error)) << error.description().toStdString();

    EXPECT_EQ(accountRows(Alice), QStringLiteral("0"));
    EXPECT_EQ(existing(aliceFolders), QStringList());
    for (const QString &name : aliceStores)
        EXPECT_FALSE(storeFiles().contains(name)) << name.toStdString();
    EXPECT_FALSE(hasCredential(Alice));
    // The store manager no longer hands the deleted stores out.
    EXPECT_FALSE(stack.store(Alice, QStringLiteral("mail")));

    EXPECT_EQ(accountRows(Bob), QStringLiteral("1"));
    EXPECT_EQ(existing(bobFolders), bobFolders);
    for (const QString &name : bobStores)
        EXPECT_TRUE(storeFiles().contains(name)) << name.toStdString();
    EXPECT_TRUE(hasCredential(Bob));
}

TEST_F(TDWAccountDeleterTest, AFailedSaveKeepsTheAccountWithItsStoresFilesAndCredential)
{
    addAccountWithData(Alice);
    const QStringList stores = storeFilenamesOf(Alice);
    const QStringList folders = accountFolders(dirPathOf(Alice));
    refuseAccountDeletion();
    tdwtest::LogCapture log;

    TDWError error;
    EXPECT_FALSE(TDWAccountDeleter::deleteAccount(Alice, &error));

    EXPECT_FALSE(error.isNull());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: error deleting account: ")));
    EXPECT_EQ(accountRows(Alice), QStringLiteral("1"));
    EXPECT_EQ(existing(folders), folders);
    for (const QString &name : stores)
        EXPECT_TRUE(storeFiles().contains(name)) << name.toStdString();
    EXPECT_TRUE(hasCredential(Alice));
    // Its history is still there to read.
    EXPECT_TRUE(TDWDoc::byDocId(Alice + QStringLiteral("docs"), stack.store(Alice, QStringLiteral("docs")), *stack.moc, nullptr));
}

TEST_F(TDWAccountDeleterTest, AnAccountAlreadyGoneCountsAsDeleted)
{
    addAccountWithData(Bob);
    TDWError error;
    EXPECT_TRUE(TDWAccountDeleter::deleteAccount(Alice, &error));
    EXPECT_TRUE(error.isNull());
    EXPECT_EQ(existing(accountFolders(dirPathOf(Bob))).size(), accountFolders(dirPathOf(Bob)).size());
    EXPECT_TRUE(hasCredential(Bob));
}

// Folder names that are not one account's own folder: joined with a service
// folder they name the service folder itself, its parent, or nothing of its own.
TEST_F(TDWAccountDeleterTest, FoldersThatAreNotTheAccountsOwnStay)
{
    const QString bobDir = QStringLiteral("bob at example dot com");
    for (const QString &unsafe : {QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("../.."), QStringLiteral("x/../..")}) {
        SCOPED_TRACE(unsafe.toStdString());
        addAccountWithData(Alice);
        addAccountWithData(Bob);
        setDirPath(Alice, unsafe);
        const QStringList bobFolders = accountFolders(bobDir);
        tdwtest::LogCapture log;

        EXPECT_TRUE(TDWAccountDeleter::deleteAccount(Alice, nullptr));

        EXPECT_EQ(accountRows(Alice), QStringLiteral("0"));
        EXPECT_FALSE(hasCredential(Alice));
        EXPECT_EQ(existing(bobFolders), bobFolders);
        EXPECT_TRUE(QFileInfo::exists(TDWFileMgr::dataFilePath()));
        EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Not removing the backup folders of alice@example.com")));
        ASSERT_TRUE(TDWAccountDeleter::deleteAccount(Bob, nullptr));
    }
}

TEST_F(TDWAccountDeleterTest, AFolderAnotherAccountSharesStays)
{
    addAccountWithData(Alice);
    addAccountWithData(Bob);
    // Older versions gave "o'brien@x.com" and "o_brien@x.com" one folder.
    setDirPath(Bob, dirPathOf(Alice).toUpper());
    const QStringList shared = accountFolders(dirPathOf(Alice));

    EXPECT_TRUE(TDWAccountDeleter::deleteAccount(Alice, nullptr));

    EXPECT_EQ(accountRows(Alice), QStringLiteral("0"));
    EXPECT_EQ(existing(shared), shared);
}

TEST_F(TDWAccountDeleterTest, ALinkedAccountFolderGoesWithoutWhatItLinksTo)
{
    addAccountWithData(Alice);
    const QString items = TDWFileMgr::backedUpItemsPathForService(QStringLiteral("docs"));
    const QString link = QDir(items).filePath(dirPathOf(Alice));
    const QString elsewhere = tdwtest::freshDir(QStringLiteral("elsewhere"));
    QFile(elsewhere + QStringLiteral("/keep.txt")).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QDir(link).removeRecursively());
    ASSERT_TRUE(QFile::link(elsewhere, link));

    EXPECT_TRUE(TDWAccountDeleter::deleteAccount(Alice, nullptr));

    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(elsewhere + QStringLiteral("/keep.txt")));
}

} // namespace
