#pragma once

#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "mail/TDWAllMailSyncContext.h"
#include "platform/imap/TDWImapMessage.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QHash>
#include <QList>

class TDWAccount;
class TDWDocsForMessages;
class TDWEntityFetch;

// The message items of one batch of All Mail and their revisions: a new item
// and first revision for a new message, a new revision when a message's flags
// changed or when a message marked deleted is listed again, and the stamp of
// the revisions this run saw. One handler per fetch depth; each saves once and
// answers whether the save succeeded (nothing of the batch is saved otherwise).
class TDWMessageRevisions
{
public:
    // How much of each message was fetched.
    enum SyncType : qint32 {
        FlagsOnly = 0,
        FlagsAndGmailIds = 1,
        Full = 2,
    };

    explicit TDWMessageRevisions(TDWAllMailSyncContext context);

    // The message at position k has the sequence number first + k.
    bool processMessageArray(const QList<TDWImapMessage> &messages, qint64 firstSequence, SyncType type);
    bool syncJustFlagsWithMessageArray(const QList<TDWImapMessage> &messages, qint64 firstSequence);
    bool syncFlagsAndGmailMessageIdWithMessageArray(const QList<TDWImapMessage> &messages);
    bool syncFullWithMessageArray(const QList<TDWImapMessage> &messages, qint64 firstSequence);

    TDWDoc::Ptr newDocForMessage(const TDWImapMessage &message, qint64 sequence, const TDWAccount &account, TDWManagedObjectContext &moc) const;
    TDWDocRev::Ptr newDocRevForMessage(const TDWImapMessage &message, const TDWDoc::Ptr &doc, const TDWAccount &account,
                                       TDWManagedObjectContext &moc) const;
    // Closes `old` (its obsoletedDate is kept when it has one: the date the
    // message vanished) and opens its successor with the flags, which gets a
    // file of its own to download.
    TDWDocRev::Ptr newDocRevWithObsoletedDocRev(const TDWDocRev::Ptr &old, const TDWAccount &account, int messageFlags,
                                                TDWManagedObjectContext &moc) const;

    // The sequence group of an All Mail sequence number: the batch it falls in.
    static qint64 sequenceGroupOf(qint64 sequence) { return (sequence - 1) / 1000; }
    // Narrows a fetch to rows whose item (`docColumn` of the fetch's table "t")
    // has an All Mail sequence number in the group, through the index on the
    // number: a predicate on the group through a relationship is tested row by
    // row over the whole store. The predicate still decides.
    static TDWEntityFetch &inSequenceGroup(TDWEntityFetch &fetch, const QString &docColumn, qint64 group);

private:
    // The latest revision of each stored item of the messages, by item.
    QHash<TDWManagedObjectID, TDWDocRev::Ptr> latestRevisions(const QList<TDWImapMessage> &messages, const TDWDocsForMessages &lookup,
                                                             TDWManagedObjectContext &moc) const;
    bool save(TDWManagedObjectContext &moc) const;
    std::shared_ptr<TDWAccount> account(TDWManagedObjectContext &moc, bool logMissing) const;
    bool iterationExists(TDWManagedObjectContext &moc) const;
    QString filePathFor(const TDWAccount &account, const QString &subject, const QString &firstFields, const QString &allMailUid) const;

    TDWAllMailSyncContext m_context;
};
