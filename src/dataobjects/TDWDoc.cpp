#include "dataobjects/TDWDoc.h"

#include "common/TDWServiceTable.h"
#include "dataobjects/TDWDocParent.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMailItem.h"
#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWEntityDescription.h"
#include "platform/store/TDWManagedObjectModel.h"
#include "platform/store/TDWSqliteStatement.h"
#include "platform/store/TDWStoreError.h"
#include "platform/store/TDWStoreSchema.h"
#include "platform/store/TDWStoreSqlSchema.h"

#include <QFileInfo>

#include <QSet>

namespace {

const QString EntityName = QStringLiteral("Doc");

} // namespace

QList<std::shared_ptr<TDWDocRev>> TDWDoc::docRevs() const
{
    return TDWEntityFetch::cast<TDWDocRev>(objectsValue(QStringLiteral("docRevs")));
}

QList<std::shared_ptr<TDWMailItem>> TDWDoc::mailItems() const
{
    return TDWEntityFetch::cast<TDWMailItem>(objectsValue(QStringLiteral("mailItems")));
}

QList<std::shared_ptr<TDWDocParent>> TDWDoc::parentDocs() const
{
    return TDWEntityFetch::cast<TDWDocParent>(objectsValue(QStringLiteral("parentDocs")));
}

QList<std::shared_ptr<TDWDocParent>> TDWDoc::childDocs() const
{
    return TDWEntityFetch::cast<TDWDocParent>(objectsValue(QStringLiteral("childDocs")));
}

bool TDWDoc::isGrouping() const
{
    return isGroupingType(docType());
}

bool TDWDoc::isGroupingType(const QString &docType)
{
    return TDWServiceTable::shared().docTypeConfig(docType).value(QStringLiteral("isGrouping")).toBool();
}

TDWDoc::Ptr TDWDoc::newWithMoc(TDWManagedObjectContext &moc, const TDWPersistentStorePtr &store)
{
    return insertIntoStore<TDWDoc>(moc, EntityName, store);
}

std::optional<QHash<QString, TDWDoc::Ptr>> TDWDoc::byDocIds(const QStringList &docIds, const TDWPersistentStorePtr &store,
                                                            TDWManagedObjectContext &moc, TDWError *error)
{
    TDWError failure;
    const auto found = TDWEntityFetch(moc, EntityName).where(QStringLiteral("docId in %@"), {docIds}).in(store).objects<TDWDoc>(&failure);
    if (!found) {
        if (!error)
            tdwLog(QStringLiteral("ERROR: [Doc byDocId...] -- NSError error: %1").arg(failure.localizedDescription()));
        tdwSetError(error, failure);
        return std::nullopt;
    }
    QHash<QString, Ptr> byId;
    for (const Ptr &doc : *found)
        byId.insert(doc->docId(), doc);
    return byId;
}

std::optional<QSet<QString>> TDWDoc::folderNamesInUse(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc, TDWError *error)
{
    if (!store) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::StoreNotFound, QStringLiteral("No store given")));
        return std::nullopt;
    }
    const TDWStoreSqlSchema schema(moc.model(), store->identifier());
    const QString sql = QStringLiteral("SELECT \"%1\", \"%2\" FROM %3")
                            .arg(schema.attribute(EntityName, QStringLiteral("docType"))->column,
                                 schema.attribute(EntityName, QStringLiteral("dirPath"))->column,
                                 TDWStoreSchema::tableName(*moc.model().entity(EntityName)));
    QHash<QString, bool> grouping;
    QSet<QString> names;
    const bool read = moc.executeSql(store, sql, {},
                                     [&](const TDWSqliteStatement &row) {
                                         const QString dirPath = row.textAt(1);
                                         if (dirPath.isEmpty())
                                             return true;
                                         const QString docType = row.textAt(0);
                                         auto known = grouping.constFind(docType);
                                         if (known == grouping.constEnd())
                                             known = grouping.insert(docType, isGroupingType(docType));
                                         if (!*known)
                                             names.insert(QFileInfo(dirPath).fileName().toLower());
                                         return true;
                                     },
                                     error);
    if (!read)
        return std::nullopt;
    return names;
}

std::optional<QSet<QString>> TDWDoc::folderPathsInUse(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc, TDWError *error)
{
    if (!store) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::StoreNotFound, QStringLiteral("No store given")));
        return std::nullopt;
    }
    const TDWStoreSqlSchema schema(moc.model(), store->identifier());
    QSet<QString> paths;
    for (const QString &entity : {EntityName, QStringLiteral("DocRev")}) {
        const QString sql = QStringLiteral("SELECT \"%1\" FROM %2")
                                .arg(schema.attribute(entity, QStringLiteral("dirPath"))->column, TDWStoreSchema::tableName(*moc.model().entity(entity)));
        const bool read = moc.executeSql(store, sql, {},
                                         [&](const TDWSqliteStatement &row) {
                                             if (const QString dirPath = row.textAt(0); !dirPath.isEmpty())
                                                 paths.insert(dirPath);
                                             return true;
                                         },
                                         error);
        if (!read)
            return std::nullopt;
    }
    return paths;
}

TDWDoc::Ptr TDWDoc::byDocId(const QString &docId, const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc, TDWError *error)
{
    TDWError failure;
    const auto found = TDWEntityFetch(moc, EntityName).where(QStringLiteral("docId = %@"), {docId}).in(store).objects<TDWDoc>(&failure);
    if (!found) {
        if (!error)
            tdwLog(QStringLiteral("ERROR: [Doc byDocId...] -- NSError error: %1").arg(failure.localizedDescription()));
        tdwSetError(error, failure);
        return nullptr;
    }
    if (found->size() > 1)
        tdwLog(QStringLiteral("ERROR: Multiple document results for ID %1").arg(docId));
    return found->isEmpty() ? nullptr : found->first();
}

std::optional<QList<TDWDoc::Ptr>> TDWDoc::byDocTypesNotIn(const QStringList &docTypes, const TDWPersistentStorePtr &store,
                                                          TDWManagedObjectContext &moc, TDWError *error)
{
    TDWError failure;
    auto found = TDWEntityFetch(moc, EntityName).where(QStringLiteral("not(docType in %@)"), {docTypes}).in(store).objects<TDWDoc>(&failure);
    if (!found) {
        if (!error)
            tdwLog(QStringLiteral("ERROR: [Doc byDocTypesNotIn...] -- NSError error: %1").arg(failure.localizedDescription()));
        tdwSetError(error, failure);
    }
    return found;
}

std::optional<QList<TDWDoc::Ptr>> TDWDoc::allByStore(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc, TDWError *error)
{
    TDWError failure;
    auto found = TDWEntityFetch(moc, EntityName).in(store).objects<TDWDoc>(&failure);
    if (!found) {
        if (!error)
            tdwLog(QStringLiteral("ERROR: [Doc allByStore...] -- NSError error: %1").arg(failure.localizedDescription()));
        tdwSetError(error, failure);
    }
    return found;
}

qint64 TDWDoc::countByStore(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc, TDWError *error)
{
    TDWError failure;
    const qint64 count = TDWEntityFetch(moc, EntityName).in(store).count(&failure);
    if (count == TDWManagedObjectContext::NotFound) {
        if (!error)
            tdwLog(QStringLiteral("ERROR: Doc countByStore failed with error: %1").arg(failure.localizedDescription()));
        tdwSetError(error, failure);
    }
    return count;
}

std::optional<QList<TDWDoc::Ptr>> TDWDoc::byGmailMessageIds(const QStringList &gmailMessageIds, const TDWPersistentStorePtr &store,
                                                            TDWManagedObjectContext &moc, TDWError *error)
{
    const QStringList distinct(QSet<QString>(gmailMessageIds.begin(), gmailMessageIds.end()).values());
    TDWError failure;
    auto found = TDWEntityFetch(moc, EntityName).where(QStringLiteral("gmailMessageId in %@"), {distinct}).in(store).objects<TDWDoc>(&failure);
    if (!found) {
        if (!error)
            tdwLog(QStringLiteral("ERROR: Unable to retrieve messages by hashes in byGmailMessageIds: %1").arg(failure.description()));
        tdwSetError(error, failure);
    }
    return found;
}

TDWDoc::Ptr TDWDoc::byAllMailMessageSequence(qint32 sequence, const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc,
                                             TDWError *error)
{
    TDWError failure;
    const auto found = TDWEntityFetch(moc, EntityName)
                           .where(QStringLiteral("allMailSeq = %@ and deleted = 0"), {sequence})
                           .in(store)
                           .objects<TDWDoc>(&failure);
    if (!found) {
        if (!error)
            tdwLog(QStringLiteral("ERROR: byAllMailMessageSequence failed -- %1").arg(failure.description()));
        tdwSetError(error, failure);
        return nullptr;
    }
    if (found->size() > 1) {
        tdwLog(QStringLiteral("ERROR: multiple results in byAllMailMessageSequence"));
        return nullptr;
    }
    return found->isEmpty() ? nullptr : found->first();
}
