#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct ssl_ctx_st;
struct ssl_st;

// A TLS server on 127.0.0.1 that plays a script per connection, for what a
// real server will not do on demand: stall, send garbage, drop a connection,
// or hold its answers until several commands are in. Each connection runs on
// a thread of its own; reads give up after a few seconds so no test can hang.
class ImapScriptedServer
{
public:
    struct Certificate
    {
        QString certFile;
        QString keyFile;
    };
    // A self-signed certificate (its own CA) for the given subjectAltName, e.g. "IP:127.0.0.1".
    static Certificate makeCertificate(const QString &subjectAltName);

    // One accepted connection, as the script sees it.
    class Peer
    {
    public:
        // The next line without CRLF; empty when the client closed or nothing came in time.
        QByteArray readLine();
        // The next command line, which must start with a tag and `verb` (e.g. "LIST").
        QByteArray expect(const QByteArray &verb);
        void send(const QByteArray &bytes);
        // Says nothing until the client hangs up, however long its time-out
        // (a test failure after a minute, so a client that never gives up cannot hang the test).
        void waitForHangUp();
        // Closes the connection from the server's side.
        void close();
        int index() const { return m_index; }
        static QByteArray tagOf(const QByteArray &line) { return line.left(line.indexOf(' ')); }

    private:
        friend class ImapScriptedServer;
        int m_fd = -1;
        ssl_st *m_ssl = nullptr;
        int m_index = 0;
        QByteArray m_buffer;
    };
    using Script = std::function<void(Peer &)>;

    // With an empty certificate the server accepts TCP connections and never says a word.
    ImapScriptedServer(const Certificate &certificate, Script script);
    ~ImapScriptedServer();

    quint16 port() const { return m_port; }
    int connectionCount() const { return m_connections; }

private:
    void acceptLoop();
    void serve(int fd, int index);

    std::shared_ptr<ssl_ctx_st> m_context;
    Script m_script;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop = false;
    std::atomic<int> m_connections = 0;
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::vector<std::thread> m_threads;
    std::vector<int> m_openFds;
};
