#pragma once

#include "dataobjects/TDWMetadataObject.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QDateTime>
#include <QString>

#include <memory>

class TDWAccount;
class TDWBackupIteration;

// One account's setting for one service: whether it is backed up, the file of
// its account-and-service store, its last list iteration and its download
// counters. Lives in the master store.
class TDWAccountServiceSetting : public TDWMetadataObject
{
public:
    using Ptr = std::shared_ptr<TDWAccountServiceSetting>;

    std::shared_ptr<TDWAccount> account() const;
    void setAccount(const std::shared_ptr<TDWAccount> &account);
    QString service() const { return stringValue(QStringLiteral("service")); }
    void setService(const QString &service) { setValue(QStringLiteral("service"), service); }
    bool enabled() const { return boolValue(QStringLiteral("enabled")); }
    void setEnabled(bool enabled) { setValue(QStringLiteral("enabled"), enabled); }
    std::shared_ptr<TDWBackupIteration> lastListIteration() const;
    void setLastListIteration(const std::shared_ptr<TDWBackupIteration> &iteration);
    QDateTime firstIterationStartTime() const { return dateValue(QStringLiteral("firstIterationStartTime")); }
    void setFirstIterationStartTime(const QDateTime &time) { setValue(QStringLiteral("firstIterationStartTime"), time); }
    // Null until the store is first needed; then the same file for the life of the account.
    QString storeFilename() const { return stringValue(QStringLiteral("storeFilename")); }
    void setStoreFilename(const QString &name) { setValue(QStringLiteral("storeFilename"), name); }
    bool downloadCountsUpToDate() const { return boolValue(QStringLiteral("downloadCountsUpToDate")); }
    void setDownloadCountsUpToDate(bool upToDate) { setValue(QStringLiteral("downloadCountsUpToDate"), upToDate); }
    qint64 numDownloadsPending() const { return integerValue(QStringLiteral("numDownloadsPending")); }
    void setNumDownloadsPending(qint64 count) { setValue(QStringLiteral("numDownloadsPending"), count); }
    qint64 numDownloadsFailed() const { return integerValue(QStringLiteral("numDownloadsFailed")); }
    void setNumDownloadsFailed(qint64 count) { setValue(QStringLiteral("numDownloadsFailed"), count); }
    qint64 numDownloadsDone() const { return integerValue(QStringLiteral("numDownloadsDone")); }
    void setNumDownloadsDone(qint64 count) { setValue(QStringLiteral("numDownloadsDone"), count); }
    qint64 numDownloadsMissing() const { return integerValue(QStringLiteral("numDownloadsMissing")); }
    void setNumDownloadsMissing(qint64 count) { setValue(QStringLiteral("numDownloadsMissing"), count); }
    qint64 numDownloadsNoBackup() const { return integerValue(QStringLiteral("numDownloadsNoBackup")); }
    void setNumDownloadsNoBackup(qint64 count) { setValue(QStringLiteral("numDownloadsNoBackup"), count); }

    // Extensible flags; NO while absent.
    bool allQueuedExportsBackedUpLast() const;
    void setAllQueuedExportsBackedUpLast(bool backedUp);
    bool fixedMailData211BugFix() const;
    void setFixedMailData211BugFix(bool fixed);
    bool usesExtensiblePropertiesForUndefinedKey(const QString &key) const override;

    static Ptr newWithMoc(TDWManagedObjectContext &moc);
    // The one setting of the account and service; null when there is none,
    // several (logged) or the fetch fails (logged).
    static Ptr byAccountUsername(const QString &username, const QString &service, TDWManagedObjectContext &moc);
};
