#pragma once

#include "dataobjects/TDWMetadataObject.h"
#include "platform/foundation/TDWError.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class TDWDocParent;
class TDWDocRev;
class TDWMailItem;

// One backed-up item of one account and service (a Drive file or folder, a
// contact or group, a calendar, a Reader item, a photo or album, a message or
// label). Its changing content lives in its revisions; it holds what identifies
// it. Lives in its account-and-service store, naming the account and service by value.
class TDWDoc : public TDWMetadataObject
{
public:
    using Ptr = std::shared_ptr<TDWDoc>;

    QString service() const { return stringValue(QStringLiteral("service")); }
    void setService(const QString &service) { setValue(QStringLiteral("service"), service); }
    QString accountUsername() const { return stringValue(QStringLiteral("accountUsername")); }
    void setAccountUsername(const QString &username) { setValue(QStringLiteral("accountUsername"), username); }
    QString docId() const { return stringValue(QStringLiteral("docId")); }
    void setDocId(const QString &docId) { setValue(QStringLiteral("docId"), docId); }
    QString docType() const { return stringValue(QStringLiteral("docType")); }
    void setDocType(const QString &docType) { setValue(QStringLiteral("docType"), docType); }
    QString docTypeLabel() const { return stringValue(QStringLiteral("docTypeLabel")); }
    void setDocTypeLabel(const QString &label) { setValue(QStringLiteral("docTypeLabel"), label); }
    QString dirPath() const { return stringValue(QStringLiteral("dirPath")); }
    void setDirPath(const QString &path) { setValue(QStringLiteral("dirPath"), path); }
    bool includeInStatus() const { return boolValue(QStringLiteral("includeInStatus")); }
    void setIncludeInStatus(bool include) { setValue(QStringLiteral("includeInStatus"), include); }
    bool deleted() const { return boolValue(QStringLiteral("deleted")); }
    void setDeleted(bool deleted) { setValue(QStringLiteral("deleted"), deleted); }
    QDateTime deletedDate() const { return dateValue(QStringLiteral("deletedDate")); }
    void setDeletedDate(const QDateTime &date) { setValue(QStringLiteral("deletedDate"), date); }
    QString messageHash() const { return stringValue(QStringLiteral("messageHash")); }
    void setMessageHash(const QString &hash) { setValue(QStringLiteral("messageHash"), hash); }
    // "<UID validity>-<UID>" in decimal.
    QString allMailUid() const { return stringValue(QStringLiteral("allMailUid")); }
    void setAllMailUid(const QString &uid) { setValue(QStringLiteral("allMailUid"), uid); }
    qint64 allMailSeq() const { return integerValue(QStringLiteral("allMailSeq")); }
    void setAllMailSeq(qint64 sequence) { setValue(QStringLiteral("allMailSeq"), sequence); }
    qint64 allMailSeqGroup() const { return integerValue(QStringLiteral("allMailSeqGroup")); }
    void setAllMailSeqGroup(qint64 group) { setValue(QStringLiteral("allMailSeqGroup"), group); }
    bool isUnlabeledMessage() const { return boolValue(QStringLiteral("isUnlabeledMessage")); }
    void setIsUnlabeledMessage(bool unlabeled) { setValue(QStringLiteral("isUnlabeledMessage"), unlabeled); }
    QString gmailMessageId() const { return stringValue(QStringLiteral("gmailMessageId")); }
    void setGmailMessageId(const QString &id) { setValue(QStringLiteral("gmailMessageId"), id); }
    QString gmailThreadId() const { return stringValue(QStringLiteral("gmailThreadId")); }
    void setGmailThreadId(const QString &id) { setValue(QStringLiteral("gmailThreadId"), id); }
    QString databaseFilePath() const { return stringValue(QStringLiteral("databaseFilePath")); }
    void setDatabaseFilePath(const QString &path) { setValue(QStringLiteral("databaseFilePath"), path); }
    QDateTime databaseLastUpdatedTime() const { return dateValue(QStringLiteral("databaseLastUpdatedTime")); }
    void setDatabaseLastUpdatedTime(const QDateTime &time) { setValue(QStringLiteral("databaseLastUpdatedTime"), time); }

    QList<std::shared_ptr<TDWDocRev>> docRevs() const;
    QList<std::shared_ptr<TDWMailItem>> mailItems() const;
    // Links in which this item is the child, and in which it is the container.
    QList<std::shared_ptr<TDWDocParent>> parentDocs() const;
    QList<std::shared_ptr<TDWDocParent>> childDocs() const;

    // Whether the service table marks the item's type as a container ("isGrouping");
    // NO for a type it lacks.
    bool isGrouping() const;
    static bool isGroupingType(const QString &docType);

    static Ptr newWithMoc(TDWManagedObjectContext &moc, const TDWPersistentStorePtr &store);
    // docId -> item; of two items with one docId the later in fetch order wins.
    static std::optional<QHash<QString, Ptr>> byDocIds(const QStringList &docIds, const TDWPersistentStorePtr &store,
                                                       TDWManagedObjectContext &moc, TDWError *error);
    // The first match, also among the context's unsaved items; a duplicate is logged.
    static Ptr byDocId(const QString &docId, const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc, TDWError *error);
    static std::optional<QList<Ptr>> byDocTypesNotIn(const QStringList &docTypes, const TDWPersistentStorePtr &store,
                                                     TDWManagedObjectContext &moc, TDWError *error);
    static std::optional<QList<Ptr>> allByStore(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc, TDWError *error);
    // The lower-cased item folder names in use in the store (groupings have
    // none), read row by row: an account may hold a hundred thousand items.
    static std::optional<QSet<QString>> folderNamesInUse(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc, TDWError *error);
    // Every folder the store's items and revisions name (their dirPath, as
    // stored), deleted and obsolete ones included.
    static std::optional<QSet<QString>> folderPathsInUse(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc, TDWError *error);
    // TDWManagedObjectContext::NotFound on failure.
    static qint64 countByStore(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc, TDWError *error);
    static std::optional<QList<Ptr>> byGmailMessageIds(const QStringList &gmailMessageIds, const TDWPersistentStorePtr &store,
                                                       TDWManagedObjectContext &moc, TDWError *error);
    // The one live message at that All Mail sequence number; null for none or several (logged).
    static Ptr byAllMailMessageSequence(qint32 sequence, const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc, TDWError *error);
};
