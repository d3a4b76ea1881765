#pragma once

#include "platform/imap/TDWImapMessage.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QHash>
#include <QList>
#include <QString>

#include <memory>

class TDWDoc;

// Finds, for a batch of All Mail messages, the message items that already stand
// for them: one fetch for the batch, then dictionary lookups per message. Items
// made by earlier versions carry the docId "msg:<UID validity>-<UID>" and no
// Gmail message id; newer ones the Gmail message id in decimal.
class TDWDocsForMessages
{
public:
    // Null when the fetch fails (logged).
    static std::shared_ptr<TDWDocsForMessages> forMessages(const QList<TDWImapMessage> &messages, quint32 uidValidity,
                                                           const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc);

    TDWDocsForMessages(QHash<QString, std::shared_ptr<TDWDoc>> byAllMailUid, QHash<QString, std::shared_ptr<TDWDoc>> byGmailMessageId,
                       quint32 uidValidity);

    // By Gmail message id first, else by All Mail UID; null when neither is known.
    std::shared_ptr<TDWDoc> docForMessage(const TDWImapMessage &message) const;
    // Every item found, by either key, once.
    QList<std::shared_ptr<TDWDoc>> allDocs() const;

    // "<validity>-<uid>", both as signed 32-bit decimals, as items store allMailUid.
    static QString allMailKey(quint32 uidValidity, quint32 uid);
    static QString gmailKey(quint64 gmailMessageId);

private:
    QHash<QString, std::shared_ptr<TDWDoc>> m_byAllMailUid;
    QHash<QString, std::shared_ptr<TDWDoc>> m_byGmailMessageId;
    quint32 m_uidValidity = 0;
};
