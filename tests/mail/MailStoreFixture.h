#pragma once

#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWMailFolder.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

// What a folder record says, for comparisons with readable failures.
struct MailFolderRow
{
    QString encodedFolderPath;
    qint64 folderType = 0;
    bool backup = false;
    QString messageTag;
    QDateTime firstSeenDate;
    QDateTime lastSeenDate;
    qint64 numMessages = 0;
    bool operator==(const MailFolderRow &) const = default;
};

void PrintTo(const MailFolderRow &row, std::ostream *os);

// The metadata stores in a data folder of the test's own, with one account
// whose Gmail backup is on, its "mail" store and a context holding the account.
class MailStoreFixture : public ::testing::Test
{
protected:
    static inline const QString Alice = QStringLiteral("alice@example.com");
    using FolderRow = MailFolderRow;

    void SetUp() override;
    void TearDown() override;

    // Fixed, distinct instants: day(1) < day(2) < ...
    static QDateTime day(int n);

    TDWMailFolder::Ptr addFolder(const QString &encodedPath, const QString &folderPath, qint64 folderType, bool backup);
    // A message item linked, currently, to each of the folders.
    TDWDoc::Ptr addMessageIn(const QString &docId, const QList<TDWMailFolder::Ptr> &folders);
    void save();

    // The saved records as a fresh context reads them: the current ones by
    // readable path, and how many records (current or closed) a path has.
    QMap<QString, FolderRow> savedCurrentFolders();
    int savedRecordCount(const QString &folderPath);

    QString m_folder;
    std::unique_ptr<TDWManagedObjectContext> m_moc;
    TDWAccount::Ptr m_account;
    TDWPersistentStorePtr m_mailStore;
};
