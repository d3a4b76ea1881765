#include "BackupFolderFixture.h"

#include "TestSupport.h"

#include "common/TDWFileMgr.h"
#include "common/TDWFileUtils.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/store/TDWManagedObjectModel.h"
#include "platform/store/TDWStoreSchema.h"

#include <QDir>
#include <QFile>

#include <algorithm>

void BackupFolderFixture::SetUp()
{
    m_backupFolder = tdwtest::freshDir(QStringLiteral("backups"));
    TDWUserDefaults::standard()->setString(m_backupFolder, QStringLiteral("altbackuploc"));
    m_stack.addAccount(Alice, {Docs});
    m_moc = m_stack.moc.get();
    const TDWAccount::Ptr account = TDWAccount::byUsername(Alice, *m_moc, nullptr);
    ASSERT_TRUE(account);
    m_accountDir = account->dirPath();
    ASSERT_FALSE(m_accountDir.isEmpty());
    m_store = m_stack.store(Alice, Docs);
    ASSERT_TRUE(m_store);
}

void BackupFolderFixture::TearDown()
{
    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("altbackuploc"));
}

QString BackupFolderFixture::itemsPath() const
{
    return TDWFileMgr::backedUpItemsPathForService(Docs);
}

QString BackupFolderFixture::onDisk(const QString &relative) const
{
    return QDir(itemsPath()).filePath(relative);
}

QList<TDWDocRev::Ptr> BackupFolderFixture::addItem(const QString &docId, const QString &folderName, const QList<Revision> &revisions)
{
    const TDWDoc::Ptr doc = TDWDoc::newWithMoc(*m_moc, m_store);
    doc->setDocId(docId);
    doc->setService(Docs);
    doc->setAccountUsername(Alice);
    doc->setDocType(QStringLiteral("document"));
    doc->setDirPath(m_accountDir + QLatin1Char('/') + folderName);
    QList<TDWDocRev::Ptr> added;
    for (int i = 0; i < revisions.size(); ++i) {
        const Revision &revision = revisions[i];
        const TDWDocRev::Ptr rev = TDWDocRev::newWithMoc(*m_moc, m_store);
        rev->setDoc(doc);
        rev->setTitle(revision.title);
        rev->setExportStatus(revision.exportStatus);
        rev->setLatest(i == revisions.size() - 1);
        rev->setDirPath(doc->dirPath() + QLatin1Char('/') + QString::number(i + 1));
        rev->setFilePath(rev->dirPath() + QLatin1Char('/') + TDWFileUtils::generateFilenameFromString(revision.title));
        if (revision.fileOnDisk) {
            QDir().mkpath(onDisk(rev->dirPath()));
            QFile file(onDisk(rev->filePath()));
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(revision.title.toUtf8());
        }
        added.append(rev);
    }
    TDWError error;
    EXPECT_TRUE(m_moc->save(&error)) << error.description().toStdString();
    return added;
}

BackupFolderFixture::StoredPaths BackupFolderFixture::storedPaths(const QString &docId)
{
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    StoredPaths paths;
    const TDWDoc::Ptr doc = TDWDoc::byDocId(docId, m_store, *moc, nullptr);
    if (!doc)
        return paths;
    paths.docDirPath = doc->dirPath();
    QList<TDWDocRev::Ptr> revs = doc->docRevs();
    std::sort(revs.begin(), revs.end(), [](const TDWDocRev::Ptr &a, const TDWDocRev::Ptr &b) { return a->dirPath() < b->dirPath(); });
    for (const TDWDocRev::Ptr &rev : revs) {
        paths.revDirPaths.append(rev->dirPath());
        paths.revFilePaths.append(rev->filePath());
    }
    return paths;
}

qint64 BackupFolderFixture::storedExportStatus(const TDWManagedObjectID &revId)
{
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const auto rev = std::dynamic_pointer_cast<TDWDocRev>(moc->existingObjectWithID(revId, nullptr));
    return rev ? rev->exportStatus() : -1;
}

void BackupFolderFixture::refuseRevisionUpdates()
{
    const QString table = TDWStoreSchema::tableName(*m_moc->model().entity(QStringLiteral("DocRev")));
    // The sqlite3 shell prints nothing when the statement succeeds.
    EXPECT_EQ(dotest::sqlite(m_store->path(),
                             QStringLiteral("CREATE TRIGGER refuse_revision_updates BEFORE UPDATE ON %1 BEGIN SELECT RAISE(ABORT, 'disk full'); END;")
                                 .arg(table)),
              QString());
}
