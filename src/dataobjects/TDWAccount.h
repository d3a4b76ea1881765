#pragma once

#include "dataobjects/TDWMetadataObject.h"
#include "platform/foundation/TDWError.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class TDWAccountServiceSetting;
class TDWBackupIteration;

// One Google account the user added, by its user name (the e-mail address),
// with one service setting per service of the service table. Lives in the
// master store.
class TDWAccount : public TDWMetadataObject
{
public:
    using Ptr = std::shared_ptr<TDWAccount>;

    // lastStatus of an account with no service enabled (also a disabled account).
    static constexpr qint64 NoServiceEnabledStatus = -2;

    QString username() const { return stringValue(QStringLiteral("username")); }
    void setUsername(const QString &username) { setValue(QStringLiteral("username"), username); }
    qint64 lastStatus() const { return integerValue(QStringLiteral("lastStatus")); }
    void setLastStatus(qint64 status) { setValue(QStringLiteral("lastStatus"), status); }
    // The account's folder name inside each service folder of the backup.
    QString dirPath() const { return stringValue(QStringLiteral("dirPath")); }
    void setDirPath(const QString &path) { setValue(QStringLiteral("dirPath"), path); }
    bool backupUnlabeled() const { return boolValue(QStringLiteral("backupUnlabeled")); }
    void setBackupUnlabeled(bool backup) { setValue(QStringLiteral("backupUnlabeled"), backup); }
    bool autoAddNewLabels() const { return boolValue(QStringLiteral("autoAddNewLabels")); }
    void setAutoAddNewLabels(bool add) { setValue(QStringLiteral("autoAddNewLabels"), add); }
    QList<std::shared_ptr<TDWAccountServiceSetting>> serviceSettings() const;

    // Extensible values; the flags read NO while absent.
    QDateTime deprecatedReaderItemsReinstatedDate() const;
    void setDeprecatedReaderItemsReinstatedDate(const QDateTime &date);
    bool limitGoogleDocs() const;
    void setLimitGoogleDocs(bool limit);
    bool lockedDownKeychain() const;
    void setLockedDownKeychain(bool lockedDown);
    bool usesExtensiblePropertiesForUndefinedKey(const QString &key) const override;

    // The setting for the service, refreshed from the store first (other
    // contexts update its counters); a missing one is inserted, disabled and unsaved.
    std::shared_ptr<TDWAccountServiceSetting> settingForService(const QString &service);
    bool enabledForService(const QString &service);
    void setEnabled(bool enabled, const QString &service);
    // Turns every service of the service table off (those the account never
    // had too) and sets lastStatus to NoServiceEnabledStatus; not saved.
    void disable();
    // Whether a service of the service table that is not marked "serviceDisabled" is enabled.
    bool enabledForAnyService();
    std::shared_ptr<TDWBackupIteration> lastListIterationForService(const QString &service);
    // Also stamps the first iteration's start time once, and for "reader" the
    // date deprecated Reader items were reinstated.
    void setLastListIteration(const std::shared_ptr<TDWBackupIteration> &iteration, const QString &service);

    // A new account, marked as having its keychain item locked down; not saved.
    static Ptr newWithMoc(TDWManagedObjectContext &moc);
    // Exact, case-sensitive match. Null without an error when there is none;
    // null with an error when the fetch fails or finds several.
    static Ptr byUsername(const QString &username, TDWManagedObjectContext &moc, TDWError *error);
    // Sorted by user name.
    static std::optional<QList<Ptr>> all(TDWManagedObjectContext &moc, TDWError *error);
    // TDWManagedObjectContext::NotFound on failure.
    static qint64 count(TDWManagedObjectContext &moc, TDWError *error);

    // Creates and saves an account with one setting per service of the service
    // table. NO for an existing user name or a failure (a failed save is rolled back).
    static bool addAccountWithUsername(const QString &username, const QString &password, qint32 status, const QStringList &enabledServices,
                                       bool limitGoogleDocs, TDWManagedObjectContext &moc);
    // Sets which services are enabled, the status and the Docs limit, and saves.
    // Updates are serialised across threads.
    static bool updateAccountWithUsername(const QString &username, const QString &password, qint32 status,
                                          const QStringList &enabledServices, bool limitGoogleDocs, TDWManagedObjectContext &moc);

    // The keychain manager installs where passwords given to add and update
    // go (its in-memory cache); none are passed on until then.
    using PasswordCache = std::function<void(const QString &password, const QString &username)>;
    static void setPasswordCache(PasswordCache cache);

    // The folder name made from a user name: "@" as " at ", "." as " dot ", and
    // every other character that is no letter, digit, space, "-" or "_" as "_".
    static QString dirPathForUsername(const QString &username);
    // `base`, or `base` with the first numeric suffix (" 2", " 3", ...) that
    // makes it differ from every account's folder name, ignoring case, so that
    // no two accounts share a folder; never empty. No value when the accounts
    // cannot be read.
    static std::optional<QString> unusedDirPath(const QString &base, TDWManagedObjectContext &moc, TDWError *error);
};
