#include "platform/imap/TDWImapConnectionPool.h"

#include "platform/imap/TDWImapCommand.h"
#include "platform/imap/TDWImapError.h"

namespace {

// The folder a command makes its connection select, or an empty string.
QString folderOf(const TDWImapCommand &command)
{
    return command.needsSelection() || command.kind() == TDWImapCommand::Kind::Examine ? command.folder() : QString();
}

} // namespace

std::shared_ptr<TDWImapConnectionPool> TDWImapConnectionPool::create()
{
    return std::shared_ptr<TDWImapConnectionPool>(new TDWImapConnectionPool());
}

TDWImapConnectionPool::~TDWImapConnectionPool()
{
    shutdown();
}

void TDWImapConnectionPool::configure(const Configuration &configuration)
{
    std::lock_guard lock(m_mutex);
    m_configuration = configuration;
}

void TDWImapConnectionPool::submit(const std::shared_ptr<TDWImapCommand> &command)
{
    TDWError refusal;
    {
        std::lock_guard lock(m_mutex);
        if (m_shutdown)
            refusal = TDWImapError::make(TDWImapError::Cancelled, QStringLiteral("The IMAP session was closed."));
        else
            refusal = m_configuration.settingsError;
        if (refusal.isNull()) {
            if (command->isUrgent())
                m_queue.push_front(command);
            else
                m_queue.push_back(command);
            spawnIfNeededLocked(command->isUrgent());
            for (const auto &connection : m_connections)
                connection->wake();
        }
    }
    if (!refusal.isNull())
        command->complete(refusal);
}

void TDWImapConnectionPool::spawnIfNeededLocked(bool urgent)
{
    int live = 0;
    qint64 pending = qint64(m_queue.size());
    bool allBusy = true;
    for (const auto &connection : m_connections) {
        if (connection->isLeaving())
            continue;
        ++live;
        pending += connection->load();
        if (connection->load() == 0)
            allBusy = false;
    }
    if (live >= m_configuration.maximumConnections)
        return;
    const qint64 capacity = qint64(live) * std::max(1, m_configuration.connection.pipelineDepth);
    if (live > 0 && pending <= capacity && !(urgent && allBusy))
        return;
    auto connection = std::make_shared<TDWImapConnection>(m_configuration.connection, shared_from_this());
    m_connections.push_back(connection);
    connection->start();
}

bool TDWImapConnectionPool::mayWorkInLocked(TDWImapConnection *connection, const QString &folder) const
{
    if (folder.isEmpty() || m_configuration.allowsFolderConcurrentAccess)
        return true;
    for (auto it = m_claims.constBegin(); it != m_claims.constEnd(); ++it)
        if (it.key() != connection && it.value() == folder)
            return false;
    return true;
}

std::shared_ptr<TDWImapCommand> TDWImapConnectionPool::take(TDWImapConnection *connection, const QString &selectedFolder)
{
    std::lock_guard lock(m_mutex);
    // First what needs no other selection, in order; then anything this connection may open.
    for (int pass = 0; pass < 2; ++pass) {
        for (auto it = m_queue.begin(); it != m_queue.end();) {
            if ((*it)->isCancelled()) {
                it = m_queue.erase(it);
                continue;
            }
            const QString folder = folderOf(**it);
            const bool here = folder.isEmpty() || folder == selectedFolder;
            if ((pass == 0 && here) || (pass == 1 && mayWorkInLocked(connection, folder))) {
                std::shared_ptr<TDWImapCommand> command = std::move(*it);
                m_queue.erase(it);
                if (!folder.isEmpty())
                    m_claims.insert(connection, folder);
                return command;
            }
            ++it;
        }
    }
    return nullptr;
}

void TDWImapConnectionPool::requeue(const std::shared_ptr<TDWImapCommand> &command)
{
    std::lock_guard lock(m_mutex);
    if (m_shutdown)
        return;
    m_queue.push_front(command);
    for (const auto &connection : m_connections)
        connection->wake();
}

void TDWImapConnectionPool::connectionEnded(TDWImapConnection *connection, const TDWError &error, bool wasReady)
{
    std::vector<std::shared_ptr<TDWImapCommand>> failed;
    std::vector<std::function<void()>> disconnected;
    {
        std::lock_guard lock(m_mutex);
        m_claims.remove(connection);
        auto it = std::find_if(m_connections.begin(), m_connections.end(), [&](const auto &c) { return c.get() == connection; });
        if (it != m_connections.end()) {
            (*it)->detach();
            m_connections.erase(it);
        }
        for (auto d = m_disconnects.begin(); d != m_disconnects.end();) {
            std::erase(d->waiting, connection);
            if (d->waiting.empty()) {
                disconnected.push_back(std::move(d->done));
                d = m_disconnects.erase(d);
            } else {
                ++d;
            }
        }
        if (!m_shutdown) {
            const bool anotherServes = std::any_of(m_connections.begin(), m_connections.end(),
                                                   [](const auto &c) { return !c->isLeaving(); });
            if (!wasReady && !error.isNull() && !anotherServes) {
                // Opening failed and nobody else can take the work: it fails the same way.
                failed.assign(m_queue.begin(), m_queue.end());
                m_queue.clear();
            } else if (!m_queue.empty() && !anotherServes) {
                spawnIfNeededLocked(false);
            }
        }
    }
    for (const auto &command : failed)
        if (!command->isCancelled())
            command->complete(error);
    for (const auto &done : disconnected)
        done();
}

void TDWImapConnectionPool::disconnect(std::function<void()> done)
{
    std::vector<TDWImapConnection *> waiting;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &connection : m_connections) {
            connection->requestLogout();
            waiting.push_back(connection.get());
        }
        if (!waiting.empty())
            m_disconnects.push_back({waiting, std::move(done)});
    }
    if (waiting.empty() && done)
        done();
}

void TDWImapConnectionPool::shutdown()
{
    std::vector<std::shared_ptr<TDWImapConnection>> connections;
    {
        std::lock_guard lock(m_mutex);
        m_shutdown = true;
        connections.swap(m_connections);
        m_queue.clear();
        m_claims.clear();
    }
    for (const auto &connection : connections)
        connection->stop();
    for (const auto &connection : connections)
        connection->joinOrDetach();
}

int TDWImapConnectionPool::connectionCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_connections.size());
}
