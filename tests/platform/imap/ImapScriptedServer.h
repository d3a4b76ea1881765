#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct ssl_ctx_st;

// A TLS server on 127.0.0.1 that plays a dialogue per connection, for what a
// real server will not do on demand: stall, send garbage, drop a connection,
// or hold its answers until several commands are in. A dialogue is the
// exchange as full protocol lines:
//   "S: * OK ready"    the server sends this line (consecutive ones in one write)
//   "C: T1 NOOP"       the client's next line must be exactly this
//   "X"                the server closes the connection
// A client line that differs, or none within a few seconds, fails the test and
// ends the connection. After the last line the client must send nothing more
// until it hangs up (it gets a minute, so a client that never gives up cannot
// hang the test). Each connection runs on a thread of its own.
class ImapScriptedServer
{
public:
    using Dialogue = QList<QByteArray>;

    struct Certificate
    {
        QString certFile;
        QString keyFile;
    };
    // A self-signed certificate (its own CA) for the given subjectAltName, e.g. "IP:127.0.0.1".
    static Certificate makeCertificate(const QString &subjectAltName);

    // Connection i plays dialogues[i]; later connections play the last one.
    // With an empty certificate the server accepts TCP connections and never says a word.
    ImapScriptedServer(const Certificate &certificate, QList<Dialogue> dialogues);
    ImapScriptedServer(const Certificate &certificate, const Dialogue &dialogue)
        : ImapScriptedServer(certificate, QList<Dialogue>{dialogue})
    {
    }
    ~ImapScriptedServer();

    quint16 port() const { return m_port; }
    int connectionCount() const { return m_connections; }

private:
    class Connection;

    void acceptLoop();
    void serve(int fd, int index);

    std::shared_ptr<ssl_ctx_st> m_context;
    QList<Dialogue> m_dialogues;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop = false;
    std::atomic<int> m_connections = 0;
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::vector<std::thread> m_threads;
    std::vector<int> m_openFds;
};
