#pragma once

#include "dataobjects/TDWMetadataObject.h"
#include "platform/foundation/TDWError.h"
#include "platform/predicate/TDWPredicate.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "platform/store/TDWSortDescriptor.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariantList>

#include <limits>
#include <memory>
#include <optional>

class TDWBackupIteration;
class TDWDoc;

// One version of an item as a listing saw it: its metadata, where its file
// lies, how far its download has come, and the dates it was valid. The newest
// revision of an item has `latest` set; a revision belongs to snapshot S when
// firstSeenDate <= S and (no obsoletedDate or obsoletedDate > S).
class TDWDocRev : public TDWMetadataObject
{
public:
    using Ptr = std::shared_ptr<TDWDocRev>;

    enum ExportStatus : qint64 {
        NothingToDownload = 0,
        DownloadPending = 1,
        DownloadFailed = 2,
        BackedUp = 3,
        FileMissing = 4,
        ExcludedByRule = 5,
    };
    // A limit with every bit set means none.
    static constexpr quint64 NoLimit = std::numeric_limits<quint64>::max();
    // Google's contact group ids name this host whichever server sent them.
    static inline const QString GoogleWebHost = QStringLiteral("www.google.com");

    std::shared_ptr<TDWDoc> doc() const;
    void setDoc(const std::shared_ptr<TDWDoc> &doc);
    QString etag() const { return stringValue(QStringLiteral("etag")); }
    void setEtag(const QString &etag) { setValue(QStringLiteral("etag"), etag); }
    QString dirPath() const { return stringValue(QStringLiteral("dirPath")); }
    void setDirPath(const QString &path) { setValue(QStringLiteral("dirPath"), path); }
    QString filePath() const { return stringValue(QStringLiteral("filePath")); }
    void setFilePath(const QString &path) { setValue(QStringLiteral("filePath"), path); }
    QString contentUrl() const { return stringValue(QStringLiteral("contentUrl")); }
    void setContentUrl(const QString &url) { setValue(QStringLiteral("contentUrl"), url); }
    QDateTime contentUrlDate() const { return dateValue(QStringLiteral("contentUrlDate")); }
    void setContentUrlDate(const QDateTime &date) { setValue(QStringLiteral("contentUrlDate"), date); }
    qint64 exportStatus() const { return integerValue(QStringLiteral("exportStatus")); }
    void setExportStatus(qint64 status) { setValue(QStringLiteral("exportStatus"), status); }
    QString exportType() const { return stringValue(QStringLiteral("exportType")); }
    void setExportType(const QString &type) { setValue(QStringLiteral("exportType"), type); }
    QDateTime lastExportAttemptDate() const { return dateValue(QStringLiteral("lastExportAttemptDate")); }
    void setLastExportAttemptDate(const QDateTime &date) { setValue(QStringLiteral("lastExportAttemptDate"), date); }
    QString lastExportFailureError() const { return stringValue(QStringLiteral("lastExportFailureError")); }
    void setLastExportFailureError(const QString &text) { setValue(QStringLiteral("lastExportFailureError"), text); }
    QString title() const { return stringValue(QStringLiteral("title")); }
    void setTitle(const QString &title) { setValue(QStringLiteral("title"), title); }
    QString sortTitle() const { return stringValue(QStringLiteral("sortTitle")); }
    void setSortTitle(const QString &title) { setValue(QStringLiteral("sortTitle"), title); }
    bool starred() const { return boolValue(QStringLiteral("starred")); }
    void setStarred(bool flag) { setValue(QStringLiteral("starred"), flag); }
    bool hidden() const { return boolValue(QStringLiteral("hidden")); }
    void setHidden(bool flag) { setValue(QStringLiteral("hidden"), flag); }
    bool shared() const { return boolValue(QStringLiteral("shared")); }
    void setShared(bool flag) { setValue(QStringLiteral("shared"), flag); }
    bool liked() const { return boolValue(QStringLiteral("liked")); }
    void setLiked(bool flag) { setValue(QStringLiteral("liked"), flag); }
    bool viewedByMe() const { return boolValue(QStringLiteral("viewedByMe")); }
    void setViewedByMe(bool flag) { setValue(QStringLiteral("viewedByMe"), flag); }
    bool isUnread() const { return boolValue(QStringLiteral("isUnread")); }
    void setIsUnread(bool flag) { setValue(QStringLiteral("isUnread"), flag); }
    QString ownerName() const { return stringValue(QStringLiteral("ownerName")); }
    void setOwnerName(const QString &name) { setValue(QStringLiteral("ownerName"), name); }
    QString ownerEmail() const { return stringValue(QStringLiteral("ownerEmail")); }
    void setOwnerEmail(const QString &email) { setValue(QStringLiteral("ownerEmail"), email); }
    QString lastModifiedName() const { return stringValue(QStringLiteral("lastModifiedName")); }
    void setLastModifiedName(const QString &name) { setValue(QStringLiteral("lastModifiedName"), name); }
    QString lastModifiedEmail() const { return stringValue(QStringLiteral("lastModifiedEmail")); }
    void setLastModifiedEmail(const QString &email) { setValue(QStringLiteral("lastModifiedEmail"), email); }
    QDateTime lastModifiedDate() const { return dateValue(QStringLiteral("lastModifiedDate")); }
    void setLastModifiedDate(const QDateTime &date) { setValue(QStringLiteral("lastModifiedDate"), date); }
    QDateTime publishDate() const { return dateValue(QStringLiteral("publishDate")); }
    void setPublishDate(const QDateTime &date) { setValue(QStringLiteral("publishDate"), date); }
    QDateTime firstSeenDate() const { return dateValue(QStringLiteral("firstSeenDate")); }
    void setFirstSeenDate(const QDateTime &date) { setValue(QStringLiteral("firstSeenDate"), date); }
    QDateTime lastSeenDate() const { return dateValue(QStringLiteral("lastSeenDate")); }
    void setLastSeenDate(const QDateTime &date) { setValue(QStringLiteral("lastSeenDate"), date); }
    QDateTime obsoletedDate() const { return dateValue(QStringLiteral("obsoletedDate")); }
    void setObsoletedDate(const QDateTime &date) { setValue(QStringLiteral("obsoletedDate"), date); }
    bool latest() const { return boolValue(QStringLiteral("latest")); }
    void setLatest(bool latest) { setValue(QStringLiteral("latest"), latest); }
    QString xmlString() const { return stringValue(QStringLiteral("xmlString")); }
    void setXmlString(const QString &xml) { setValue(QStringLiteral("xmlString"), xml); }
    QString photoEtag() const { return stringValue(QStringLiteral("photoEtag")); }
    void setPhotoEtag(const QString &etag) { setValue(QStringLiteral("photoEtag"), etag); }
    QString to() const { return stringValue(QStringLiteral("to")); }
    void setTo(const QString &to) { setValue(QStringLiteral("to"), to); }
    QString from() const { return stringValue(QStringLiteral("from")); }
    void setFrom(const QString &from) { setValue(QStringLiteral("from"), from); }
    QString cc() const { return stringValue(QStringLiteral("cc")); }
    void setCc(const QString &cc) { setValue(QStringLiteral("cc"), cc); }
    QString who() const { return stringValue(QStringLiteral("who")); }
    void setWho(const QString &who) { setValue(QStringLiteral("who"), who); }
    QString content() const { return stringValue(QStringLiteral("content")); }
    void setContent(const QString &content) { setValue(QStringLiteral("content"), content); }
    QString summary() const { return stringValue(QStringLiteral("summary")); }
    void setSummary(const QString &summary) { setValue(QStringLiteral("summary"), summary); }
    QString location() const { return stringValue(QStringLiteral("location")); }
    void setLocation(const QString &location) { setValue(QStringLiteral("location"), location); }
    QString timeZone() const { return stringValue(QStringLiteral("timeZone")); }
    void setTimeZone(const QString &zone) { setValue(QStringLiteral("timeZone"), zone); }
    QString accessRole() const { return stringValue(QStringLiteral("accessRole")); }
    void setAccessRole(const QString &role) { setValue(QStringLiteral("accessRole"), role); }
    // Null when the listing gave none.
    QVariant messageFlags() const { return value(QStringLiteral("messageFlags")); }
    void setMessageFlags(const QVariant &flags) { setValue(QStringLiteral("messageFlags"), flags); }

    // A calendar's default reminders (dictionaries with "method" and "minutes"),
    // kept as the extensible value "defaultRemindersValue"; null when none.
    QVariant defaultReminders() const;
    void setDefaultReminders(const QVariant &reminders);
    bool usesExtensiblePropertiesForUndefinedKey(const QString &key) const override;

    static Ptr newWithMoc(TDWManagedObjectContext &moc, const TDWPersistentStorePtr &store);

    // The download queue: identifiers of the latest revisions of live items that
    // are pending, failed or missing; mail newest message first, else missing
    // before failed before pending, newest change first.
    static std::optional<QList<TDWManagedObjectID>> idsNeedingRetrievalByService(const QString &service, const TDWPersistentStorePtr &store,
                                                                                 quint64 maxResults, TDWManagedObjectContext &moc,
                                                                                 TDWError *error);
    // The same, leaving out the revisions the listing of that date saw.
    static std::optional<QList<TDWManagedObjectID>> idsNeedingRetrievalByService(const QString &service, const QDateTime &lastSeenBefore,
                                                                                 const TDWPersistentStorePtr &store, quint64 maxResults,
                                                                                 TDWManagedObjectContext &moc, TDWError *error);
    // Which backed-up file stands for a revision: itself when backed up, else the
    // nearest older backed-up revision of its item, else the nearest newer one.
    static Ptr bestRetrievalCandidateForDocRevId(const TDWManagedObjectID &docRevId, TDWManagedObjectContext &moc, TDWError *error);
    // With a date, the item's newest revision first seen at or before it; without,
    // the one marked latest.
    static Ptr latestForDoc(const std::shared_ptr<TDWDoc> &doc, const QDateTime &snapshotDate, TDWManagedObjectContext &moc, TDWError *error);
    // The revision marked latest of each of the items (all of one store), by
    // item: one fetch for a batch where latestForDoc makes one per item. An
    // item with none has no entry.
    static std::optional<QHash<TDWManagedObjectID, Ptr>> latestForDocs(const QList<std::shared_ptr<TDWDoc>> &docs, const TDWPersistentStorePtr &store,
                                                                       TDWManagedObjectContext &moc, TDWError *error);
    // The item's closed revisions obsoleted before the date.
    static std::optional<QList<Ptr>> forDoc(const std::shared_ptr<TDWDoc> &doc, const QDateTime &olderThan, TDWManagedObjectContext &moc,
                                            TDWError *error);
    static std::optional<QList<Ptr>> olderThan(const QDateTime &date, const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc,
                                               TDWError *error);
    // Live latest revisions that this iteration's listing did not see.
    static std::optional<QList<Ptr>> latestNotDeletedByStore(const TDWPersistentStorePtr &store,
                                                             const std::shared_ptr<TDWBackupIteration> &withBackupIterationOtherThan,
                                                             TDWManagedObjectContext &moc, TDWError *error);
    static std::optional<QList<Ptr>> withPredicate(const TDWPredicate &predicate, const QList<TDWPersistentStorePtr> &stores,
                                                   TDWManagedObjectContext &moc, TDWError *error);
    static std::optional<QList<TDWManagedObjectID>> idsWithPredicate(const TDWPredicate &predicate, const TDWPersistentStorePtr &store,
                                                                     TDWManagedObjectContext &moc, TDWError *error);
    // As idsWithPredicate, for predicates the user wrote: the terms of a top-level
    // AND that have no SQL form in the store (nested too deeply, a key without a
    // column) are evaluated in memory on the revisions the other terms select, a
    // batch at a time, so only identifiers are held. Failures are logged.
    static std::optional<QList<TDWManagedObjectID>> idsWithRulePredicate(const TDWPredicate &predicate, const TDWPersistentStorePtr &store,
                                                                         TDWManagedObjectContext &moc, TDWError *error);
    // How many of the store's revisions that match fall on each export status, in
    // one grouped query (no revisions are loaded); statuses no revision has are
    // absent. Only saved rows are counted.
    static std::optional<QHash<qint64, qint64>> countsByExportStatus(const TDWPredicate &predicate, const TDWPersistentStorePtr &store,
                                                                     TDWManagedObjectContext &moc, TDWError *error);
    // How many the download queue holds in the store, whatever its order; not
    // logged: TDWManagedObjectContext::NotFound with the error on failure.
    static qint64 countNeedingRetrievalByStore(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc, TDWError *error);
    // TDWManagedObjectContext::NotFound on failure.
    static qint64 countWithPredicate(const TDWPredicate &predicate, const QList<TDWPersistentStorePtr> &stores, TDWManagedObjectContext &moc,
                                     TDWError *error);
    // One page; a limit of 0 or NoLimit fetches all.
    static std::optional<QList<Ptr>> withPredicate(const TDWPredicate &predicate, const QList<TDWSortDescriptor> &sortDescriptors,
                                                   const QList<TDWPersistentStorePtr> &stores, quint64 fetchLimit, quint64 fetchOffset,
                                                   TDWManagedObjectContext &moc, TDWError *error);
    // Revisions of the container's children, as they stood at the date (or now).
    static std::optional<QList<Ptr>> latestNotDeletedInGroup(const std::shared_ptr<TDWDoc> &group, const QDateTime &snapshotDate,
                                                             TDWManagedObjectContext &moc, TDWError *error);
    static std::optional<QList<Ptr>> allWithBackupComplete(TDWManagedObjectContext &moc, TDWError *error);
    static Ptr withHighestCurrentAllMailMessageSequenceByStore(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc,
                                                               TDWError *error);
    // The snapshot views (the current state without a date), sorted by title case-insensitively.
    static std::optional<QList<Ptr>> userContactGroupsForStore(const TDWPersistentStorePtr &store, const QDateTime &snapshotDate,
                                                               TDWManagedObjectContext &moc, TDWError *error);
    static std::optional<QList<Ptr>> topLevelDocsCollectionsByStore(const TDWPersistentStorePtr &store, const QDateTime &snapshotDate,
                                                                    TDWManagedObjectContext &moc, TDWError *error);
    static std::optional<QList<Ptr>> topLevelItemsByStore(const TDWPersistentStorePtr &store, const QDateTime &snapshotDate,
                                                          TDWManagedObjectContext &moc, TDWError *error);
    static std::optional<QList<Ptr>> byDocType(const QString &docType, const TDWPersistentStorePtr &store, const QDateTime &snapshotDate,
                                               TDWManagedObjectContext &moc, TDWError *error);
    // Whether some account-and-service store holds a backed-up revision. A
    // failed count is logged and proves nothing; the walk goes on to the next store.
    static bool atLeastOneWithBackupComplete(TDWManagedObjectContext &moc);
};
