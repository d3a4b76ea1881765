#include "mail/TDWMessageRevisions.h"

#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "dataobjects/TDWAccount.h"
#include "mail/TDWDocsForMessages.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMasterStore.h"
#include "mail/TDWMessageLabelLinks.h"
#include "mail/TDWMessageText.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/imap/TDWImapFlags.h"
#include "platform/store/TDWSqliteStatement.h"

#include <QSet>
#include <QUuid>

namespace {

const QString MessageDocType = QStringLiteral("message");

bool starredIn(int flags)
{
    return flags & TDWImapMessageFlagFlagged;
}

bool unreadIn(int flags)
{
    return !(flags & TDWImapMessageFlagSeen);
}

QString gmailId(quint64 id)
{
    return TDWDocsForMessages::gmailKey(id);
}

} // namespace

TDWMessageRevisions::TDWMessageRevisions(TDWAllMailSyncContext context)
    : m_context(std::move(context))
{
}

TDWEntityFetch &TDWMessageRevisions::inSequenceGroup(TDWEntityFetch &fetch, const QString &docColumn, qint64 group)
{
    return fetch.whereSql(docColumn + QStringLiteral(" IN (SELECT pk FROM \"Doc\" WHERE \"allMailSeq\" BETWEEN ? AND ?)"),
                          {group * 1000 + 1, group * 1000 + 1000});
}

bool TDWMessageRevisions::processMessageArray(const QList<TDWImapMessage> &messages, qint64 firstSequence, SyncType type)
{
    switch (type) {
    case FlagsOnly:
        return syncJustFlagsWithMessageArray(messages, firstSequence);
    case FlagsAndGmailIds:
        return syncFlagsAndGmailMessageIdWithMessageArray(messages);
    case Full:
        return syncFullWithMessageArray(messages, firstSequence);
    }
    return false;
}

std::shared_ptr<TDWAccount> TDWMessageRevisions::account(TDWManagedObjectContext &moc, bool logMissing) const
{
    auto account = TDWAccount::byUsername(m_context.accountUsername, moc, nullptr);
    if (!account && logMissing)
        tdwLog(QStringLiteral("ERROR: Unable to retrieve account for %1 in TDWAllMailUpdateOperation").arg(m_context.accountUsername));
    return account;
}

bool TDWMessageRevisions::iterationExists(TDWManagedObjectContext &moc) const
{
    if (moc.existingObjectWithID(m_context.backupIterationObjectID, nullptr))
        return true;
    tdwLog(QStringLiteral("ERROR: Unable to find backup iteration in TDWAllMailUpdateOperation"));
    return false;
}

bool TDWMessageRevisions::save(TDWManagedObjectContext &moc) const
{
    TDWError error;
    const bool saved = moc.save(&error);
    if (!saved)
        tdwLog(QStringLiteral("ERROR: Unable to save moc in TDWAllMailUpdateOperation -- %1").arg(error.description()));
    moc.reset();
    return saved;
}

bool TDWMessageRevisions::syncJustFlagsWithMessageArray(const QList<TDWImapMessage> &messages, qint64 firstSequence)
{
    const auto moc = TDWMasterStore::shared().newMoc();
    const auto owner = account(*moc, true);
    if (!owner || !iterationExists(*moc) || !TDWMessageLabelLinks::mailFoldersByTag(m_context.store, *moc))
        return false;
    // The stored flags of the group's latest revisions in sequence order, as
    // plain values; only the revisions whose flags changed become objects.
    const qint64 group = sequenceGroupOf(firstSequence);
    QList<std::pair<qint64, qint64>> stored; // row id, flags (none reads as 0)
    TDWError error;
    const bool read = moc->executeSql(
        m_context.store,
        QStringLiteral("SELECT t.pk, t.\"messageFlags\" FROM \"DocRev\" t JOIN \"Doc\" d ON d.pk = t.\"doc\" WHERE d.\"allMailSeq\" BETWEEN ? AND ? "
                       "AND d.\"allMailSeqGroup\" = ? AND d.\"deleted\" = 0 AND t.\"latest\" = 1 ORDER BY d.\"allMailSeq\", t.pk"),
        {group * 1000 + 1, group * 1000 + 1000, group},
        [&stored](const TDWSqliteStatement &row) {
            stored.append({row.int64At(0), row.isNull(1) ? 0 : row.int64At(1)});
            return true;
        },
        &error);
    if (!read) {
        tdwLog(QStringLiteral("ERROR: Unable to find flag info in TDWAllMailUpdateOperation: %1").arg(error.description()));
        return false;
    }
    // The consistency check has matched the rows to the messages one to one.
    const qsizetype n = std::min(stored.size(), messages.size());
    QVariantList changedRows;
    QHash<qint64, int> flagsByRow;
    for (qsizetype k = 0; k < n; ++k) {
        if (stored[k].second != messages[k].flags) {
            changedRows.append(stored[k].first);
            flagsByRow.insert(stored[k].first, messages[k].flags);
        }
    }
    if (changedRows.isEmpty())
        return save(*moc);
    const QString placeholders = QStringList(changedRows.size(), QStringLiteral("?")).join(QLatin1Char(','));
    const auto changed =
        moc->objectsForSql(QStringLiteral("DocRev"), m_context.store, QStringLiteral("SELECT pk FROM \"DocRev\" WHERE pk IN (%1)").arg(placeholders),
                           changedRows, &error);
    if (!changed) {
        tdwLog(QStringLiteral("ERROR: Unable to find flag info in TDWAllMailUpdateOperation: %1").arg(error.description()));
        return false;
    }
    QHash<qint64, TDWDocRev::Ptr> byRow;
    for (const TDWManagedObjectPtr &object : *changed)
        byRow.insert(object->objectID().rowId(), std::static_pointer_cast<TDWDocRev>(object));
    // In sequence order, as the messages came.
    for (const QVariant &row : std::as_const(changedRows))
        if (const TDWDocRev::Ptr revision = byRow.value(row.toLongLong()))
            newDocRevWithObsoletedDocRev(revision, *owner, flagsByRow.value(row.toLongLong()), *moc);
    return save(*moc);
}

bool TDWMessageRevisions::syncFlagsAndGmailMessageIdWithMessageArray(const QList<TDWImapMessage> &messages)
{
    const auto moc = TDWMasterStore::shared().newMoc();
    const auto owner = account(*moc, false);
    if (!owner)
        return false;
    const auto lookup = TDWDocsForMessages::forMessages(messages, m_context.allMailUidValidity, m_context.store, *moc);
    if (!lookup || !TDWMessageLabelLinks::mailFoldersByTag(m_context.store, *moc))
        return false;
    QHash<TDWManagedObjectID, TDWDocRev::Ptr> latest = latestRevisions(messages, *lookup, *moc);
    for (const TDWImapMessage &message : messages) {
        const TDWDoc::Ptr doc = lookup->docForMessage(message);
        if (!doc) {
            tdwLog(QStringLiteral("ERROR: No doc found in TDWAllMailUpdateOperation syncFlagsAndGmailMessageIdWithMessageArray"));
            moc->reset();
            return false;
        }
        const TDWDocRev::Ptr revision = latest.value(doc->objectID());
        doc->setGmailMessageId(gmailId(message.gmailMessageID));
        doc->setDocId(gmailId(message.gmailMessageID));
        doc->setGmailThreadId(gmailId(message.gmailThreadID));
        // An item with no latest revision has nothing whose flags could change.
        if (!revision)
            continue;
        if (revision->isUnread() == unreadIn(message.flags) && revision->starred() == starredIn(message.flags))
            revision->setMessageFlags(message.flags);
        else
            latest.insert(doc->objectID(), newDocRevWithObsoletedDocRev(revision, *owner, message.flags, *moc));
    }
    return save(*moc);
}

bool TDWMessageRevisions::syncFullWithMessageArray(const QList<TDWImapMessage> &messages, qint64 firstSequence)
{
    const auto moc = TDWMasterStore::shared().newMoc();
    const auto owner = account(*moc, true);
    if (!owner || !iterationExists(*moc))
        return false;
    const auto lookup = TDWDocsForMessages::forMessages(messages, m_context.allMailUidValidity, m_context.store, *moc);
    if (!lookup || !TDWMessageLabelLinks::mailFoldersByTag(m_context.store, *moc))
        return false;
    QHash<TDWManagedObjectID, TDWDocRev::Ptr> latest = latestRevisions(messages, *lookup, *moc);
    for (qsizetype k = 0; k < messages.size(); ++k) {
        const TDWImapMessage &message = messages[k];
        const qint64 sequence = firstSequence + k;
        TDWDoc::Ptr doc = lookup->docForMessage(message);
        TDWDocRev::Ptr revision;
        if (!doc) {
            doc = newDocForMessage(message, sequence, *owner, *moc);
            revision = newDocRevForMessage(message, doc, *owner, *moc);
        } else {
            revision = latest.value(doc->objectID());
            if (revision) {
                const QVariant stored = revision->messageFlags();
                const bool changed = stored.isNull()
                    ? revision->starred() != starredIn(message.flags) || revision->isUnread() != unreadIn(message.flags)
                    : stored.toLongLong() != message.flags;
                if (changed)
                    revision = newDocRevWithObsoletedDocRev(revision, *owner, message.flags, *moc);
            }
            if (doc->deleted() || doc->deletedDate().isValid()) {
                doc->setDeleted(false);
                doc->setDeletedDate(QDateTime());
                // The revision closed when the message vanished stays closed at
                // that date, so snapshots in between show the message gone; it
                // lives on in a new revision from now.
                if (revision && revision->obsoletedDate().isValid())
                    revision = newDocRevWithObsoletedDocRev(revision, *owner, message.flags, *moc);
            }
            if (!revision)
                revision = newDocRevForMessage(message, doc, *owner, *moc);
            latest.insert(doc->objectID(), revision);
        }
        revision->setLastSeenDate(m_context.backupIterationDate);
        revision->setMessageFlags(message.flags);
        if (doc->allMailSeq() != sequence) {
            doc->setAllMailSeq(sequence);
            doc->setAllMailSeqGroup(sequenceGroupOf(sequence));
        }
        doc->setGmailThreadId(gmailId(message.gmailThreadID));
        doc->setGmailMessageId(gmailId(message.gmailMessageID));
        doc->setDocId(gmailId(message.gmailMessageID));
        doc->setAllMailUid(TDWDocsForMessages::allMailKey(m_context.allMailUidValidity, message.uid));
    }
    return save(*moc);
}

QHash<TDWManagedObjectID, TDWDocRev::Ptr> TDWMessageRevisions::latestRevisions(const QList<TDWImapMessage> &messages,
                                                                               const TDWDocsForMessages &lookup, TDWManagedObjectContext &moc) const
{
    QList<TDWDoc::Ptr> docs;
    QSet<TDWManagedObjectID> seen;
    for (const TDWImapMessage &message : messages)
        if (const TDWDoc::Ptr doc = lookup.docForMessage(message); doc && !seen.contains(doc->objectID())) {
            seen.insert(doc->objectID());
            docs.append(doc);
        }
    // A failed fetch (logged) leaves every item without a known revision, as the lookup one by one did.
    return TDWDocRev::latestForDocs(docs, m_context.store, moc, nullptr).value_or(QHash<TDWManagedObjectID, TDWDocRev::Ptr>());
}

TDWDoc::Ptr TDWMessageRevisions::newDocForMessage(const TDWImapMessage &message, qint64 sequence, const TDWAccount &account,
                                                  TDWManagedObjectContext &moc) const
{
    auto doc = TDWDoc::newWithMoc(moc, m_context.store);
    doc->setAccountUsername(account.username());
    doc->setDocId(gmailId(message.gmailMessageID));
    doc->setDocType(MessageDocType);
    doc->setDocTypeLabel(TDWServiceTable::shared().docTypeConfig(MessageDocType).value(QStringLiteral("label")).toString());
    doc->setService(TDWServiceIds::Mail);
    doc->setAllMailUid(TDWDocsForMessages::allMailKey(m_context.allMailUidValidity, message.uid));
    doc->setAllMailSeq(sequence);
    doc->setAllMailSeqGroup(sequenceGroupOf(sequence));
    doc->setDeletedDate(QDateTime());
    doc->setIsUnlabeledMessage(true);
    doc->setGmailMessageId(gmailId(message.gmailMessageID));
    doc->setGmailThreadId(gmailId(message.gmailThreadID));
    return doc;
}

TDWDocRev::Ptr TDWMessageRevisions::newDocRevForMessage(const TDWImapMessage &message, const TDWDoc::Ptr &doc, const TDWAccount &account,
                                                        TDWManagedObjectContext &moc) const
{
    const double now = double(TDWClock::now().toMSecsSinceEpoch()) / 1000.0;
    const TDWImapMessageHeader header = message.header();
    auto revision = TDWDocRev::newWithMoc(moc, m_context.store);
    revision->setDoc(doc);
    revision->setTitle(TDWMessageText::titleFor(header));
    revision->setSortTitle(TDWMessageText::stringByRemovingSubjectPrefixesFrom(revision->title()));
    revision->setStarred(starredIn(message.flags));
    revision->setMessageFlags(message.flags);
    revision->setHidden(false);
    revision->setShared(false);
    revision->setViewedByMe(false);
    revision->setIsUnread(unreadIn(message.flags));
    revision->setOwnerEmail(account.username());
    revision->setFirstSeenDate(m_context.backupIterationDate);
    revision->setTo(TDWMessageText::stringFromAddressArray(header.to));
    revision->setFrom(TDWMessageText::stringFromAddress(TDWMessageText::senderOf(header)));
    revision->setWho(TDWMessageText::whoFromMessage(header, account.username()));
    revision->setCc(TDWMessageText::stringFromAddressArray(header.cc));
    revision->setLatest(true);
    revision->setLastModifiedDate(header.date);
    // The labels decide the final status (TDWMessageLabelLinks).
    revision->setExportStatus(account.backupUnlabeled() ? TDWDocRev::DownloadPending : TDWDocRev::ExcludedByRule);
    const qint64 dateSeconds = header.date.isValid() ? header.date.toSecsSinceEpoch() : 0;
    revision->setFilePath(filePathFor(account, header.subject,
                                      QStringLiteral("%1_%2").arg(dateSeconds).arg(now, 0, 'f', 6), doc->allMailUid()));
    return revision;
}

TDWDocRev::Ptr TDWMessageRevisions::newDocRevWithObsoletedDocRev(const TDWDocRev::Ptr &old, const TDWAccount &account, int messageFlags,
                                                                 TDWManagedObjectContext &moc) const
{
    const double now = double(TDWClock::now().toMSecsSinceEpoch()) / 1000.0;
    old->setLatest(false);
    if (!old->obsoletedDate().isValid())
        old->setObsoletedDate(m_context.backupIterationDate);

    auto revision = TDWDocRev::newWithMoc(moc, m_context.store);
    const TDWDoc::Ptr doc = old->doc();
    revision->setDoc(doc);
    for (const char *key : {"title", "sortTitle", "hidden", "shared", "viewedByMe", "ownerEmail", "firstSeenDate", "to", "from", "who",
                            "cc", "lastModifiedDate"}) {
        const QString name = QString::fromLatin1(key);
        revision->setValue(name, old->value(name));
    }
    revision->setFirstSeenDate(m_context.backupIterationDate);
    revision->setLastSeenDate(m_context.backupIterationDate);
    revision->setLatest(true);
    revision->setMessageFlags(messageFlags);
    revision->setIsUnread(unreadIn(messageFlags));
    revision->setStarred(starredIn(messageFlags));
    const double modified = double(old->lastModifiedDate().toMSecsSinceEpoch()) / 1000.0;
    revision->setFilePath(filePathFor(account, old->title(), QStringLiteral("%1_%2").arg(modified, 0, 'f', 6).arg(now, 0, 'f', 6),
                                      doc ? doc->allMailUid() : QString()));
    revision->setExportStatus(TDWMessageLabelLinks::exportStatusFor(doc, account.backupUnlabeled(),
                                                                    QStringLiteral("ERROR: Unable to determine whether new docrev should be backed up."),
                                                                    moc));
    return revision;
}

QString TDWMessageRevisions::filePathFor(const TDWAccount &account, const QString &subject, const QString &firstFields,
                                         const QString &allMailUid) const
{
    const QString fileName = QStringLiteral("%1_%2_%3.emlx")
                                 .arg(firstFields, allMailUid, QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    return account.dirPath() + QLatin1Char('/') + TDWMessageText::dirNameForSubject(subject) + QLatin1Char('/') + fileName;
}
