#pragma once

#include "dataobjects/TDWMetadataObject.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

// The dated history of one mail backup choice of an account ("backupunlabeled",
// or "backupmailfolder:" and a label path), so a past snapshot shows what was
// chosen then. Lives in the account's "mail" store.
class TDWBackupSettingHistory : public TDWMetadataObject
{
public:
    using Ptr = std::shared_ptr<TDWBackupSettingHistory>;

    QString service() const { return stringValue(QStringLiteral("service")); }
    void setService(const QString &service) { setValue(QStringLiteral("service"), service); }
    QString settingName() const { return stringValue(QStringLiteral("settingName")); }
    void setSettingName(const QString &name) { setValue(QStringLiteral("settingName"), name); }
    bool backupEnabled() const { return boolValue(QStringLiteral("backupEnabled")); }
    void setBackupEnabled(bool enabled) { setValue(QStringLiteral("backupEnabled"), enabled); }
    bool current() const { return boolValue(QStringLiteral("current")); }
    void setCurrent(bool current) { setValue(QStringLiteral("current"), current); }
    QDateTime firstSeenDate() const { return dateValue(QStringLiteral("firstSeenDate")); }
    void setFirstSeenDate(const QDateTime &date) { setValue(QStringLiteral("firstSeenDate"), date); }
    QDateTime obsoletedDate() const { return dateValue(QStringLiteral("obsoletedDate")); }
    void setObsoletedDate(const QDateTime &date) { setValue(QStringLiteral("obsoletedDate"), date); }

    static Ptr newWithMoc(TDWManagedObjectContext &moc, const TDWPersistentStorePtr &store);
    // The current record of the setting; of several the first (logged).
    static Ptr currentForStore(const TDWPersistentStorePtr &store, const QString &settingName, TDWManagedObjectContext &moc);
    // The record valid at the date; without a date the current one.
    static Ptr currentForStore(const TDWPersistentStorePtr &store, const QString &settingName, const QDateTime &snapshotDate,
                               TDWManagedObjectContext &moc);
    static std::optional<QList<Ptr>> obsoletedByStore(const TDWPersistentStorePtr &store, const QDateTime &sinceBefore,
                                                      TDWManagedObjectContext &moc);
    // Records the value of a setting for the backup that started at the date:
    // nothing changes while the current record holds it; otherwise the current
    // record (if any) is closed at the date and a new current one opened.
    static void recordSetting(const TDWPersistentStorePtr &store, const QString &settingName, bool backupEnabled, const QDateTime &date,
                              TDWManagedObjectContext &moc);
};
