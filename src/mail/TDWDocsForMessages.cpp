#include "mail/TDWDocsForMessages.h"

#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWEntityFetch.h"
#include "platform/foundation/TDWLog.h"

#include <QSet>

std::shared_ptr<TDWDocsForMessages> TDWDocsForMessages::forMessages(const QList<TDWImapMessage> &messages, quint32 uidValidity,
                                                                     const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc)
{
    QStringList docIds;
    docIds.reserve(messages.size() * 2);
    for (const TDWImapMessage &message : messages) {
        docIds.append(QStringLiteral("msg:") + allMailKey(uidValidity, message.uid));
        docIds.append(gmailKey(message.gmailMessageID));
    }
    TDWError error;
    const auto found = TDWEntityFetch(moc, QStringLiteral("Doc")).where(QStringLiteral("docId in %@"), {docIds}).in(store).objects<TDWDoc>(&error);
    if (!found) {
        tdwLog(QStringLiteral("ERROR: Unable to retrieve docsformessages: %1").arg(error.description()));
        return nullptr;
    }
    QHash<QString, std::shared_ptr<TDWDoc>> byAllMailUid;
    QHash<QString, std::shared_ptr<TDWDoc>> byGmailMessageId;
    for (const auto &doc : *found) {
        // An item without its All Mail key cannot be looked up by it; the rest of the batch still can.
        if (!doc->allMailUid().isEmpty())
            byAllMailUid.insert(doc->allMailUid(), doc);
        if (!doc->gmailMessageId().isEmpty())
            byGmailMessageId.insert(doc->gmailMessageId(), doc);
    }
    return std::make_shared<TDWDocsForMessages>(std::move(byAllMailUid), std::move(byGmailMessageId), uidValidity);
}

TDWDocsForMessages::TDWDocsForMessages(QHash<QString, std::shared_ptr<TDWDoc>> byAllMailUid,
                                       QHash<QString, std::shared_ptr<TDWDoc>> byGmailMessageId, quint32 uidValidity)
    : m_byAllMailUid(std::move(byAllMailUid))
    , m_byGmailMessageId(std::move(byGmailMessageId))
    , m_uidValidity(uidValidity)
{
}

std::shared_ptr<TDWDoc> TDWDocsForMessages::docForMessage(const TDWImapMessage &message) const
{
    if (const auto doc = m_byGmailMessageId.value(gmailKey(message.gmailMessageID)))
        return doc;
    return m_byAllMailUid.value(allMailKey(m_uidValidity, message.uid));
}

QList<std::shared_ptr<TDWDoc>> TDWDocsForMessages::allDocs() const
{
    // An item without an All Mail key, or whose key another item holds, is
    // still found by its Gmail id.
    QList<std::shared_ptr<TDWDoc>> docs = m_byAllMailUid.values();
    QSet<TDWDoc *> listed;
    for (const auto &doc : std::as_const(docs))
        listed.insert(doc.get());
    for (const auto &doc : m_byGmailMessageId)
        if (!listed.contains(doc.get()))
            docs.append(doc);
    return docs;
}

QString TDWDocsForMessages::allMailKey(quint32 uidValidity, quint32 uid)
{
    return QString::number(qint32(uidValidity)) + QLatin1Char('-') + QString::number(qint32(uid));
}

QString TDWDocsForMessages::gmailKey(quint64 gmailMessageId)
{
    return QString::number(qint64(gmailMessageId));
}
