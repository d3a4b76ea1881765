#pragma once

#include "dataobjects/TDWMetadataObject.h"
#include "platform/foundation/TDWError.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

class TDWMailItem;

// One IMAP folder of a Gmail account (a label or a system folder) as the
// folder list showed it over time. Lives in the account's "mail" store.
class TDWMailFolder : public TDWMetadataObject
{
public:
    using Ptr = std::shared_ptr<TDWMailFolder>;

    // folderType of an ordinary label, and of All Mail.
    static constexpr qint64 LabelFolderType = 1;
    static constexpr qint64 AllMailFolderType = 5;

    QString accountUsername() const { return stringValue(QStringLiteral("accountUsername")); }
    void setAccountUsername(const QString &username) { setValue(QStringLiteral("accountUsername"), username); }
    // The decoded path (the label name).
    QString folderPath() const { return stringValue(QStringLiteral("folderPath")); }
    void setFolderPath(const QString &path) { setValue(QStringLiteral("folderPath"), path); }
    // The name as the IMAP server spells it.
    QString encodedFolderPath() const { return stringValue(QStringLiteral("encodedFolderPath")); }
    void setEncodedFolderPath(const QString &path) { setValue(QStringLiteral("encodedFolderPath"), path); }
    QString messageTag() const { return stringValue(QStringLiteral("messageTag")); }
    void setMessageTag(const QString &tag) { setValue(QStringLiteral("messageTag"), tag); }
    qint64 folderType() const { return integerValue(QStringLiteral("folderType")); }
    void setFolderType(qint64 type) { setValue(QStringLiteral("folderType"), type); }
    qint64 numMessages() const { return integerValue(QStringLiteral("numMessages")); }
    void setNumMessages(qint64 count) { setValue(QStringLiteral("numMessages"), count); }
    bool backup() const { return boolValue(QStringLiteral("backup")); }
    void setBackup(bool backup) { setValue(QStringLiteral("backup"), backup); }
    bool current() const { return boolValue(QStringLiteral("current")); }
    void setCurrent(bool current) { setValue(QStringLiteral("current"), current); }
    QDateTime firstSeenDate() const { return dateValue(QStringLiteral("firstSeenDate")); }
    void setFirstSeenDate(const QDateTime &date) { setValue(QStringLiteral("firstSeenDate"), date); }
    QDateTime lastSeenDate() const { return dateValue(QStringLiteral("lastSeenDate")); }
    void setLastSeenDate(const QDateTime &date) { setValue(QStringLiteral("lastSeenDate"), date); }
    QDateTime obsoletedDate() const { return dateValue(QStringLiteral("obsoletedDate")); }
    void setObsoletedDate(const QDateTime &date) { setValue(QStringLiteral("obsoletedDate"), date); }
    QList<std::shared_ptr<TDWMailItem>> mailItems() const;

    static Ptr newWithMoc(TDWManagedObjectContext &moc, const TDWPersistentStorePtr &store);
    // The one current folder of that path; null for none or several (logged).
    static Ptr currentByStore(const TDWPersistentStorePtr &store, const QString &folderPath, TDWManagedObjectContext &moc, TDWError *error);
    // The folders valid at the date (current ones without), by path case-insensitively.
    static std::optional<QList<Ptr>> byStore(const TDWPersistentStorePtr &store, const QDateTime &snapshotDate, TDWManagedObjectContext &moc,
                                             TDWError *error);
    static std::optional<QList<Ptr>> obsoletedSinceBefore(const QDateTime &date, const TDWPersistentStorePtr &store,
                                                          TDWManagedObjectContext &moc);
    static Ptr currentAllMailFolderByStore(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc);
};
