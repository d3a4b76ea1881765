#include "MailStoreFixture.h"

#include "TestSupport.h"

#include "common/TDWFileMgr.h"
#include "dataobjects/TDWMailItem.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "dataobjects/TDWEntityFetch.h"

void PrintTo(const MailFolderRow &row, std::ostream *os)
{
    *os << "{" << row.encodedFolderPath.toStdString() << " type " << row.folderType << (row.backup ? " backup" : " no backup") << " tag "
        << row.messageTag.toStdString() << " seen " << row.firstSeenDate.toString(Qt::ISODate).toStdString() << ".."
        << row.lastSeenDate.toString(Qt::ISODate).toStdString() << " count " << row.numMessages << "}";
}

void MailStoreFixture::SetUp()
{
    m_folder = tdwtest::freshDir(QStringLiteral("metadata"));
    TDWFileMgr::reset();
    TDWFileMgr::initAltDataDir(m_folder);
    TDWMasterStore &master = TDWMasterStore::shared();
    const auto coordinator = master.persistentStoreCoordinatorMigrating(false);
    ASSERT_TRUE(coordinator);
    master.setPersistentStoreCoordinator(coordinator);
    const auto storeMgr = TDWStoreMgr::initWithPersistentStoreCoordinator(coordinator, master.masterStore());
    ASSERT_TRUE(storeMgr);
    master.setStoreMgr(storeMgr);

    m_moc = master.newMoc();
    ASSERT_TRUE(TDWAccount::addAccountWithUsername(Alice, QString(), 1, {QStringLiteral("mail")}, false, *m_moc));
    m_account = TDWAccount::byUsername(Alice, *m_moc, nullptr);
    ASSERT_TRUE(m_account);
    m_mailStore = storeMgr->storeForAccountUsername(Alice, QStringLiteral("mail"));
    ASSERT_TRUE(m_mailStore);
}

void MailStoreFixture::TearDown()
{
    m_account.reset();
    m_moc.reset();
    m_mailStore.reset();
    TDWMasterStore::shared().setStoreMgr(nullptr);
    TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
    TDWFileMgr::reset();
}

QDateTime MailStoreFixture::day(int n)
{
    return QDateTime(QDate(2024, 3, n), QTime(9, 0), Qt::UTC);
}

TDWMailFolder::Ptr MailStoreFixture::addFolder(const QString &encodedPath, const QString &folderPath, qint64 folderType, bool backup)
{
    auto folder = TDWMailFolder::newWithMoc(*m_moc, m_mailStore);
    folder->setAccountUsername(Alice);
    folder->setEncodedFolderPath(encodedPath);
    folder->setFolderPath(folderPath);
    folder->setFolderType(folderType);
    folder->setBackup(backup);
    folder->setMessageTag(encodedPath);
    folder->setCurrent(true);
    folder->setFirstSeenDate(day(1));
    folder->setLastSeenDate(day(1));
    folder->setNumMessages(-1);
    return folder;
}

TDWDoc::Ptr MailStoreFixture::addMessageIn(const QString &docId, const QList<TDWMailFolder::Ptr> &folders)
{
    auto message = TDWDoc::newWithMoc(*m_moc, m_mailStore);
    message->setDocId(docId);
    message->setIsUnlabeledMessage(false);
    for (const TDWMailFolder::Ptr &folder : folders) {
        auto item = TDWMailItem::newWithMoc(*m_moc, m_mailStore);
        item->setMailFolder(folder);
        item->setMessageDoc(message);
        item->setCurrent(true);
        item->setFirstSeenDate(day(1));
    }
    return message;
}

void MailStoreFixture::save()
{
    TDWError error;
    ASSERT_TRUE(m_moc->save(&error)) << error.description().toStdString();
}

QMap<QString, MailStoreFixture::FolderRow> MailStoreFixture::savedCurrentFolders()
{
    const auto moc = TDWMasterStore::shared().newMoc();
    QMap<QString, FolderRow> rows;
    for (const TDWMailFolder::Ptr &folder : TDWMailFolder::byStore(m_mailStore, QDateTime(), *moc, nullptr).value_or(QList<TDWMailFolder::Ptr>()))
        rows.insert(folder->folderPath(), {folder->encodedFolderPath(), folder->folderType(), folder->backup(), folder->messageTag(),
                                           folder->firstSeenDate(), folder->lastSeenDate(), folder->numMessages()});
    return rows;
}

int MailStoreFixture::savedRecordCount(const QString &folderPath)
{
    const auto moc = TDWMasterStore::shared().newMoc();
    return int(TDWEntityFetch(*moc, QStringLiteral("MailFolder")).where(QStringLiteral("folderPath = %@"), {folderPath}).in(m_mailStore).count(nullptr));
}
