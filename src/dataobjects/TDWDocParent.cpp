#include "dataobjects/TDWDocParent.h"

#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWEntityFetch.h"
#include "platform/foundation/TDWLog.h"

namespace {

const QString EntityName = QStringLiteral("DocParent");

} // namespace

std::shared_ptr<TDWDoc> TDWDocParent::doc() const
{
    return std::static_pointer_cast<TDWDoc>(objectValue(QStringLiteral("doc")));
}

void TDWDocParent::setDoc(const std::shared_ptr<TDWDoc> &doc)
{
    setObjectValue(QStringLiteral("doc"), doc);
}

std::shared_ptr<TDWDoc> TDWDocParent::parentDoc() const
{
    return std::static_pointer_cast<TDWDoc>(objectValue(QStringLiteral("parentDoc")));
}

void TDWDocParent::setParentDoc(const std::shared_ptr<TDWDoc> &parent)
{
    setObjectValue(QStringLiteral("parentDoc"), parent);
}

TDWDocParent::Ptr TDWDocParent::newWithMoc(TDWManagedObjectContext &moc, const TDWPersistentStorePtr &store)
{
    return insertIntoStore<TDWDocParent>(moc, EntityName, store);
}

bool TDWDocParent::currentParentDocExistsFor(const std::shared_ptr<TDWDoc> &doc, TDWManagedObjectContext &moc)
{
    TDWError error;
    const qint64 count = TDWEntityFetch(moc, EntityName)
                             .where(QStringLiteral("doc = %@ and assocCurrent = 1"), {TDWEntityFetch::argument(doc)})
                             .inStoreOf(doc)
                             .count(&error);
    if (count == TDWManagedObjectContext::NotFound) {
        tdwLog(QStringLiteral("ERROR: currentParentDocExistsFor query failed: %1").arg(error.description()));
        return false;
    }
    return count >= 1;
}

TDWDocParent::Ptr TDWDocParent::currentForDoc(const std::shared_ptr<TDWDoc> &doc, const std::shared_ptr<TDWDoc> &parent,
                                              TDWManagedObjectContext &moc)
{
    TDWError error;
    const auto found = TDWEntityFetch(moc, EntityName)
                           .where(QStringLiteral("doc = %@ and parentDoc = %@ and assocCurrent = 1"),
                                  {TDWEntityFetch::argument(doc), TDWEntityFetch::argument(parent)})
                           .inStoreOf(doc)
                           .objects<TDWDocParent>(&error);
    if (!found) {
        tdwLog(QStringLiteral("ERROR: Error in TDWDocParent currentForDoc:parent:moc: %1").arg(error.description()));
        return nullptr;
    }
    if (found->size() > 1)
        tdwLog(QStringLiteral("ERROR: Multiple results in currentForDoc:parent:moc:"));
    return found->isEmpty() ? nullptr : found->first();
}

std::optional<QList<TDWDocParent::Ptr>> TDWDocParent::forDoc(const std::shared_ptr<TDWDoc> &doc, const QDateTime &lastSeenDateOtherThan,
                                                             TDWManagedObjectContext &moc)
{
    TDWError error;
    auto found = TDWEntityFetch(moc, EntityName)
                     .where(QStringLiteral("doc = %@ and lastSeenDate != %@ and assocCurrent = 1"),
                            {TDWEntityFetch::argument(doc), lastSeenDateOtherThan})
                     .inStoreOf(doc)
                     .objects<TDWDocParent>(&error);
    if (!found)
        tdwLog(QStringLiteral("ERROR: Error in TDWDocParent forDoc:withLastSeenDateOtherThan:moc: %1").arg(error.description()));
    return found;
}

std::optional<QList<TDWDocParent::Ptr>> TDWDocParent::obsoletedBefore(const QDateTime &date, const TDWPersistentStorePtr &store,
                                                                      TDWManagedObjectContext &moc)
{
    TDWError error;
    auto found = TDWEntityFetch(moc, EntityName)
                     .where(QStringLiteral("assocCurrent = 0 and obsoletedDate < %@"), {date})
                     .in(store)
                     .objects<TDWDocParent>(&error);
    if (!found)
        tdwLog(QStringLiteral("ERROR: TDWDocParent obsoletedBefore failed: %1").arg(error.description()));
    return found;
}
