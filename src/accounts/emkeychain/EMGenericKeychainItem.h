#pragma once

#include "accounts/emkeychain/EMKeychainItem.h"

// A generic password item, found by its service name and account.
class EMGenericKeychainItem : public EMKeychainItem
{
public:
    // The item stored under (service, username) in the program's keyring.
    // Null when there is none (`status` NotFound) or the keyring could not
    // answer (`status` Unavailable, `error` says why). A null service or
    // username gives null at once, without asking the keyring.
    static std::unique_ptr<EMGenericKeychainItem> genericKeychainItemForService(const QString &serviceName,
                                                                                const QString &username,
                                                                                TDWKeyringStatus *status = nullptr,
                                                                                TDWError *error = nullptr);

    // Stores a new item. Null when an item with the same service and
    // username exists already (replace its password instead), when the
    // keyring could not store it, or when any argument is null.
    static std::unique_ptr<EMGenericKeychainItem> addGenericKeychainItemForService(const QString &serviceName,
                                                                                   const QString &username,
                                                                                   const QString &password,
                                                                                   TDWError *error = nullptr);

    QString serviceName() const { return m_serviceName; }

private:
    EMGenericKeychainItem(Handle handle, QString password);

    const QString m_serviceName;
};
