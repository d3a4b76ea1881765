#pragma once

#include "dataobjects/TDWMetadataObject.h"
#include "platform/foundation/TDWError.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

class TDWDoc;
class TDWMailFolder;

// The membership of one message item in one mail folder over time. Lives in
// the account's "mail" store.
class TDWMailItem : public TDWMetadataObject
{
public:
    using Ptr = std::shared_ptr<TDWMailItem>;

    std::shared_ptr<TDWMailFolder> mailFolder() const;
    void setMailFolder(const std::shared_ptr<TDWMailFolder> &folder);
    std::shared_ptr<TDWDoc> messageDoc() const;
    void setMessageDoc(const std::shared_ptr<TDWDoc> &doc);
    QString messageHash() const { return stringValue(QStringLiteral("messageHash")); }
    void setMessageHash(const QString &hash) { setValue(QStringLiteral("messageHash"), hash); }
    bool current() const { return boolValue(QStringLiteral("current")); }
    void setCurrent(bool current) { setValue(QStringLiteral("current"), current); }
    QDateTime firstSeenDate() const { return dateValue(QStringLiteral("firstSeenDate")); }
    void setFirstSeenDate(const QDateTime &date) { setValue(QStringLiteral("firstSeenDate"), date); }
    QDateTime obsoletedDate() const { return dateValue(QStringLiteral("obsoletedDate")); }
    void setObsoletedDate(const QDateTime &date) { setValue(QStringLiteral("obsoletedDate"), date); }
    qint64 sequenceNumber() const { return integerValue(QStringLiteral("sequenceNumber")); }
    void setSequenceNumber(qint64 sequence) { setValue(QStringLiteral("sequenceNumber"), sequence); }
    qint64 sequenceGroup() const { return integerValue(QStringLiteral("sequenceGroup")); }
    void setSequenceGroup(qint64 group) { setValue(QStringLiteral("sequenceGroup"), group); }
    QString gmailMessageId() const { return stringValue(QStringLiteral("gmailMessageId")); }
    void setGmailMessageId(const QString &id) { setValue(QStringLiteral("gmailMessageId"), id); }

    static Ptr newWithMoc(TDWManagedObjectContext &moc, const TDWPersistentStorePtr &store);
    static Ptr currentWithHighestSequenceForMailFolder(const std::shared_ptr<TDWMailFolder> &folder, TDWManagedObjectContext &moc,
                                                       TDWError *error);
    // The one current item at that sequence number; null for none or several (logged).
    static Ptr currentByMailFolder(const std::shared_ptr<TDWMailFolder> &folder, qint32 sequenceNumber, TDWManagedObjectContext &moc,
                                   TDWError *error);
    // Current items with firstSequence <= sequence < sequenceLessThan.
    static std::optional<QList<Ptr>> currentByMailFolder(const std::shared_ptr<TDWMailFolder> &folder, qint32 firstSequence,
                                                         qint32 sequenceLessThan, TDWManagedObjectContext &moc, TDWError *error);
    // Current items with a sequence number strictly above the given one.
    static std::optional<QList<Ptr>> currentByMailFolderWithSequenceHigherThan(const std::shared_ptr<TDWMailFolder> &folder, qint32 sequence,
                                                                               TDWManagedObjectContext &moc, TDWError *error);
    // Current items of current folders; TDWManagedObjectContext::NotFound on failure.
    static qint64 currentCountByStore(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc, TDWError *error);
    static std::optional<QList<Ptr>> currentByGmailMessageId(const QString &gmailMessageId, const TDWPersistentStorePtr &store,
                                                             TDWManagedObjectContext &moc, TDWError *error);
    static std::optional<QList<Ptr>> obsoletedSinceBefore(const QDateTime &date, TDWManagedObjectContext &moc);
    // A sequence group's current items, by sequence number.
    static std::optional<QList<Ptr>> currentByMailFolder(const std::shared_ptr<TDWMailFolder> &folder, qint64 sequenceGroup,
                                                         const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc);
    static Ptr currentByMailFolder(const std::shared_ptr<TDWMailFolder> &folder, const std::shared_ptr<TDWDoc> &messageDoc,
                                   const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc);
    // The folders a message is in now (the items come with their folders loaded).
    static std::optional<QList<Ptr>> currentByMessageDoc(const std::shared_ptr<TDWDoc> &messageDoc, const TDWPersistentStorePtr &store,
                                                         TDWManagedObjectContext &moc);
};
