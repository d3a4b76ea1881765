#include "dataobjects/TDWMailItem.h"

#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMailFolder.h"
#include "platform/foundation/TDWLog.h"

namespace {

const QString EntityName = QStringLiteral("MailItem");

using Items = std::optional<QList<TDWMailItem::Ptr>>;

// Runs the fetch; a failure is logged with the format (its "%1" the error) and handed to the caller.
Items items(TDWEntityFetch &fetch, const QString &failureFormat, TDWError *error)
{
    TDWError failure;
    Items found = fetch.objects<TDWMailItem>(&failure);
    if (!found) {
        if (!error)
            tdwLog(failureFormat.arg(failure.description()));
        tdwSetError(error, failure);
    }
    return found;
}

} // namespace

std::shared_ptr<TDWMailFolder> TDWMailItem::mailFolder() const
{
    return std::static_pointer_cast<TDWMailFolder>(objectValue(QStringLiteral("mailFolder")));
}

void TDWMailItem::setMailFolder(const std::shared_ptr<TDWMailFolder> &folder)
{
    setObjectValue(QStringLiteral("mailFolder"), folder);
}

std::shared_ptr<TDWDoc> TDWMailItem::messageDoc() const
{
    return std::static_pointer_cast<TDWDoc>(objectValue(QStringLiteral("messageDoc")));
}

void TDWMailItem::setMessageDoc(const std::shared_ptr<TDWDoc> &doc)
{
    setObjectValue(QStringLiteral("messageDoc"), doc);
}

TDWMailItem::Ptr TDWMailItem::newWithMoc(TDWManagedObjectContext &moc, const TDWPersistentStorePtr &store)
{
    return insertIntoStore<TDWMailItem>(moc, EntityName, store);
}

TDWMailItem::Ptr TDWMailItem::currentWithHighestSequenceForMailFolder(const std::shared_ptr<TDWMailFolder> &folder,
                                                                      TDWManagedObjectContext &moc, TDWError *error)
{
    const Items found = items(TDWEntityFetch(moc, EntityName)
                                  .where(QStringLiteral("mailFolder = %@ and current = 1"), {TDWEntityFetch::argument(folder)})
                                  .inStoreOf(folder)
                                  .sortedBy({TDWSortDescriptor(QStringLiteral("sequenceNumber"), false)})
                                  .limit(1),
                              QStringLiteral("ERROR: withHighestSequenceForMailFolder failed -- %1"), error);
    return found && !found->isEmpty() ? found->first() : nullptr;
}

TDWMailItem::Ptr TDWMailItem::currentByMailFolder(const std::shared_ptr<TDWMailFolder> &folder, qint32 sequenceNumber,
                                                  TDWManagedObjectContext &moc, TDWError *error)
{
    const Items found = items(TDWEntityFetch(moc, EntityName)
                                  .where(QStringLiteral("mailFolder = %@ and sequenceNumber = %@ and current = 1"),
                                         {TDWEntityFetch::argument(folder), sequenceNumber})
                                  .inStoreOf(folder),
                              QStringLiteral("ERROR: byMailFolder:sequenceNumber:... failed -- %1"), error);
    if (!found)
        return nullptr;
    if (found->size() > 1) {
        tdwLog(QStringLiteral("ERROR: More than one entry in byMailFolder:sequenceNumber:..."));
        return nullptr;
    }
    return found->isEmpty() ? nullptr : found->first();
}

std::optional<QList<TDWMailItem::Ptr>> TDWMailItem::currentByMailFolder(const std::shared_ptr<TDWMailFolder> &folder, qint32 firstSequence,
                                                                        qint32 sequenceLessThan, TDWManagedObjectContext &moc,
                                                                        TDWError *error)
{
    // "> first - 1" in 64 bits, so the lowest 32-bit sequence number still counts.
    return items(TDWEntityFetch(moc, EntityName)
                     .where(QStringLiteral("mailFolder = %@ and sequenceNumber > %@ and sequenceNumber < %@ and current = 1"),
                            {TDWEntityFetch::argument(folder), qlonglong(firstSequence) - 1, sequenceLessThan})
                     .inStoreOf(folder),
                 QStringLiteral("ERROR: byImapAccountAndFolderString failed -- %1"), error);
}

std::optional<QList<TDWMailItem::Ptr>> TDWMailItem::currentByMailFolderWithSequenceHigherThan(const std::shared_ptr<TDWMailFolder> &folder,
                                                                                              qint32 sequence, TDWManagedObjectContext &moc,
                                                                                              TDWError *error)
{
    return items(TDWEntityFetch(moc, EntityName)
                     .where(QStringLiteral("mailFolder = %@ and sequenceNumber > %@ and current = 1"), {TDWEntityFetch::argument(folder), sequence})
                     .inStoreOf(folder),
                 QStringLiteral("ERROR: byImapAccountAndFolderString failed -- %1"), error);
}

qint64 TDWMailItem::currentCountByStore(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc, TDWError *error)
{
    TDWError failure;
    const qint64 count = TDWEntityFetch(moc, EntityName).where(QStringLiteral("mailFolder.current = 1 and current = 1")).in(store).count(&failure);
    if (count == TDWManagedObjectContext::NotFound) {
        if (!error)
            tdwLog(QStringLiteral("ERROR: countByImapAccountAndFolderString failed -- %1").arg(failure.description()));
        tdwSetError(error, failure);
    }
    return count;
}

std::optional<QList<TDWMailItem::Ptr>> TDWMailItem::currentByGmailMessageId(const QString &gmailMessageId, const TDWPersistentStorePtr &store,
                                                                            TDWManagedObjectContext &moc, TDWError *error)
{
    return items(TDWEntityFetch(moc, EntityName).where(QStringLiteral("gmailMessageId = %@ and current = 1"), {gmailMessageId}).in(store),
                 QStringLiteral("ERROR: byImapAccountAndFolderString failed -- %1"), error);
}

std::optional<QList<TDWMailItem::Ptr>> TDWMailItem::obsoletedSinceBefore(const QDateTime &date, TDWManagedObjectContext &moc)
{
    return items(TDWEntityFetch(moc, EntityName).where(QStringLiteral("current = 0 and obsoletedDate < %@"), {date}),
                 QStringLiteral("TDWMailItem obsoletedSinceBefore encountered error: %1"), nullptr);
}

std::optional<QList<TDWMailItem::Ptr>> TDWMailItem::currentByMailFolder(const std::shared_ptr<TDWMailFolder> &folder, qint64 sequenceGroup,
                                                                        const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc)
{
    return items(TDWEntityFetch(moc, EntityName)
                     .where(QStringLiteral("mailFolder = %@ and sequenceGroup = %@ and current = 1"), {TDWEntityFetch::argument(folder), sequenceGroup})
                     .in(store)
                     .sortedBy({TDWSortDescriptor(QStringLiteral("sequenceNumber"))}),
                 QStringLiteral("ERROR: Unable to find current by mail folder: %1"), nullptr);
}

TDWMailItem::Ptr TDWMailItem::currentByMailFolder(const std::shared_ptr<TDWMailFolder> &folder, const std::shared_ptr<TDWDoc> &messageDoc,
                                                  const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc)
{
    const Items found = items(TDWEntityFetch(moc, EntityName)
                                  .where(QStringLiteral("mailFolder = %@ and messageDoc = %@ and current = 1"),
                                         {TDWEntityFetch::argument(folder), TDWEntityFetch::argument(messageDoc)})
                                  .in(store)
                                  .limit(1),
                              QStringLiteral("ERROR: Unable to find current by mail folder: %1"), nullptr);
    return found && !found->isEmpty() ? found->first() : nullptr;
}

std::optional<QList<TDWMailItem::Ptr>> TDWMailItem::currentByMessageDoc(const std::shared_ptr<TDWDoc> &messageDoc,
                                                                        const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc)
{
    return items(TDWEntityFetch(moc, EntityName)
                     .where(QStringLiteral("messageDoc = %@ and current = 1"), {TDWEntityFetch::argument(messageDoc)})
                     .in(store)
                     .prefetching({QStringLiteral("mailFolder")}),
                 QStringLiteral("ERROR: Unable to find current by mail folder: %1"), nullptr);
}
