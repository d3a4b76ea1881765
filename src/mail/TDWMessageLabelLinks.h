#pragma once

#include "dataobjects/TDWMailFolder.h"
#include "mail/TDWAllMailSyncContext.h"
#include "platform/imap/TDWImapMessage.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QHash>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

class TDWDoc;

// The dated links between message items and the label folders they carry:
// one MailItem per (message, label) while the membership lasts, closed when
// the label is gone, and the download decision of a message whose labels
// changed.
class TDWMessageLabelLinks
{
public:
    explicit TDWMessageLabelLinks(TDWAllMailSyncContext context);

    // The current folders of the store by the label string messages carry;
    // null when they cannot be read (logged).
    static std::optional<QHash<QString, TDWMailFolder::Ptr>> mailFoldersByTag(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc);

    // Opens and closes the links of one batch of All Mail messages (their
    // labels as All Mail shows them: every label) and saves. False on failure;
    // nothing of the batch is saved then.
    bool syncFoldersForMessageArray(const QList<TDWImapMessage> &messages);

    // Whether a message's latest revision is to be downloaded, from its links
    // as the context holds them: 1 when it is in a current folder that is
    // backed up, or in no current folder while the account backs up unlabeled
    // mail; else 5. Links to folders that have closed do not count. A failed
    // count is logged with `failureLog` and answers 1 (downloading too much
    // loses nothing). `labelled` tells whether it is in some current folder.
    static qint64 exportStatusFor(const std::shared_ptr<TDWDoc> &doc, bool backupUnlabeled, const QString &failureLog,
                                  TDWManagedObjectContext &moc, bool *labelled = nullptr);

private:
    // Whether the current links of the batch's items already stand for the
    // messages' labels, read as plain (docId, label) rows; null when they
    // cannot be read (logged).
    std::optional<bool> linksMatchLabels(const QList<TDWImapMessage> &messages, const QHash<QString, TDWMailFolder::Ptr> &foldersByTag,
                                         TDWManagedObjectContext &moc) const;

    TDWAllMailSyncContext m_context;
};
