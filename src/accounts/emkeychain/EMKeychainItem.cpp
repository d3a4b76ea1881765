#include "accounts/emkeychain/EMKeychainItem.h"

#include "platform/foundation/TDWLog.h"

#include <QStringDecoder>

#include <atomic>
#include <stdexcept>

namespace {

std::atomic<bool> g_logsErrors{false};

} // namespace

EMKeychainItem::EMKeychainItem(Handle handle, QString password)
    : m_handle(std::move(handle))
    , m_password(std::move(password))
{
}

QString EMKeychainItem::username() const
{
    std::lock_guard lock(m_mutex);
    return m_handle.account;
}

QString EMKeychainItem::password() const
{
    std::lock_guard lock(m_mutex);
    return m_password;
}

bool EMKeychainItem::setPassword(const QString &password, TDWError *error)
{
    std::lock_guard lock(m_mutex);
    if (!m_handle.keyring)
        throw std::logic_error("Core keychain item is nil. You cannot modify a keychain item that is not in the keychain.");
    // Qt takes a null string for equal to an empty one; a stored password
    // that was not text must still be replaced by "".
    if (password == m_password && password.isNull() == m_password.isNull())
        return true;
    if (!m_handle.keyring->store(m_handle.service, m_handle.account, password.toUtf8(), error))
        return false;
    m_password = password;
    return true;
}

bool EMKeychainItem::removeFromKeychain(TDWError *error)
{
    std::lock_guard lock(m_mutex);
    if (!m_handle.keyring)
        throw std::logic_error("Core keychain item is nil. You cannot remove a keychain item that is not in the keychain already.");
    // An item that someone else removed meanwhile is gone all the same.
    if (m_handle.keyring->remove(m_handle.service, m_handle.account, error) == TDWKeyringStatus::Unavailable)
        return false;
    m_handle.keyring.reset();
    return true;
}

bool EMKeychainItem::logsErrors()
{
    return g_logsErrors;
}

void EMKeychainItem::setLogsErrors(bool logs)
{
    g_logsErrors = logs;
}

void EMKeychainItem::logError(const QString &operation, const TDWError &error)
{
    if (g_logsErrors)
        tdwLog(QStringLiteral("Error (%1) - %2").arg(operation, error.localizedDescription()));
}

QString EMKeychainItem::decodePassword(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QStringLiteral("");
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder(bytes);
    return decoder.hasError() ? QString() : text;
}
