#include "mail/TDWMessageLabelLinks.h"

#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "mail/TDWDocsForMessages.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMailItem.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWSqliteStatement.h"

#include <QSet>


TDWMessageLabelLinks::TDWMessageLabelLinks(TDWAllMailSyncContext context)
    : m_context(std::move(context))
{
}

std::optional<QHash<QString, TDWMailFolder::Ptr>> TDWMessageLabelLinks::mailFoldersByTag(const TDWPersistentStorePtr &store,
                                                                                        TDWManagedObjectContext &moc)
{
    TDWError error;
    const auto folders = TDWEntityFetch(moc, QStringLiteral("MailFolder")).where(QStringLiteral("current = 1")).in(store).objects<TDWMailFolder>(&error);
    if (!folders) {
        tdwLog(QStringLiteral("ERROR: Unable to find folders: %1").arg(error.description()));
        return std::nullopt;
    }
    QHash<QString, TDWMailFolder::Ptr> byTag;
    for (const TDWMailFolder::Ptr &folder : *folders)
        byTag.insert(folder->messageTag(), folder);
    return byTag;
}

qint64 TDWMessageLabelLinks::exportStatusFor(const std::shared_ptr<TDWDoc> &doc, bool backupUnlabeled, const QString &failureLog,
                                             TDWManagedObjectContext &moc, bool *labelled)
{
    const QVariantList arguments = {TDWEntityFetch::argument(doc)};
    TDWError error;
    const qint64 backedUp = TDWEntityFetch(moc, QStringLiteral("MailItem"))
                                .where(QStringLiteral("messageDoc = %@ and current = 1 and mailFolder.current = 1 and mailFolder.backup = 1"), arguments)
                                .inStoreOf(doc)
                                .count(&error);
    const qint64 inFolders = backedUp == TDWManagedObjectContext::NotFound
        ? TDWManagedObjectContext::NotFound
        : TDWEntityFetch(moc, QStringLiteral("MailItem"))
              .where(QStringLiteral("messageDoc = %@ and current = 1 and mailFolder.current = 1"), arguments)
              .inStoreOf(doc)
              .count(&error);
    if (inFolders == TDWManagedObjectContext::NotFound) {
        tdwLog(failureLog.contains(QLatin1String("%1")) ? failureLog.arg(error.description()) : failureLog);
        if (labelled)
            *labelled = true;
        return TDWDocRev::DownloadPending;
    }
    if (labelled)
        *labelled = inFolders > 0;
    if (backedUp > 0)
        return TDWDocRev::DownloadPending;
    if (inFolders > 0)
        return TDWDocRev::ExcludedByRule;
    return backupUnlabeled ? TDWDocRev::DownloadPending : TDWDocRev::ExcludedByRule;
}

std::optional<bool> TDWMessageLabelLinks::linksMatchLabels(const QList<TDWImapMessage> &messages, const QHash<QString, TDWMailFolder::Ptr> &foldersByTag,
                                                           TDWManagedObjectContext &moc) const
{
    // The links of the batch's items by docId, which the walk below looks up
    // by Gmail id alone.
    QVariantList keys;
    keys.reserve(messages.size());
    for (const TDWImapMessage &message : messages)
        keys.append(TDWDocsForMessages::gmailKey(message.gmailMessageID));
    const QString placeholders = QStringList(keys.size(), QStringLiteral("?")).join(QLatin1Char(','));
    QHash<QString, QSet<QString>> tagsByDocId;
    TDWError error;
    const bool read = moc.executeSql(
        m_context.store,
        QStringLiteral("SELECT d.\"docId\", f.\"messageTag\" FROM \"MailItem\" t JOIN \"Doc\" d ON d.pk = t.\"messageDoc\" "
                       "JOIN \"MailFolder\" f ON f.pk = t.\"mailFolder\" WHERE t.\"current\" = 1 AND f.\"current\" = 1 AND d.\"docId\" IN (%1)")
            .arg(placeholders),
        keys,
        [&tagsByDocId](const TDWSqliteStatement &row) {
            tagsByDocId[row.textAt(0)].insert(row.textAt(1));
            return true;
        },
        &error);
    if (!read) {
        tdwLog(QStringLiteral("ERROR: Unable to get existing docId->messageTag mappings: %1").arg(error.description()));
        return std::nullopt;
    }
    // The same walk as below, without changing anything.
    for (const TDWImapMessage &message : messages) {
        QSet<QString> linked = tagsByDocId.value(TDWDocsForMessages::gmailKey(message.gmailMessageID));
        for (const QString &label : message.gmailLabels)
            if (!linked.remove(label) && foldersByTag.contains(label))
                return false;
        if (!linked.isEmpty())
            return false;
    }
    return true;
}

bool TDWMessageLabelLinks::syncFoldersForMessageArray(const QList<TDWImapMessage> &messages)
{
    const auto moc = TDWMasterStore::shared().newMoc();
    const auto foldersByTag = mailFoldersByTag(m_context.store, *moc);
    if (!foldersByTag)
        return false;
    // Labels seldom change between runs: then nothing is loaded as objects.
    const std::optional<bool> unchanged = linksMatchLabels(messages, *foldersByTag, *moc);
    if (!unchanged)
        return false;
    if (*unchanged) {
        moc->reset();
        return true;
    }
    const auto lookup = TDWDocsForMessages::forMessages(messages, m_context.allMailUidValidity, m_context.store, *moc);
    if (!lookup)
        return false;

    QStringList docIds;
    for (const auto &doc : lookup->allDocs())
        docIds.append(doc->docId());
    // Links to folders that have closed are history: they neither match a
    // label of the message nor keep it to be backed up.
    TDWError error;
    // The items by their indexed docId first: the predicate alone reads every link of the store.
    QVariantList bindings(docIds.cbegin(), docIds.cend());
    const QString placeholders = QStringList(docIds.size(), QStringLiteral("?")).join(QLatin1Char(','));
    const auto links = TDWEntityFetch(*moc, QStringLiteral("MailItem"))
                           .whereSql(QStringLiteral("t.\"messageDoc\" IN (SELECT pk FROM \"Doc\" WHERE \"docId\" IN (%1))").arg(placeholders), bindings)
                           .where(QStringLiteral("messageDoc.docId in %@ and current = 1 and mailFolder.current = 1"), {docIds})
                           .in(m_context.store)
                           .prefetching({QStringLiteral("messageDoc"), QStringLiteral("mailFolder")})
                           .objects<TDWMailItem>(&error);
    if (!links) {
        tdwLog(QStringLiteral("ERROR: Unable to get existing docId->messageTag mappings: %1").arg(error.description()));
        return false;
    }
    QHash<QString, QHash<QString, TDWMailItem::Ptr>> linkedByDocId;
    for (const TDWMailItem::Ptr &link : *links)
        linkedByDocId[link->messageDoc()->docId()].insert(link->mailFolder()->messageTag(), link);

    for (const TDWImapMessage &message : messages) {
        const QString docId = TDWDocsForMessages::gmailKey(message.gmailMessageID);
        QHash<QString, TDWMailItem::Ptr> linked = linkedByDocId.value(docId);
        std::shared_ptr<TDWDoc> doc;
        bool changed = false;
        for (const QString &label : message.gmailLabels) {
            if (linked.remove(label))
                continue;
            const TDWMailFolder::Ptr folder = foldersByTag->value(label);
            if (!folder)
                continue;
            if (!doc)
                doc = lookup->docForMessage(message);
            if (!doc)
                doc = TDWDoc::byDocId(docId, m_context.store, *moc, nullptr);
            if (!doc)
                continue;
            auto link = TDWMailItem::newWithMoc(*moc, m_context.store);
            link->setMailFolder(folder);
            link->setMessageDoc(doc);
            link->setFirstSeenDate(m_context.backupIterationDate);
            link->setCurrent(true);
            changed = true;
        }
        for (const TDWMailItem::Ptr &link : std::as_const(linked)) {
            link->setObsoletedDate(m_context.backupIterationDate);
            link->setCurrent(false);
            if (!doc)
                doc = link->messageDoc();
            changed = true;
        }
        if (!changed || !doc)
            continue;
        const TDWDocRev::Ptr revision = TDWDocRev::latestForDoc(doc, QDateTime(), *moc, nullptr);
        if (!revision || revision->exportStatus() == TDWDocRev::BackedUp)
            continue;
        bool labelled = false;
        revision->setExportStatus(exportStatusFor(doc, m_context.backupUnlabeled,
                                                  QStringLiteral("ERROR: Unable to determine whether message should be backed up: %1"), *moc,
                                                  &labelled));
        doc->setIsUnlabeledMessage(!labelled);
    }

    if (!moc->save(&error)) {
        tdwLog(QStringLiteral("ERROR: Unable to save in syncFoldersForMessageArray: %1, %2").arg(error.localizedDescription(), error.description()));
        return false;
    }
    moc->reset();
    return true;
}
