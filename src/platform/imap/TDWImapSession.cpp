#include "platform/imap/TDWImapSession.h"

#include "platform/imap/TDWImapBodySink.h"
#include "platform/imap/TDWImapCommand.h"
#include "platform/imap/TDWImapConnectionPool.h"
#include "platform/imap/TDWImapTlsSocket.h"

#include <cmath>

namespace {

TDWError cancelledError()
{
    return TDWImapError::make(TDWImapError::Cancelled, QStringLiteral("The operation was cancelled."));
}

} // namespace

std::shared_ptr<TDWImapSession> TDWImapSession::create()
{
    std::shared_ptr<TDWImapSession> session(new TDWImapSession());
    session->applySettings();
    return session;
}

TDWImapSession::TDWImapSession()
    : m_pool(TDWImapConnectionPool::create())
{
}

TDWImapSession::~TDWImapSession()
{
    m_pool->shutdown();
}

template <class T>
void TDWImapSession::set(T &member, const T &value)
{
    {
        std::lock_guard lock(m_mutex);
        member = value;
    }
    applySettings();
}

template <class T>
T TDWImapSession::get(const T &member) const
{
    std::lock_guard lock(m_mutex);
    return member;
}

void TDWImapSession::setHostname(const QString &value) { set(m_hostname, value); }
QString TDWImapSession::hostname() const { return get(m_hostname); }
void TDWImapSession::setPort(int value) { set(m_port, value); }
int TDWImapSession::port() const { return get(m_port); }
void TDWImapSession::setUsername(const QString &value) { set(m_username, value); }
QString TDWImapSession::username() const { return get(m_username); }
void TDWImapSession::setConnectionType(int value) { set(m_connectionType, value); }
int TDWImapSession::connectionType() const { return get(m_connectionType); }
void TDWImapSession::setAuthType(int value) { set(m_authType, value); }
int TDWImapSession::authType() const { return get(m_authType); }
void TDWImapSession::setTimeout(double value) { set(m_timeout, value); }
double TDWImapSession::timeout() const { return get(m_timeout); }
void TDWImapSession::setAllowsFolderConcurrentAccessEnabled(bool value) { set(m_allowsFolderConcurrentAccess, value); }
bool TDWImapSession::allowsFolderConcurrentAccessEnabled() const { return get(m_allowsFolderConcurrentAccess); }
void TDWImapSession::setOAuth2Token(const QString &value) { set(m_token, value); }
QString TDWImapSession::OAuth2Token() const { return get(m_token); }
void TDWImapSession::setMaximumConnections(int value) { set(m_maximumConnections, value); }
int TDWImapSession::maximumConnections() const { return get(m_maximumConnections); }
void TDWImapSession::setCertificateAuthorityFile(const QString &value) { set(m_caFile, value); }
QString TDWImapSession::certificateAuthorityFile() const { return get(m_caFile); }
void TDWImapSession::setPipelineDepth(int value) { set(m_pipelineDepth, value); }
int TDWImapSession::pipelineDepth() const { return get(m_pipelineDepth); }

void TDWImapSession::applySettings()
{
    TDWImapConnectionPool::Configuration c;
    std::lock_guard lock(m_mutex);
    c.connection.hostname = m_hostname;
    c.connection.port = quint16(m_port);
    c.connection.username = m_username;
    c.connection.accessToken = m_token;
    c.connection.timeoutMs = int(std::clamp(std::ceil(m_timeout * 1000.0), 1.0, double(INT_MAX)));
    c.connection.pipelineDepth = std::max(1, m_pipelineDepth);
    c.maximumConnections = std::max(1, m_maximumConnections);
    c.allowsFolderConcurrentAccess = m_allowsFolderConcurrentAccess;
    if (m_connectionType != TDWImapConnectionTypeTLS) {
        c.settingsError = TDWImapError::make(TDWImapError::Unsupported, QStringLiteral("Only connections with TLS from the first byte are offered."));
    } else if (m_authType != TDWImapAuthTypeXOAuth2) {
        c.settingsError = TDWImapError::make(TDWImapError::Unsupported, QStringLiteral("Only the XOAUTH2 sign-in is offered."));
    } else if (m_hostname.isEmpty() || m_port <= 0 || m_port > 65535) {
        c.settingsError = TDWImapError::make(TDWImapError::Connection, QStringLiteral("No IMAP server is set."));
    } else {
        if (!m_tlsContext || m_tlsContextCaFile != m_caFile) {
            m_tlsContext = TDWImapTlsSocket::makeContext(m_caFile, &c.settingsError);
            m_tlsContextCaFile = m_caFile;
        }
        c.connection.tls = m_tlsContext;
    }
    m_pool->configure(c);
}

template <class T>
std::shared_ptr<TDWImapOperation<T>> TDWImapSession::commandOperation(const std::shared_ptr<TDWImapCommand> &command,
                                                                     std::function<T(TDWImapCommand &)> result)
{
    std::weak_ptr<TDWImapConnectionPool> pool = m_pool;
    auto launch = [pool, command, result](typename TDWImapOperation<T>::Deliver deliver, typename TDWImapOperation<T>::Progress progress) {
        if (progress)
            command->setProgressHandler(progress);
        command->setCompletion([deliver = std::move(deliver), result](TDWImapCommand &done) mutable {
            deliver(done.error(), done.error().isNull() ? result(done) : T{});
        });
        if (auto p = pool.lock())
            p->submit(command);
    };
    return std::make_shared<TDWImapOperation<T>>(shared_from_this(), launch, [command] { command->cancel(); }, cancelledError());
}

std::shared_ptr<TDWImapOperation<QStringList>> TDWImapSession::capabilityOperation()
{
    return commandOperation<QStringList>(TDWImapCommand::capability(), [](TDWImapCommand &c) { return c.capabilities(); });
}

std::shared_ptr<TDWImapOperation<QVariantMap>> TDWImapSession::identityOperation(const QVariantMap &clientIdentity)
{
    return commandOperation<QVariantMap>(TDWImapCommand::id(clientIdentity), [](TDWImapCommand &c) { return c.serverIdentity(); });
}

std::shared_ptr<TDWImapOperation<QList<TDWImapFolder>>> TDWImapSession::fetchAllFoldersOperation()
{
    return commandOperation<QList<TDWImapFolder>>(TDWImapCommand::list(), [](TDWImapCommand &c) { return c.folders(); });
}

std::shared_ptr<TDWImapOperation<TDWImapFolderInfo>> TDWImapSession::folderInfoOperation(const QString &folder)
{
    return commandOperation<TDWImapFolderInfo>(TDWImapCommand::examine(folder), [](TDWImapCommand &c) { return c.folderInfo(); });
}

std::shared_ptr<TDWImapOperation<TDWImapFolderInfo>> TDWImapSession::folderStatusOperation(const QString &folder)
{
    return commandOperation<TDWImapFolderInfo>(TDWImapCommand::status(folder), [](TDWImapCommand &c) { return c.folderInfo(); });
}

std::shared_ptr<TDWImapOperation<QList<TDWImapMessage>>> TDWImapSession::fetchMessagesByNumberOperation(const QString &folder, int requestKind,
                                                                                                         const TDWImapIndexSet &numbers)
{
    return commandOperation<QList<TDWImapMessage>>(TDWImapCommand::fetch(folder, false, numbers, requestKind),
                                                   [](TDWImapCommand &c) { return c.messages(); });
}

std::shared_ptr<TDWImapOperation<QList<TDWImapMessage>>> TDWImapSession::fetchMessagesByUIDOperation(const QString &folder, int requestKind,
                                                                                                      const TDWImapIndexSet &uids)
{
    return commandOperation<QList<TDWImapMessage>>(TDWImapCommand::fetch(folder, true, uids, requestKind),
                                                   [](TDWImapCommand &c) { return c.messages(); });
}

std::shared_ptr<TDWImapOperation<QByteArray>> TDWImapSession::fetchMessageByUIDOperation(const QString &folder, quint32 uid, bool urgent)
{
    auto command = TDWImapCommand::fetchBody(folder, uid, std::make_unique<TDWImapBodySink>());
    command->setUrgent(urgent);
    return commandOperation<QByteArray>(command, [](TDWImapCommand &c) { return c.bodySink()->data(); });
}

std::shared_ptr<TDWImapOperation<qint64>> TDWImapSession::fetchMessageByUIDToFileOperation(const QString &folder, quint32 uid,
                                                                                           const QString &path, bool urgent)
{
    return fetchBodyOperation(folder, uid, std::make_unique<TDWImapBodySink>(path), urgent);
}

std::shared_ptr<TDWImapOperation<qint64>> TDWImapSession::fetchMessageByUIDToWriterOperation(const QString &folder, quint32 uid,
                                                                                             std::unique_ptr<TDWImapBodyWriter> writer, bool urgent)
{
    return fetchBodyOperation(folder, uid, std::make_unique<TDWImapBodySink>(std::move(writer)), urgent);
}

std::shared_ptr<TDWImapOperation<qint64>> TDWImapSession::fetchBodyOperation(const QString &folder, quint32 uid, std::unique_ptr<TDWImapBodySink> sink,
                                                                             bool urgent)
{
    auto command = TDWImapCommand::fetchBody(folder, uid, std::move(sink));
    command->setUrgent(urgent);
    return commandOperation<qint64>(command, [](TDWImapCommand &c) { return c.bodySink()->receivedSize(); });
}

std::shared_ptr<TDWImapOperation<bool>> TDWImapSession::noopOperation()
{
    return commandOperation<bool>(TDWImapCommand::noop(), [](TDWImapCommand &) { return true; });
}

std::shared_ptr<TDWImapOperation<bool>> TDWImapSession::disconnectOperation()
{
    std::weak_ptr<TDWImapConnectionPool> pool = m_pool;
    auto launch = [pool](TDWImapOperation<bool>::Deliver deliver, TDWImapOperation<bool>::Progress) {
        auto shared = std::make_shared<TDWImapOperation<bool>::Deliver>(std::move(deliver));
        if (auto p = pool.lock())
            p->disconnect([shared] { (*shared)({}, true); });
        else
            (*shared)({}, true);
    };
    return std::make_shared<TDWImapOperation<bool>>(shared_from_this(), launch, nullptr, cancelledError());
}

int TDWImapSession::connectionCount() const
{
    return m_pool->connectionCount();
}
