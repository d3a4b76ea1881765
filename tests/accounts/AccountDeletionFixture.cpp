#include "AccountDeletionFixture.h"

#include "TestSupport.h"
#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "common/TDWFileMgr.h"
#include "common/TDWServiceTable.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/keychain/TDWKeyring.h"
#include "platform/store/TDWStoreSchema.h"

#include <QDir>
#include <QFile>

namespace {

void writeFile(const QString &path, QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("backed up");
    file.close();
    ASSERT_TRUE(file.setPermissions(permissions));
}

QString accountTable()
{
    return TDWStoreSchema::tableName(*TDWMasterStore::shared().managedObjectModel()->entity(QStringLiteral("Account")));
}

} // namespace

void AccountDeletionFixture::SetUp()
{
    keyring = std::make_shared<TDWFileKeyring>(tdwtest::freshDir(QStringLiteral("keyring")));
    TDWKeyring::setBackend(keyring);
}

void AccountDeletionFixture::TearDown()
{
    TDWKeyring::setBackend(nullptr);
}

void AccountDeletionFixture::addAccountWithData(const QString &username)
{
    stack.addAccount(username, {QStringLiteral("mail"), QStringLiteral("docs")});
    for (const QString &service : {QStringLiteral("mail"), QStringLiteral("docs")}) {
        auto doc = TDWDoc::newWithMoc(*stack.moc, stack.store(username, service));
        doc->setDocId(username + service);
    }
    ASSERT_TRUE(stack.moc->save(nullptr));
    writeFolders(dirPathOf(username));

    auto credential = std::make_shared<TDWCredential>();
    credential->setRefreshToken(QStringLiteral("refresh-") + username);
    credential->setAccessToken(QStringLiteral("access-") + username);
    ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, username, true));
}

void AccountDeletionFixture::writeFolders(const QString &dirPath)
{
    const QFileDevice::Permissions locked = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    for (const TDWServiceConfig &service : TDWServiceTable::shared().serviceConfigs()) {
        const QString items = QDir(TDWFileMgr::backedUpItemsPathForService(service.id)).filePath(dirPath);
        writeFile(items + QStringLiteral("/Plans/2024/Budget.pdf"), locked);
        writeFile(items + QStringLiteral("/Plans/notes.txt"), locked);
        writeFile(items + QStringLiteral("/top.txt"));
        writeFile(QDir(TDWFileMgr::itemListXmlPathForService(service.id)).filePath(dirPath) + QStringLiteral("/list.xml"));
    }
    writeFile(QDir(TDWMasterStore::applicationSupportFolder()).filePath(QStringLiteral("calendarevents/") + dirPath) + QStringLiteral("/cal.sqlite3"));
}

QString AccountDeletionFixture::dirPathOf(const QString &username) const
{
    const TDWAccount::Ptr account = TDWAccount::byUsername(username, *stack.moc, nullptr);
    return account ? account->dirPath() : QString();
}

QStringList AccountDeletionFixture::accountFolders(const QString &dirPath)
{
    QStringList folders;
    for (const TDWServiceConfig &service : TDWServiceTable::shared().serviceConfigs()) {
        folders.append(QDir(TDWFileMgr::backedUpItemsPathForService(service.id)).filePath(dirPath));
        folders.append(QDir(TDWFileMgr::itemListXmlPathForService(service.id)).filePath(dirPath));
    }
    folders.append(QDir(TDWMasterStore::applicationSupportFolder()).filePath(QStringLiteral("calendarevents/") + dirPath));
    return folders;
}

QStringList AccountDeletionFixture::existing(const QStringList &paths)
{
    QStringList found;
    for (const QString &path : paths)
        if (QFileInfo::exists(path))
            found.append(path);
    return found;
}

QStringList AccountDeletionFixture::storeFiles()
{
    return QDir(TDWFileMgr::auxiliaryStoresDir()).entryList(QDir::Files, QDir::Name);
}

QString AccountDeletionFixture::accountRows(const QString &username)
{
    return dotest::sqlite(TDWFileMgr::dataFilePath(),
                          QStringLiteral("SELECT count(*) FROM %1 WHERE username = '%2'").arg(accountTable(), username));
}

bool AccountDeletionFixture::hasCredential(const QString &username) const
{
    return keyring->find(TDWKeychainMgr::oauthServiceNameForUsername(username), username, nullptr, nullptr) == TDWKeyringStatus::Found;
}

void AccountDeletionFixture::refuseAccountDeletion()
{
    // The sqlite3 shell prints nothing when the statement succeeds.
    EXPECT_EQ(dotest::sqlite(TDWFileMgr::dataFilePath(),
                             QStringLiteral("CREATE TRIGGER refuse_account_deletion BEFORE DELETE ON %1 BEGIN SELECT RAISE(ABORT, 'disk full'); END;")
                                 .arg(accountTable())),
              QString());
}
