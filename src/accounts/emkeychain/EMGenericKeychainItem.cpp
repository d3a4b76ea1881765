#include "accounts/emkeychain/EMGenericKeychainItem.h"

#include "platform/keychain/TDWKeyring.h"

EMGenericKeychainItem::EMGenericKeychainItem(Handle handle, QString password)
    : EMKeychainItem(handle, std::move(password))
    , m_serviceName(handle.service)
{
}

std::unique_ptr<EMGenericKeychainItem> EMGenericKeychainItem::genericKeychainItemForService(const QString &serviceName,
                                                                                           const QString &username,
                                                                                           TDWKeyringStatus *status,
                                                                                           TDWError *error)
{
    if (status)
        *status = TDWKeyringStatus::NotFound;
    if (serviceName.isNull() || username.isNull())
        return nullptr;
    std::shared_ptr<TDWKeyringBackend> keyring = TDWKeyring::backend();
    QByteArray secret;
    TDWError failure;
    const TDWKeyringStatus found = keyring->find(serviceName, username, &secret, &failure);
    if (status)
        *status = found;
    if (found == TDWKeyringStatus::NotFound)
        failure = TDWKeyringError::make(TDWKeyringError::NotFound, QStringLiteral("The item was not found"));
    if (found != TDWKeyringStatus::Found) {
        logError(QStringLiteral("genericKeychainItemForService"), failure);
        if (found == TDWKeyringStatus::Unavailable)
            tdwSetError(error, failure);
        return nullptr;
    }
    return std::unique_ptr<EMGenericKeychainItem>(
        new EMGenericKeychainItem({std::move(keyring), serviceName, username}, decodePassword(secret)));
}

std::unique_ptr<EMGenericKeychainItem> EMGenericKeychainItem::addGenericKeychainItemForService(const QString &serviceName,
                                                                                              const QString &username,
                                                                                              const QString &password,
                                                                                              TDWError *error)
{
    if (serviceName.isNull() || username.isNull() || password.isNull())
        return nullptr;
    std::shared_ptr<TDWKeyringBackend> keyring = TDWKeyring::backend();
    TDWError failure;
    const TDWKeyringStatus existing = keyring->find(serviceName, username, nullptr, &failure);
    if (existing == TDWKeyringStatus::Found)
        failure = TDWKeyringError::make(TDWKeyringError::ItemExists,
                                        QStringLiteral("An item for this service and account is already in the keyring"));
    if (existing != TDWKeyringStatus::NotFound || !keyring->store(serviceName, username, password.toUtf8(), &failure)) {
        logError(QStringLiteral("addGenericKeychainItemForService"), failure);
        tdwSetError(error, failure);
        return nullptr;
    }
    return std::unique_ptr<EMGenericKeychainItem>(new EMGenericKeychainItem({std::move(keyring), serviceName, username}, password));
}
