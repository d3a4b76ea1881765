#pragma once

#include "accounts/TDWCredential.h"

#include <QHash>
#include <QString>

#include <memory>
#include <mutex>

// What a keychain lookup found out.
enum class TDWKeychainLookup {
    // The item is there and was read (or the credential was cached).
    Found,
    // The keyring answered that it holds no such item.
    NotFound,
    // The keyring could not answer (no Secret Service, a locked keyring, an
    // unreadable store) or the item holds something that is not a
    // credential. Nothing is known about the account: do not write over the
    // item, do not mark the account as needing a sign-in; try again later.
    Unavailable,
};

// The one way into the account secrets kept in the keyring: each account's
// OAuth credential (a JSON text item) and the IMAP password that older
// versions kept. Credentials read or written are cached for the whole run,
// keyed by the item's service name, and handed out as one shared object per
// account. Every operation is safe to call from any thread.
class TDWKeychainMgr
{
public:
    // The process's shared manager, made on first use.
    static TDWKeychainMgr *keychainMgr();

    // A manager with empty caches (the shared one is all the program needs).
    TDWKeychainMgr() = default;
    TDWKeychainMgr(const TDWKeychainMgr &) = delete;
    TDWKeychainMgr &operator=(const TDWKeychainMgr &) = delete;

    // Stores the credential as the account's credential item, replacing the
    // stored one in one step, and then caches this very object. False when
    // the keyring could not store it: the stored item and the cache are then
    // as they were. `allowUpdate` changes nothing.
    bool setCredential(const std::shared_ptr<TDWCredential> &credential, const QString &username, bool allowUpdate);

    // The account's credential: the cached object, else read from the
    // keyring (and then cached). Null when there is none or it cannot be
    // read; `outcome` tells which. Before writing anything over a missing
    // credential (e.g. the "needs a new sign-in" mark), check that the
    // outcome is NotFound: Unavailable means the item may be there and good.
    std::shared_ptr<TDWCredential> credentialForUsername(const QString &username, TDWKeychainLookup *outcome = nullptr);

    // Removes the credential item and forgets the cached credential.
    void deleteCredentialForUsername(const QString &username);

    // The IMAP password of older versions: the one handed to cachePassword()
    // in this run, else the stored item's; null when there is none.
    QString passwordForUsername(const QString &username, TDWKeychainLookup *outcome = nullptr);
    // Remembers the password for this run only; nothing is stored.
    void cachePassword(const QString &password, const QString &username);
    // Removes the stored password item (and the remembered one); false when
    // there was none or it could not be removed.
    bool deletePasswordForUsername(const QString &username);

    static QString oauthServiceNameForUsername(const QString &username);
    static QString passwordServiceNameForUsername(const QString &username);

private:
    std::mutex m_mutex; // guards both caches; held across lookups so one read serves concurrent callers
    QHash<QString, std::shared_ptr<TDWCredential>> m_credentialCache; // service name -> credential
    QHash<QString, QString> m_passwordCache;                          // user name -> password
};
