#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/imap/TDWImapFolderInfo.h"
#include "platform/imap/TDWImapResponseReader.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <thread>

class TDWImapBodySink;
class TDWImapCommand;
class TDWImapConnectionPool;
class TDWImapTlsSocket;
struct TDWImapResponse;
struct ssl_ctx_st;

// One IMAP connection, served by a thread of its own that does all its I/O:
// it connects, signs in, then takes commands from its pool and pipelines up to
// `pipelineDepth` of them, selecting (EXAMINE, read-only) the folder each
// needs. Untagged responses go to the command they belong to, message bodies
// stream into their sinks, and every wait is bounded by the time-out. A lost
// connection fails (or hands back, once) its commands; it never takes the
// process down, whatever the server sends.
class TDWImapConnection : public std::enable_shared_from_this<TDWImapConnection>
{
public:
    struct Settings
    {
        QString hostname;
        quint16 port = 993;
        QString username;
        QString accessToken;
        int timeoutMs = 60000;
        int pipelineDepth = 16;
        std::shared_ptr<ssl_ctx_st> tls;
    };

    TDWImapConnection(const Settings &settings, std::shared_ptr<TDWImapConnectionPool> pool);
    ~TDWImapConnection();

    void start();
    // New work may be waiting in the pool.
    void wake();
    // Ends the thread soon; commands still in flight are dropped without completion.
    void stop();
    // Logs out once the commands in flight are answered, then closes.
    void requestLogout();
    // Waits for the thread, or lets it finish on its own when called from it.
    void joinOrDetach();
    void detach();

    bool isReady() const { return m_ready; }
    bool isLeaving() const { return m_logoutRequested || m_stop; }
    // Commands taken from the pool and not yet done.
    int load() const { return m_load; }
    int pipelineDepth() const { return m_settings.pipelineDepth; }

private:
    struct InFlight
    {
        QByteArray tag;
        std::shared_ptr<TDWImapCommand> command;
        bool fromPool = false;
    };

    void run();
    bool establish();
    void serve();
    bool runInternal(const std::shared_ptr<TDWImapCommand> &command);
    bool readOnce(int timeoutMs);
    void pump();
    bool trySend(const std::shared_ptr<TDWImapCommand> &command);
    void send(const std::shared_ptr<TDWImapCommand> &command, bool fromPool);
    void sendSelection(const std::shared_ptr<TDWImapCommand> &examine, bool fromPool);
    bool flush();
    void fail(const TDWError &error);
    void finishCommands();
    // A command is done with this connection; one taken from the pool no longer counts as load.
    void commandDone(bool fromPool);

    void handleResponse(const QByteArray &text, const QList<TDWImapBodySink *> &sinks);
    void handleTagged(const TDWImapResponse &response);
    void handleState(const TDWImapResponse &response);
    void handleGreeting(const TDWImapResponse &response);
    void updateCapabilities(const QList<QByteArray> &words);
    TDWImapCommand *firstInFlight(int kind) const;
    TDWImapBodySink *routeLiteral(const QByteArray &earlier, const QByteArray &line, qint64 size);

    Settings m_settings;
    QString m_tracePeer;   // this connection in the wire trace
    std::shared_ptr<TDWImapConnectionPool> m_pool;
    std::thread m_thread;
    int m_wakeFd = -1;
    std::atomic<bool> m_stop = false;
    std::atomic<bool> m_logoutRequested = false;
    std::atomic<bool> m_ready = false;
    std::atomic<int> m_load = 0;

    std::unique_ptr<TDWImapTlsSocket> m_socket;
    TDWImapResponseReader m_reader;
    QSet<QByteArray> m_capabilities;
    int m_capabilityUpdates = 0;
    quint64 m_nextTag = 1;
    std::deque<InFlight> m_inFlight;
    int m_poolCommandsInFlight = 0;
    std::shared_ptr<TDWImapCommand> m_continuationTarget;
    std::shared_ptr<TDWImapCommand> m_held;   // from the pool, waiting for the selection to settle
    QByteArray m_out;
    bool m_logoutSent = false;
    bool m_closedByLogout = false;

    // The greeting.
    bool m_greeted = false;
    bool m_preauthenticated = false;
    QString m_byeText;

    // The selected folder, as far as the commands written so far go.
    QString m_selected;   // empty when none is (or will be) selected
    int m_selectionsInFlight = 0;
    bool m_refreshInFlight = false;
    // When the server last told the message count (EXAMINE, NOOP or an EXISTS).
    std::chrono::steady_clock::time_point m_countConfirmed;
    qint64 m_messageCount = -1;
    TDWImapFolderInfo m_selectionInfo;
    QString m_failedSelection;
    TDWError m_selectionError;

    TDWError m_fatal;
};
