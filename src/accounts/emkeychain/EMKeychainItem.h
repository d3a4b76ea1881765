#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/keychain/TDWKeyringBackend.h"

#include <QString>

#include <memory>
#include <mutex>

// A password item of the keyring as an object: its account name, its
// password as read when the object was made, and the handle that reaches the
// stored item. Items are made by the class operations of the subclasses.
class EMKeychainItem
{
public:
    virtual ~EMKeychainItem() = default;
    EMKeychainItem(const EMKeychainItem &) = delete;
    EMKeychainItem &operator=(const EMKeychainItem &) = delete;

    QString username() const;
    // A null string when the stored bytes are not UTF-8 text.
    QString password() const;

    // Replaces the stored password in one step (the old one stays until the
    // new one is in place, and stays after a failure). False, with `error`
    // set, when the keyring refused; the held password is then unchanged.
    bool setPassword(const QString &password, TDWError *error = nullptr);

    // Deletes the stored item. False, with nothing changed, when the keyring
    // refused. Throws std::logic_error when the item was already removed.
    bool removeFromKeychain(TDWError *error = nullptr);

    // Whether failed finds and adds log a line (off unless switched on).
    static bool logsErrors();
    static void setLogsErrors(bool logs);

protected:
    // The keyring and the (service, account) pair that the item lives under.
    struct Handle {
        std::shared_ptr<TDWKeyringBackend> keyring;
        QString service;
        QString account;
    };

    EMKeychainItem(Handle handle, QString password);

    // "Error (<operation>) - <reason>", when logsErrors() is on.
    static void logError(const QString &operation, const TDWError &error);
    // The text of stored bytes; null when they are not UTF-8.
    static QString decodePassword(const QByteArray &bytes);

private:
    mutable std::mutex m_mutex; // guards the fields for setters on other threads
    Handle m_handle;            // keyring empty once the item is removed
    QString m_password;
};
