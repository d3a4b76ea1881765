#pragma once

#include "DataObjectsTestSupport.h"

#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QList>
#include <QString>

#include <gtest/gtest.h>

#include <memory>

// The metadata stores and a backup folder of the test's own, with one account
// whose Drive backup is on, its "docs" store and a context; items are added
// with their folders and files laid out as the backup lays them out:
// <items>/<account>/<item folder>/<n>/<file>.
class BackupFolderFixture : public ::testing::Test
{
protected:
    static inline const QString Alice = QStringLiteral("alice@example.com");
    static inline const QString Docs = QStringLiteral("docs");

    struct Revision
    {
        QString title;
        qint64 exportStatus = TDWDocRev::BackedUp;
        bool fileOnDisk = true;
    };

    // What the store holds for an item, read through a fresh context.
    struct StoredPaths
    {
        QString docDirPath;
        QStringList revDirPaths; // in revision folder order
        QStringList revFilePaths;
    };

    void SetUp() override;
    void TearDown() override;

    // The service's item folder and the account's folder name in it.
    QString itemsPath() const;
    QString accountDir() const { return m_accountDir; }
    QString onDisk(const QString &relative) const;

    // Adds and saves an item whose revisions lie in folders "1", "2", ... of
    // the item folder `folderName`; the folders and files are written when the
    // revision says so. The item's revisions, in that order.
    QList<TDWDocRev::Ptr> addItem(const QString &docId, const QString &folderName, const QList<Revision> &revisions);
    StoredPaths storedPaths(const QString &docId);
    qint64 storedExportStatus(const TDWManagedObjectID &revId);

    // Makes every later change of a stored revision fail in the store file
    // itself, as a full disk or a broken file would.
    void refuseRevisionUpdates();

    dotest::MetadataStack m_stack;
    QString m_backupFolder;
    QString m_accountDir;
    TDWManagedObjectContext *m_moc = nullptr; // the stack's
    TDWPersistentStorePtr m_store;
};
