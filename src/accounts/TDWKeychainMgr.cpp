#include "accounts/TDWKeychainMgr.h"

#include "accounts/emkeychain/EMGenericKeychainItem.h"
#include "platform/foundation/TDWLog.h"

namespace {

// Keyring failures other than a missing item are engine errors; the error
// text names the store's problem, never a secret.
void logKeyringFailure(const QString &action, const QString &username, const TDWError &error)
{
    tdwLog(QStringLiteral("ERROR: Unable to %1 the keychain item for %2: %3").arg(action, username, error.localizedDescription()));
}

void setOutcome(TDWKeychainLookup *outcome, TDWKeychainLookup value)
{
    if (outcome)
        *outcome = value;
}

} // namespace

TDWKeychainMgr *TDWKeychainMgr::keychainMgr()
{
    static TDWKeychainMgr shared;
    return &shared;
}

QString TDWKeychainMgr::oauthServiceNameForUsername(const QString &username)
{
    return QStringLiteral("Tidewell credential for %1 (Google Account)").arg(username);
}

QString TDWKeychainMgr::passwordServiceNameForUsername(const QString &username)
{
    return QStringLiteral("Tidewell: %1 (Google Account)").arg(username);
}

bool TDWKeychainMgr::setCredential(const std::shared_ptr<TDWCredential> &credential, const QString &username, bool allowUpdate)
{
    Q_UNUSED(allowUpdate);
    if (!credential)
        return false;
    const QString serviceName = oauthServiceNameForUsername(username);
    const QString text = QString::fromUtf8(credential->jsonText());

    // Held across the write, so the cache always holds what was stored last.
    std::lock_guard lock(m_mutex);
    TDWKeyringStatus status = TDWKeyringStatus::NotFound;
    TDWError error;
    bool stored = false;
    // The existing item's password is replaced in place: removing the item
    // first would lose the refresh token whenever the new one failed to go in.
    if (auto item = EMGenericKeychainItem::genericKeychainItemForService(serviceName, username, &status, &error))
        stored = item->setPassword(text, &error);
    else if (status == TDWKeyringStatus::NotFound)
        stored = EMGenericKeychainItem::addGenericKeychainItemForService(serviceName, username, text, &error) != nullptr;
    if (!stored) {
        logKeyringFailure(QStringLiteral("save"), username, error);
        return false;
    }
    m_credentialCache.insert(serviceName, credential);
    return true;
}

std::shared_ptr<TDWCredential> TDWKeychainMgr::credentialForUsername(const QString &username, TDWKeychainLookup *outcome)
{
    const QString serviceName = oauthServiceNameForUsername(username);
    std::lock_guard lock(m_mutex);
    if (const auto cached = m_credentialCache.constFind(serviceName); cached != m_credentialCache.constEnd()) {
        setOutcome(outcome, TDWKeychainLookup::Found);
        return *cached;
    }

    TDWKeyringStatus status = TDWKeyringStatus::NotFound;
    TDWError error;
    const auto item = EMGenericKeychainItem::genericKeychainItemForService(serviceName, username, &status, &error);
    if (!item) {
        if (status == TDWKeyringStatus::Unavailable)
            logKeyringFailure(QStringLiteral("read"), username, error);
        setOutcome(outcome, status == TDWKeyringStatus::NotFound ? TDWKeychainLookup::NotFound : TDWKeychainLookup::Unavailable);
        return nullptr;
    }
    // An item we cannot read may hold a good credential in a form we do not
    // know: it is reported unavailable, so nobody writes over it.
    setOutcome(outcome, TDWKeychainLookup::Unavailable);
    const QString password = item->password();
    if (password.isNull()) {
        tdwLog(QStringLiteral("ERROR: Found keychain item for %1 but password was nil.").arg(username));
        return nullptr;
    }
    std::shared_ptr<TDWCredential> credential = TDWCredential::fromJsonText(password.toUtf8());
    if (!credential) {
        tdwLog(QStringLiteral("ERROR: Unable to parse credentials out of keychain item."));
        return nullptr;
    }
    m_credentialCache.insert(serviceName, credential);
    setOutcome(outcome, TDWKeychainLookup::Found);
    return credential;
}

void TDWKeychainMgr::deleteCredentialForUsername(const QString &username)
{
    const QString serviceName = oauthServiceNameForUsername(username);
    // Held throughout, so no lookup caches the item again while it goes.
    std::lock_guard lock(m_mutex);
    TDWKeyringStatus status = TDWKeyringStatus::NotFound;
    TDWError error;
    const auto item = EMGenericKeychainItem::genericKeychainItemForService(serviceName, username, &status, &error);
    m_credentialCache.remove(serviceName);
    if (item) {
        if (!item->removeFromKeychain(&error))
            logKeyringFailure(QStringLiteral("delete"), username, error);
    } else if (status == TDWKeyringStatus::Unavailable) {
        logKeyringFailure(QStringLiteral("delete"), username, error);
    } else {
        tdwLog(QStringLiteral("ERROR: Null keychainItem in deleteCredentialForUsername"));
    }
}

QString TDWKeychainMgr::passwordForUsername(const QString &username, TDWKeychainLookup *outcome)
{
    std::lock_guard lock(m_mutex);
    if (const auto cached = m_passwordCache.constFind(username); cached != m_passwordCache.constEnd()) {
        setOutcome(outcome, TDWKeychainLookup::Found);
        return *cached;
    }
    TDWKeyringStatus status = TDWKeyringStatus::NotFound;
    TDWError error;
    const auto item = EMGenericKeychainItem::genericKeychainItemForService(passwordServiceNameForUsername(username), username, &status, &error);
    if (!item) {
        if (status == TDWKeyringStatus::Unavailable)
            logKeyringFailure(QStringLiteral("read"), username, error);
        setOutcome(outcome, status == TDWKeyringStatus::NotFound ? TDWKeychainLookup::NotFound : TDWKeychainLookup::Unavailable);
        return QString();
    }
    const QString password = item->password();
    setOutcome(outcome, password.isNull() ? TDWKeychainLookup::Unavailable : TDWKeychainLookup::Found);
    return password;
}

void TDWKeychainMgr::cachePassword(const QString &password, const QString &username)
{
    std::lock_guard lock(m_mutex);
    m_passwordCache.insert(username, password);
}

bool TDWKeychainMgr::deletePasswordForUsername(const QString &username)
{
    std::lock_guard lock(m_mutex);
    m_passwordCache.remove(username);
    TDWKeyringStatus status = TDWKeyringStatus::NotFound;
    TDWError error;
    const auto item = EMGenericKeychainItem::genericKeychainItemForService(passwordServiceNameForUsername(username), username, &status, &error);
    if (!item) {
        if (status == TDWKeyringStatus::Unavailable)
            logKeyringFailure(QStringLiteral("delete"), username, error);
        else
            tdwLog(QStringLiteral("ERROR: Null keychainItem in deletePasswordForUsername"));
        return false;
    }
    if (!item->removeFromKeychain(&error)) {
        logKeyringFailure(QStringLiteral("delete"), username, error);
        return false;
    }
    return true;
}
