#include "dataobjects/TDWDocRev.h"

#include "common/TDWServiceIds.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWEntityDescription.h"
#include "platform/store/TDWManagedObjectModel.h"
#include "platform/store/TDWSqliteStatement.h"
#include "platform/store/TDWStoreError.h"
#include "platform/store/TDWStoreSchema.h"
#include "platform/store/TDWStoreSqlSchema.h"

namespace {

const QString EntityName = QStringLiteral("DocRev");
const QString DefaultRemindersKey = QStringLiteral("defaultRemindersValue");
// Tested in this order.
const QStringList ExtensibleKeys{QStringLiteral("contactHasStructuredAddress"), QStringLiteral("has216fix"), QStringLiteral("has219fix"),
                                 QStringLiteral("jsonDictionary"), DefaultRemindersKey, QStringLiteral("has252calendarfix")};
const QString QueuePredicate =
    QStringLiteral("((exportStatus = %@ or exportStatus = %@ or exportStatus = %@)) and (latest = 1) and (doc.deleted = 0)");
// Valid at a snapshot S: first seen at or before S, not obsoleted at or before S.
const QString ValidAtSnapshot = QStringLiteral("firstSeenDate <= %@ and (obsoletedDate = nil or obsoletedDate > %@)");
const QString LinkValidAtSnapshot = QStringLiteral("$x.firstSeenDate <= %@ and ($x.obsoletedDate = nil or $x.obsoletedDate > %@)");

using Revisions = std::optional<QList<TDWDocRev::Ptr>>;

QVariantList queueArguments()
{
    return {qlonglong(TDWDocRev::DownloadPending), qlonglong(TDWDocRev::DownloadFailed), qlonglong(TDWDocRev::FileMissing)};
}

QList<TDWSortDescriptor> queueOrder(const QString &service)
{
    if (service == TDWServiceIds::Mail)
        return {TDWSortDescriptor(QStringLiteral("doc.allMailSeq"), false), TDWSortDescriptor(QStringLiteral("exportStatus"), false)};
    return {TDWSortDescriptor(QStringLiteral("exportStatus"), false), TDWSortDescriptor(QStringLiteral("lastModifiedDate"), false)};
}

TDWSortDescriptor byTitle()
{
    return TDWSortDescriptor(QStringLiteral("title"), true, TDWSortDescriptor::CaseInsensitive);
}

qint64 requestLimit(quint64 limit)
{
    return limit == TDWDocRev::NoLimit ? 0 : qint64(qMin<quint64>(limit, quint64(std::numeric_limits<qint64>::max())));
}

// Runs the fetch; a failure is logged with the format (its "%1" the error) and handed to the caller.
Revisions revisions(TDWEntityFetch &fetch, const QString &failureFormat, TDWError *error)
{
    TDWError failure;
    Revisions found = fetch.objects<TDWDocRev>(&failure);
    if (!found) {
        tdwLog(failureFormat.arg(failure.description()));
        tdwSetError(error, failure);
    }
    return found;
}

TDWDocRev::Ptr firstOf(const Revisions &found)
{
    return found && !found->isEmpty() ? found->first() : nullptr;
}

std::optional<QList<TDWManagedObjectID>> queue(const QString &service, const QString &extraCondition, const QVariantList &extraArguments,
                                               const TDWPersistentStorePtr &store, quint64 maxResults, TDWManagedObjectContext &moc,
                                               TDWError *error)
{
    TDWError failure;
    auto ids = TDWEntityFetch(moc, EntityName)
                   .where(QueuePredicate + extraCondition, queueArguments() + extraArguments)
                   .in(store)
                   .sortedBy(queueOrder(service))
                   .limit(requestLimit(maxResults))
                   .objectIDs(&failure);
    if (!ids) {
        tdwLog(QStringLiteral("ERROR: [DocRev needsRetrieval:...] -- NSError error: %1").arg(failure.description()));
        tdwSetError(error, failure);
    }
    return ids;
}

QString predicateFailure(const TDWPredicate &predicate)
{
    // The error's description goes in first; the predicate text may hold "%".
    return QStringLiteral("ERROR: DocRev withPredicate:... failed: %1 -- predicate: ") + predicate.predicateFormat();
}

} // namespace

std::shared_ptr<TDWDoc> TDWDocRev::doc() const
{
    return std::static_pointer_cast<TDWDoc>(objectValue(QStringLiteral("doc")));
}

void TDWDocRev::setDoc(const std::shared_ptr<TDWDoc> &doc)
{
    setObjectValue(QStringLiteral("doc"), doc);
}

QVariant TDWDocRev::defaultReminders() const
{
    return keyValue(DefaultRemindersKey);
}

void TDWDocRev::setDefaultReminders(const QVariant &reminders)
{
    setKeyValue(reminders, DefaultRemindersKey);
}

bool TDWDocRev::usesExtensiblePropertiesForUndefinedKey(const QString &key) const
{
    return ExtensibleKeys.contains(key);
}

TDWDocRev::Ptr TDWDocRev::newWithMoc(TDWManagedObjectContext &moc, const TDWPersistentStorePtr &store)
{
    return insertIntoStore<TDWDocRev>(moc, EntityName, store);
}

std::optional<QList<TDWManagedObjectID>> TDWDocRev::idsNeedingRetrievalByService(const QString &service, const TDWPersistentStorePtr &store,
                                                                                  quint64 maxResults, TDWManagedObjectContext &moc,
                                                                                  TDWError *error)
{
    return queue(service, {}, {}, store, maxResults, moc, error);
}

std::optional<QList<TDWManagedObjectID>> TDWDocRev::idsNeedingRetrievalByService(const QString &service, const QDateTime &lastSeenBefore,
                                                                                  const TDWPersistentStorePtr &store, quint64 maxResults,
                                                                                  TDWManagedObjectContext &moc, TDWError *error)
{
    return queue(service, QStringLiteral(" and lastSeenDate != %@"), {lastSeenBefore}, store, maxResults, moc, error);
}

TDWDocRev::Ptr TDWDocRev::bestRetrievalCandidateForDocRevId(const TDWManagedObjectID &docRevId, TDWManagedObjectContext &moc,
                                                            TDWError *error)
{
    TDWError unresolved; // an identifier that names no revision (any more) has no candidate
    const TDWManagedObjectPtr object = docRevId.entityName() == EntityName ? moc.existingObjectWithID(docRevId, &unresolved) : nullptr;
    if (!object)
        return nullptr;
    const Ptr target = std::static_pointer_cast<TDWDocRev>(object);
    if (target->exportStatus() == BackedUp)
        return target;
    const std::shared_ptr<TDWDoc> doc = target->doc();
    if (!doc)
        return nullptr;
    const Revisions all = revisions(TDWEntityFetch(moc, EntityName)
                                        .where(QStringLiteral("doc = %@"), {TDWEntityFetch::argument(doc)})
                                        .inStoreOf(doc)
                                        .sortedBy({TDWSortDescriptor(QStringLiteral("firstSeenDate"), false)}),
                                    QStringLiteral("ERROR: bestRetrievalCandidateForDocRevId:docId:... failed: %1"), error);
    if (!all)
        return nullptr;
    // Newest first: a backed-up revision after the target is the nearest older
    // one and wins; the last one before it is the nearest newer one.
    Ptr newer;
    bool targetPassed = false;
    for (const Ptr &revision : *all) {
        if (revision->objectID() == target->objectID()) {
            targetPassed = true;
            continue;
        }
        if (revision->exportStatus() != BackedUp)
            continue;
        if (targetPassed)
            return revision;
        newer = revision;
    }
    return newer;
}

TDWDocRev::Ptr TDWDocRev::latestForDoc(const std::shared_ptr<TDWDoc> &doc, const QDateTime &snapshotDate, TDWManagedObjectContext &moc,
                                       TDWError *error)
{
    if (!doc)
        return nullptr;
    TDWEntityFetch fetch(moc, EntityName);
    if (snapshotDate.isValid())
        fetch.where(QStringLiteral("doc = %@ and firstSeenDate <= %@"), {TDWEntityFetch::argument(doc), snapshotDate})
            .sortedBy({TDWSortDescriptor(QStringLiteral("firstSeenDate"), false)});
    else
        fetch.where(QStringLiteral("doc = %@ and latest = 1"), {TDWEntityFetch::argument(doc)});
    return firstOf(revisions(fetch.inStoreOf(doc).limit(1), QStringLiteral("ERROR: latestRetrievedForDoc encountered error: %1"), error));
}

std::optional<QHash<TDWManagedObjectID, TDWDocRev::Ptr>> TDWDocRev::latestForDocs(const QList<std::shared_ptr<TDWDoc>> &docs,
                                                                                  const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc,
                                                                                  TDWError *error)
{
    QHash<TDWManagedObjectID, Ptr> byDoc;
    if (docs.isEmpty())
        return byDoc;
    QVariantList arguments;
    arguments.reserve(docs.size());
    for (const std::shared_ptr<TDWDoc> &doc : docs)
        arguments.append(TDWEntityFetch::argument(doc));
    const Revisions found = revisions(TDWEntityFetch(moc, EntityName).where(QStringLiteral("doc in %@ and latest = 1"), {QVariant(arguments)}).in(store),
                                      QStringLiteral("ERROR: latestRetrievedForDoc encountered error: %1"), error);
    if (!found)
        return std::nullopt;
    // The first in the fetch's order, as latestForDoc's limit of one takes it.
    for (const Ptr &revision : *found)
        if (const std::shared_ptr<TDWDoc> doc = revision->doc(); doc && !byDoc.contains(doc->objectID()))
            byDoc.insert(doc->objectID(), revision);
    return byDoc;
}

std::optional<QList<TDWDocRev::Ptr>> TDWDocRev::forDoc(const std::shared_ptr<TDWDoc> &doc, const QDateTime &olderThan,
                                                       TDWManagedObjectContext &moc, TDWError *error)
{
    return revisions(TDWEntityFetch(moc, EntityName)
                         .where(QStringLiteral("(doc = %@) and (obsoletedDate < %@) and (latest = 0 or doc.deleted = 1)"),
                                {TDWEntityFetch::argument(doc), olderThan})
                         .inStoreOf(doc),
                     QStringLiteral("ERROR: DocRev forDoc failed: %1"), error);
}

std::optional<QList<TDWDocRev::Ptr>> TDWDocRev::olderThan(const QDateTime &date, const TDWPersistentStorePtr &store,
                                                          TDWManagedObjectContext &moc, TDWError *error)
{
    return revisions(TDWEntityFetch(moc, EntityName)
                         .where(QStringLiteral("(latest = 0 or doc.deleted = 1) and (obsoletedDate < %@)"), {date})
                         .in(store),
                     QStringLiteral("ERROR: [Doc withDocRevsOlderThan...] -- NSError error: %1"), error);
}

std::optional<QList<TDWDocRev::Ptr>> TDWDocRev::latestNotDeletedByStore(const TDWPersistentStorePtr &store,
                                                                        const std::shared_ptr<TDWBackupIteration> &withBackupIterationOtherThan,
                                                                        TDWManagedObjectContext &moc, TDWError *error)
{
    const QDateTime start = withBackupIterationOtherThan ? withBackupIterationOtherThan->iterationStartTime() : QDateTime();
    return revisions(TDWEntityFetch(moc, EntityName)
                         .where(QStringLiteral("doc.deleted = 0 and latest = 1 and lastSeenDate != %@"), {start})
                         .in(store),
                     QStringLiteral("ERROR: DocRev latestNotDeletedByUsername:service:withBackupIterationOtherThan:... failed: %1"), error);
}

std::optional<QList<TDWDocRev::Ptr>> TDWDocRev::withPredicate(const TDWPredicate &predicate, const QList<TDWPersistentStorePtr> &stores,
                                                              TDWManagedObjectContext &moc, TDWError *error)
{
    return revisions(TDWEntityFetch(moc, EntityName).where(predicate).in(stores).prefetching({QStringLiteral("doc")}),
                     predicateFailure(predicate), error);
}

std::optional<QList<TDWManagedObjectID>> TDWDocRev::idsWithPredicate(const TDWPredicate &predicate, const TDWPersistentStorePtr &store,
                                                                     TDWManagedObjectContext &moc, TDWError *error)
{
    TDWError failure;
    auto ids = TDWEntityFetch(moc, EntityName).where(predicate).in(store).objectIDs(&failure);
    if (!ids) {
        tdwLog(predicateFailure(predicate).arg(failure.description()));
        tdwSetError(error, failure);
    }
    return ids;
}

qint64 TDWDocRev::countNeedingRetrievalByStore(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc, TDWError *error)
{
    return TDWEntityFetch(moc, EntityName).where(QueuePredicate, queueArguments()).in(store).count(error);
}

std::optional<QList<TDWManagedObjectID>> TDWDocRev::idsWithRulePredicate(const TDWPredicate &predicate, const TDWPersistentStorePtr &store,
                                                                         TDWManagedObjectContext &moc, TDWError *error)
{
    if (!store || predicate.isNull())
        return idsWithPredicate(predicate, store, moc, error);
    const TDWStoreSqlSchema schema(moc.model(), store->identifier());
    const QList<TDWPredicate> terms = predicate.kind() == TDWPredicate::Kind::And ? predicate.subpredicates() : QList<TDWPredicate>{predicate};
    QList<TDWPredicate> inSql;
    QList<TDWPredicate> inMemory;
    for (const TDWPredicate &term : terms) {
        TDWSqlFragment unused;
        (term.toSql(schema, EntityName, QStringLiteral("t"), &unused) ? inSql : inMemory).append(term);
    }
    std::optional<QList<TDWManagedObjectID>> selected = idsWithPredicate(TDWPredicate::andPredicate(inSql), store, moc, error);
    if (!selected || inMemory.isEmpty())
        return selected;
    const TDWPredicate rest = TDWPredicate::andPredicate(inMemory);
    constexpr qsizetype BatchSize = 500;
    QList<TDWManagedObjectID> matching;
    for (qsizetype start = 0; start < selected->size(); start += BatchSize) {
        TDWError failure;
        // Dropped at the end of the batch, and with them whatever their evaluation loaded.
        const auto batch = moc.existingObjectsWithIDs(selected->mid(start, BatchSize), &failure);
        for (const TDWManagedObjectPtr &revision : batch.value_or(QList<TDWManagedObjectPtr>())) {
            if (rest.evaluate(*revision, &failure))
                matching.append(revision->objectID());
            else if (!failure.isNull())
                break;
        }
        if (!failure.isNull()) {
            tdwLog(predicateFailure(predicate).arg(failure.description()));
            tdwSetError(error, failure);
            return std::nullopt;
        }
    }
    return matching;
}

std::optional<QHash<qint64, qint64>> TDWDocRev::countsByExportStatus(const TDWPredicate &predicate, const TDWPersistentStorePtr &store,
                                                                     TDWManagedObjectContext &moc, TDWError *error)
{
    if (!store) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::StoreNotFound, QStringLiteral("No store given")));
        return std::nullopt;
    }
    const TDWEntityDescription *entity = moc.model().entity(EntityName);
    const TDWStoreSqlSchema schema(moc.model(), store->identifier());
    TDWSqlFragment condition;
    if (!predicate.toSql(schema, EntityName, QStringLiteral("t"), &condition, error))
        return std::nullopt;
    const QString status = QStringLiteral("t.\"%1\"").arg(schema.attribute(EntityName, QStringLiteral("exportStatus"))->column);
    const QString sql = QStringLiteral("SELECT %1, count(%1) FROM %2 AS t WHERE (%3) AND %1 IS NOT NULL GROUP BY %1")
                            .arg(status, TDWStoreSchema::tableName(*entity), condition.sql);
    QHash<qint64, qint64> counts;
    const bool counted = moc.executeSql(store, sql, condition.bindings,
                                        [&](const TDWSqliteStatement &row) {
                                            counts.insert(row.int64At(0), row.int64At(1));
                                            return true;
                                        },
                                        error);
    if (!counted)
        return std::nullopt;
    return counts;
}

qint64 TDWDocRev::countWithPredicate(const TDWPredicate &predicate, const QList<TDWPersistentStorePtr> &stores, TDWManagedObjectContext &moc,
                                     TDWError *error)
{
    TDWError failure;
    const qint64 count = TDWEntityFetch(moc, EntityName).where(predicate).in(stores).count(&failure);
    if (count == TDWManagedObjectContext::NotFound) {
        // The marker is a huge number: a caller that took it for a count would page forever.
        tdwLog(QStringLiteral("ERROR: DocRev countWithPredicate:... failed: %1 -- predicate: ").arg(failure.description())
               + predicate.predicateFormat());
        tdwSetError(error, failure);
    }
    return count;
}

std::optional<QList<TDWDocRev::Ptr>> TDWDocRev::withPredicate(const TDWPredicate &predicate, const QList<TDWSortDescriptor> &sortDescriptors,
                                                              const QList<TDWPersistentStorePtr> &stores, quint64 fetchLimit,
                                                              quint64 fetchOffset, TDWManagedObjectContext &moc, TDWError *error)
{
    return revisions(TDWEntityFetch(moc, EntityName)
                         .where(predicate)
                         .in(stores)
                         .sortedBy(sortDescriptors)
                         .limit(requestLimit(fetchLimit))
                         .offset(requestLimit(fetchOffset))
                         .prefetching({QStringLiteral("doc")}),
                     predicateFailure(predicate), error);
}

std::optional<QList<TDWDocRev::Ptr>> TDWDocRev::latestNotDeletedInGroup(const std::shared_ptr<TDWDoc> &group, const QDateTime &snapshotDate,
                                                                        TDWManagedObjectContext &moc, TDWError *error)
{
    const QString failure = QStringLiteral("ERROR: DocRev latestNotDeletedInGroup:... failed: %1");
    if (!group)
        return QList<Ptr>();
    const QVariant container = TDWEntityFetch::argument(group);
    TDWEntityFetch fetch(moc, EntityName);
    if (snapshotDate.isValid())
        fetch.where(QStringLiteral("doc.accountUsername = %@ and doc.service = %@ and ") + ValidAtSnapshot
                        + QStringLiteral(" and subquery(doc.parentDocs, $x, $x.parentDoc = %@ and ") + LinkValidAtSnapshot
                        + QStringLiteral(").@count != 0"),
                    {group->accountUsername(), group->service(), snapshotDate, snapshotDate, container, snapshotDate, snapshotDate});
    else
        fetch.where(QStringLiteral("doc.accountUsername = %@ and doc.service = %@ and latest = 1 and doc.deleted = 0 and "
                                   "subquery(doc.parentDocs, $x, $x.assocCurrent = 1 and $x.parentDoc = %@).@count != 0"),
                    {group->accountUsername(), group->service(), container});
    return revisions(fetch.inStoreOf(group), failure, error);
}

std::optional<QList<TDWDocRev::Ptr>> TDWDocRev::allWithBackupComplete(TDWManagedObjectContext &moc, TDWError *error)
{
    return revisions(TDWEntityFetch(moc, EntityName).where(QStringLiteral("exportStatus = %@"), {qlonglong(BackedUp)}),
                     QStringLiteral("ERROR: DocRev allWithBackupComplete:... failed: %1"), error);
}

TDWDocRev::Ptr TDWDocRev::withHighestCurrentAllMailMessageSequenceByStore(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc,
                                                                          TDWError *error)
{
    return firstOf(revisions(TDWEntityFetch(moc, EntityName)
                                 .where(QStringLiteral("doc.deleted = 0 and latest = 1"))
                                 .in(store)
                                 .sortedBy({TDWSortDescriptor(QStringLiteral("doc.allMailSeq"), false)})
                                 .limit(1),
                             QStringLiteral("ERROR: highestCurrentAllMailMessageSequenceByAccountUsername failed -- %1"), error));
}

std::optional<QList<TDWDocRev::Ptr>> TDWDocRev::userContactGroupsForStore(const TDWPersistentStorePtr &store, const QDateTime &snapshotDate,
                                                                          TDWManagedObjectContext &moc, TDWError *error)
{
    // The contacts system group "base/6" of any account is not one of the user's groups.
    const QString systemGroup = QStringLiteral("http://%1/m8/feeds/groups/*/base/6").arg(GoogleWebHost);
    TDWEntityFetch fetch(moc, EntityName);
    if (snapshotDate.isValid())
        fetch.where(QStringLiteral("doc.docType = %@ and NOT(doc.docId like %@) and ") + ValidAtSnapshot,
                    {QStringLiteral("group"), systemGroup, snapshotDate, snapshotDate});
    else
        fetch.where(QStringLiteral("doc.docType = %@ and NOT(doc.docId like %@) and doc.deleted = 0 and latest = 1"),
                    {QStringLiteral("group"), systemGroup});
    return revisions(fetch.in(store).sortedBy({byTitle()}), QStringLiteral("ERROR: userContactGroupsForAccount failed -- %1"), error);
}

std::optional<QList<TDWDocRev::Ptr>> TDWDocRev::topLevelDocsCollectionsByStore(const TDWPersistentStorePtr &store,
                                                                               const QDateTime &snapshotDate, TDWManagedObjectContext &moc,
                                                                               TDWError *error)
{
    TDWEntityFetch fetch(moc, EntityName);
    if (snapshotDate.isValid())
        fetch.where(QStringLiteral("doc.docType = %@ and ") + ValidAtSnapshot + QStringLiteral(" and subquery(doc.parentDocs, $x, ")
                        + LinkValidAtSnapshot + QStringLiteral(").@count = 0"),
                    {QStringLiteral("folder"), snapshotDate, snapshotDate, snapshotDate, snapshotDate});
    else
        fetch.where(QStringLiteral("doc.docType = %@ and doc.deleted = 0 and latest = 1 and "
                                   "subquery(doc.parentDocs, $x, $x.assocCurrent = 1).@count = 0"),
                    {QStringLiteral("folder")});
    return revisions(fetch.in(store).sortedBy({byTitle()}),
                     QStringLiteral("ERROR: currentTopLevelDocsCollectionsForAccount failed -- %1"), error);
}

std::optional<QList<TDWDocRev::Ptr>> TDWDocRev::topLevelItemsByStore(const TDWPersistentStorePtr &store, const QDateTime &snapshotDate,
                                                                     TDWManagedObjectContext &moc, TDWError *error)
{
    TDWEntityFetch fetch(moc, EntityName);
    if (snapshotDate.isValid())
        fetch.where(ValidAtSnapshot + QStringLiteral(" and subquery(doc.parentDocs, $x, ") + LinkValidAtSnapshot + QStringLiteral(").@count = 0"),
                    {snapshotDate, snapshotDate, snapshotDate, snapshotDate});
    else
        fetch.where(QStringLiteral("doc.deleted = 0 and latest = 1 and subquery(doc.parentDocs, $x, $x.assocCurrent = 1).@count = 0"));
    return revisions(fetch.in(store).sortedBy({byTitle()}), QStringLiteral("ERROR: topLevelItemsByStore failed -- %1"), error);
}

std::optional<QList<TDWDocRev::Ptr>> TDWDocRev::byDocType(const QString &docType, const TDWPersistentStorePtr &store,
                                                          const QDateTime &snapshotDate, TDWManagedObjectContext &moc, TDWError *error)
{
    TDWEntityFetch fetch(moc, EntityName);
    if (snapshotDate.isValid())
        fetch.where(QStringLiteral("doc.docType = %@ and ") + ValidAtSnapshot, {docType, snapshotDate, snapshotDate});
    else
        fetch.where(QStringLiteral("doc.docType = %@ and doc.deleted = 0 and latest = 1"), {docType});
    return revisions(fetch.in(store).sortedBy({byTitle()}), QStringLiteral("ERROR: byDocType failed -- %1"), error);
}

bool TDWDocRev::atLeastOneWithBackupComplete(TDWManagedObjectContext &moc)
{
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    const auto stores = storeMgr ? storeMgr->allAccountServiceStores() : std::nullopt;
    for (const TDWPersistentStorePtr &store : stores.value_or(QList<TDWPersistentStorePtr>())) {
        TDWError error;
        const qint64 count = TDWEntityFetch(moc, EntityName).where(QStringLiteral("exportStatus = %ld"), {qlonglong(BackedUp)}).in(store).count(&error);
        if (count == TDWManagedObjectContext::NotFound) {
            tdwLog(QStringLiteral("ERROR: Unable to determine whether there is at least one backup complete: %1").arg(error.description()));
            continue;
        }
        if (count >= 1)
            return true;
    }
    return false;
}
