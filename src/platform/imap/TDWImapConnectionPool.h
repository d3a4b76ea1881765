#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/imap/TDWImapConnection.h"

#include <QMap>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class TDWImapCommand;

// The commands of one session waiting for a connection, and the connections
// that serve them. Connections open on demand, up to the maximum: another one
// when the queue outgrows what the open ones pipeline, or when an urgent
// command finds them all busy. A connection takes the commands of the folder it
// has selected first. When no connection can be opened (refused, untrusted
// certificate, rejected token), the waiting commands fail with that error.
class TDWImapConnectionPool : public std::enable_shared_from_this<TDWImapConnectionPool>
{
public:
    struct Configuration
    {
        TDWImapConnection::Settings connection;
        int maximumConnections = 1;
        bool allowsFolderConcurrentAccess = true;
        // Set when the settings cannot work; every command then fails with it.
        TDWError settingsError;
    };

    static std::shared_ptr<TDWImapConnectionPool> create();
    ~TDWImapConnectionPool();

    // Applies to connections opened from now on.
    void configure(const Configuration &configuration);
    void submit(const std::shared_ptr<TDWImapCommand> &command);
    // Every open connection logs out once its commands are answered; `done` runs
    // (on some thread) when they all have closed.
    void disconnect(std::function<void()> done);
    // Closes every connection now and drops the queue.
    void shutdown();
    int connectionCount() const;

    // Called by connections, on their threads.
    std::shared_ptr<TDWImapCommand> take(TDWImapConnection *connection, const QString &selectedFolder);
    void requeue(const std::shared_ptr<TDWImapCommand> &command);
    void connectionEnded(TDWImapConnection *connection, const TDWError &error, bool wasReady);

private:
    struct Disconnect
    {
        std::vector<TDWImapConnection *> waiting;
        std::function<void()> done;
    };

    TDWImapConnectionPool() = default;
    void spawnIfNeededLocked(bool urgent);
    bool mayWorkInLocked(TDWImapConnection *connection, const QString &folder) const;

    mutable std::mutex m_mutex;
    Configuration m_configuration;
    std::deque<std::shared_ptr<TDWImapCommand>> m_queue;
    std::vector<std::shared_ptr<TDWImapConnection>> m_connections;
    QMap<TDWImapConnection *, QString> m_claims;
    std::vector<Disconnect> m_disconnects;
    bool m_shutdown = false;
};
