#pragma once

#include "mail/TDWFoldersWithFlags.h"
#include "platform/imap/TDWImapFolder.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class TDWAccount;

// Gmail's folders and labels as the mail backup, the account sheet's label
// view and the restore code share them.
class TDWMailUtils
{
public:
    TDWMailUtils() = delete;

    // The folder list to the folder-with-flags table. Folders that cannot be
    // selected and the system parents ("[Gmail]", "[Google Mail]") are left out;
    // never fails (an empty list gives an empty table).
    static TDWFoldersWithFlags foldersWithFlagsFrom(const QList<TDWImapFolder> &folders);

    // The readable form of a folder name in modified UTF-7. A name holding an
    // encoded run that is not valid comes back as it was, whole.
    static QString decodedFolderPath(const QString &encodedPath);

    // The readable paths of the labels a user may choose to back up: folders
    // without any special label's flag, except the chat folders; sorted
    // case-insensitively.
    static QStringList userLabelsBasedOnFoldersWithFlags(const TDWFoldersWithFlags &foldersWithFlags);

    // Brings the account's mail folder records in line with the folder list,
    // in the account's own context (the caller saves): folders new to the list
    // are recorded as current from `iterationDate`, folders gone from it are
    // closed at that date (their messages left in no current folder are marked
    // unlabelled), and the special folders are typed from the service table.
    // A new user label is backed up when `includedUserLabels` holds its
    // readable path, or, without that set, when the account adds new labels
    // automatically; with the set, every user label's backup follows it.
    // False when a required special folder is missing (nothing is closed then)
    // or the records cannot be read.
    static bool updateAccount(TDWAccount &account, const TDWFoldersWithFlags &foldersWithFlags,
                              const std::optional<QSet<QString>> &includedUserLabels, const QDateTime &iterationDate);

    // Backs up exactly the user labels whose readable paths the set holds, in
    // the account's own context (the caller saves). False when the account's
    // folders cannot be read.
    static bool updateAccount(TDWAccount &account, const QSet<QString> &includedUserLabels);

    // The encoded path of the account's current All Mail folder; null when it
    // has none.
    static QString allMailPathForAccountUsername(const QString &username);

    // Whether an encoded path names a user label rather than INBOX or a
    // system folder.
    static bool folderPathIsGmailLabel(const QString &encodedPath);

    // Makes the folder (with its parents) and writes its "Info.plist" naming
    // the mailbox after the folder ("Work.mbox" is the mailbox "Work"). The
    // identifier is accepted for callers that have one; it is not written.
    static bool createMailboxDirectoryAtPath(const QString &path, const QString &uuid);

    // The folder name of the mailbox of a label titled `title` ("Work.mbox"):
    // the one name the browser, the restore and the export give it.
    static QString mailboxFolderName(const QString &title);
    // Where message number `number` (from 1) lies in a mailbox folder:
    // "<uuid>/Data/<digits>/Messages/<number>.emlx", the digits being one folder
    // per decimal digit of number div 1000, least significant first ("0" below
    // 1000). Without a UUID the path starts at the digits.
    static QString mailboxMessagePath(const QString &uuid, qint64 number);
    // The folder of that path.
    static QString mailboxMessageFolder(const QString &uuid, qint64 number);
};
