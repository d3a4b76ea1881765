#pragma once

#include "DataObjectsTestSupport.h"

#include "platform/keychain/TDWFileKeyring.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>

// Accounts with everything that deleting one removes: stores of two services
// with an item each, read-only backed-up files in nested folders under every
// service's items folder, an item list per service, a calendar event store
// and a keychain credential. Everything is read back past the program: files
// by listing, stores with the sqlite3 shell, the credential from the keyring.
class AccountDeletionFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    void addAccountWithData(const QString &username);
    // Writes the files of an account folder name without an account behind it.
    static void writeFolders(const QString &dirPath);

    QString dirPathOf(const QString &username) const;
    // The account's folders: its items and list folder of every service and
    // its calendar event folder.
    static QStringList accountFolders(const QString &dirPath);
    static QStringList existing(const QStringList &paths);
    // The store file names in the auxiliary stores folder.
    static QStringList storeFiles();
    // The account's rows in the master store, by the sqlite3 shell.
    static QString accountRows(const QString &username);
    bool hasCredential(const QString &username) const;
    // Makes every save of the deletion of an account fail.
    void refuseAccountDeletion();

    dotest::MetadataStack stack;
    std::shared_ptr<TDWFileKeyring> keyring;
};
