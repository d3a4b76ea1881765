#pragma once

#include "mail/TDWFoldersWithFlags.h"
#include "platform/imap/TDWImapFolder.h"

#include <QList>
#include <QString>
#include <QStringList>

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

    // Whether an encoded path names a user label rather than INBOX or a
    // system folder.
    static bool folderPathIsGmailLabel(const QString &encodedPath);

    // Makes the folder (with its parents) and writes its "Info.plist" naming
    // the mailbox after the folder ("Work.mbox" is the mailbox "Work"). The
    // identifier is accepted for callers that have one; it is not written.
    static bool createMailboxDirectoryAtPath(const QString &path, const QString &uuid);
};
