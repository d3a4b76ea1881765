#include "dataobjects/TDWMailFolder.h"

#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMailItem.h"
#include "platform/foundation/TDWLog.h"

namespace {

const QString EntityName = QStringLiteral("MailFolder");

} // namespace

QList<std::shared_ptr<TDWMailItem>> TDWMailFolder::mailItems() const
{
    return TDWEntityFetch::cast<TDWMailItem>(objectsValue(QStringLiteral("mailItems")));
}

TDWMailFolder::Ptr TDWMailFolder::newWithMoc(TDWManagedObjectContext &moc, const TDWPersistentStorePtr &store)
{
    return insertIntoStore<TDWMailFolder>(moc, EntityName, store);
}

TDWMailFolder::Ptr TDWMailFolder::currentByStore(const TDWPersistentStorePtr &store, const QString &folderPath, TDWManagedObjectContext &moc,
                                                 TDWError *error)
{
    TDWError failure;
    const auto found = TDWEntityFetch(moc, EntityName)
                           .where(QStringLiteral("folderPath = %@ and current = 1"), {folderPath})
                           .in(store)
                           .objects<TDWMailFolder>(&failure);
    if (!found) {
        if (!error)
            tdwLog(QStringLiteral("ERROR: byAccount:folderPath:... failed -- %1").arg(failure.description()));
        tdwSetError(error, failure);
        return nullptr;
    }
    if (found->size() > 1) {
        tdwLog(QStringLiteral("ERROR: multiple results in TDWMailFolder byAccount:folderPath:..."));
        return nullptr;
    }
    return found->isEmpty() ? nullptr : found->first();
}

std::optional<QList<TDWMailFolder::Ptr>> TDWMailFolder::byStore(const TDWPersistentStorePtr &store, const QDateTime &snapshotDate,
                                                                TDWManagedObjectContext &moc, TDWError *error)
{
    TDWEntityFetch fetch(moc, EntityName);
    if (snapshotDate.isValid())
        fetch.where(QStringLiteral("firstSeenDate <= %@ and (obsoletedDate = nil or obsoletedDate > %@)"), {snapshotDate, snapshotDate});
    else
        fetch.where(QStringLiteral("current = 1"));
    TDWError failure;
    auto found = fetch.in(store)
                     .sortedBy({TDWSortDescriptor(QStringLiteral("folderPath"), true, TDWSortDescriptor::CaseInsensitive)})
                     .objects<TDWMailFolder>(&failure);
    if (!found) {
        if (!error)
            tdwLog(QStringLiteral("ERROR: TDWMailFolder byStore:snapshotDate:... failed -- %1").arg(failure.description()));
        tdwSetError(error, failure);
    }
    return found;
}

std::optional<QList<TDWMailFolder::Ptr>> TDWMailFolder::obsoletedSinceBefore(const QDateTime &date, const TDWPersistentStorePtr &store,
                                                                             TDWManagedObjectContext &moc)
{
    TDWError failure;
    auto found = TDWEntityFetch(moc, EntityName)
                     .where(QStringLiteral("current = 0 and obsoletedDate < %@"), {date})
                     .in(store)
                     .objects<TDWMailFolder>(&failure);
    if (!found)
        tdwLog(QStringLiteral("TDWMailFolder obsoletedSinceBefore encountered error: %1").arg(failure.description()));
    return found;
}

TDWMailFolder::Ptr TDWMailFolder::currentAllMailFolderByStore(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc)
{
    TDWError failure;
    const auto found = TDWEntityFetch(moc, EntityName)
                           .where(QStringLiteral("current = 1 and folderType = %ld"), {AllMailFolderType})
                           .in(store)
                           .objects<TDWMailFolder>(&failure);
    if (!found) {
        tdwLog(QStringLiteral("ERROR: Unable to get all mail folder in currentAllMailFolderForAccountUsername: %1").arg(failure.description()));
        return nullptr;
    }
    return found->isEmpty() ? nullptr : found->first();
}
