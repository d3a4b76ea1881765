#include "ImapScriptedServer.h"

#include "TestSupport.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

ImapScriptedServer::Certificate ImapScriptedServer::makeCertificate(const QString &subjectAltName)
{
    const QString dir = tdwtest::freshDir(QStringLiteral("cert"));
    Certificate c{dir + QStringLiteral("/cert.pem"), dir + QStringLiteral("/key.pem")};
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=scripted test server"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=") + subjectAltName, QStringLiteral("-keyout"), c.keyFile, QStringLiteral("-out"), c.certFile});
    openssl.waitForFinished(60000);
    EXPECT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().toStdString();
    return c;
}

// One accepted connection playing its dialogue.
class ImapScriptedServer::Connection
{
public:
    Connection(int fd, ssl_st *ssl, int index)
        : m_fd(fd)
        , m_ssl(ssl)
        , m_index(index)
    {
    }

    void play(const Dialogue &dialogue)
    {
        for (const QByteArray &line : dialogue) {
            if (line.startsWith("S: ")) {
                m_pending += line.mid(3) + "\r\n";
                continue;
            }
            flush();
            if (line == "X") {
                close();
                return;
            }
            if (!line.startsWith("C: ")) {
                ADD_FAILURE() << "not a dialogue line: " << line.toStdString();
                close();
                return;
            }
            const std::optional<QByteArray> sent = readLine();
            if (sent != line.mid(3)) {
                ADD_FAILURE() << "connection " << m_index << " expected \"" << line.toStdString() << "\", the client "
                              << (sent ? "sent \"C: " + sent->left(200).toStdString() + '"' : std::string("sent nothing"));
                close();
                return;
            }
        }
        flush();
        expectNothingMore();
    }

    void close()
    {
        SSL_shutdown(m_ssl);
        ::shutdown(m_fd, SHUT_RDWR);
    }

private:
    enum class Read { Data, Silent, Closed };

    Read readMore()
    {
        char chunk[4096];
        const int n = SSL_read(m_ssl, chunk, sizeof chunk);
        if (n > 0) {
            m_buffer.append(chunk, n);
            return Read::Data;
        }
        // Reads give up after a few seconds (the socket's receive time-out).
        return SSL_get_error(m_ssl, n) == SSL_ERROR_WANT_READ ? Read::Silent : Read::Closed;
    }

    // The client's next line without CRLF; nothing when it closed or stayed silent.
    std::optional<QByteArray> readLine()
    {
        while (true) {
            const qsizetype newline = m_buffer.indexOf('\n');
            if (newline >= 0) {
                QByteArray line = m_buffer.left(newline);
                m_buffer.remove(0, newline + 1);
                if (line.endsWith('\r'))
                    line.chop(1);
                return line;
            }
            if (readMore() != Read::Data)
                return std::nullopt;
        }
    }

    void flush()
    {
        if (!m_pending.isEmpty())
            SSL_write(m_ssl, m_pending.constData(), int(m_pending.size()));
        m_pending.clear();
    }

    // Waits for the client to hang up; anything it sends first is a failure.
    void expectNothingMore()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (m_buffer.isEmpty()) {
            const Read read = readMore();
            if (read == Read::Closed)
                return;
            if (read == Read::Silent && std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "connection " << m_index << ": the client never hung up";
                close();
                return;
            }
        }
        ADD_FAILURE() << "connection " << m_index << ": the client sent more after the dialogue: \"" << m_buffer.left(200).toStdString() << '"';
        close();
    }

    int m_fd;
    ssl_st *m_ssl;
    int m_index;
    QByteArray m_buffer;
    QByteArray m_pending;
};

ImapScriptedServer::ImapScriptedServer(const Certificate &certificate, QList<Dialogue> dialogues)
    : m_dialogues(std::move(dialogues))
{
    if (!certificate.certFile.isEmpty()) {
        m_context.reset(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
        EXPECT_EQ(SSL_CTX_use_certificate_file(m_context.get(), QFile::encodeName(certificate.certFile).constData(), SSL_FILETYPE_PEM), 1);
        EXPECT_EQ(SSL_CTX_use_PrivateKey_file(m_context.get(), QFile::encodeName(certificate.keyFile).constData(), SSL_FILETYPE_PEM), 1);
    }
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(m_listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(m_listenFd, 16), 0);
    socklen_t length = sizeof address;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

ImapScriptedServer::~ImapScriptedServer()
{
    m_stop = true;
    m_acceptThread.join();
    {
        // Unblock scripts that still wait for the client.
        std::lock_guard lock(m_mutex);
        for (int fd : m_openFds)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread &t : m_threads)
        t.join();
    for (int fd : m_openFds)
        ::close(fd);
    ::close(m_listenFd);
}

void ImapScriptedServer::acceptLoop()
{
    // A write to a client that has hung up must fail, not end the test process
    // with SIGPIPE; the connection threads started here inherit the mask.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    while (!m_stop) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int index = m_connections++;
        std::lock_guard lock(m_mutex);
        m_openFds.push_back(fd);
        m_threads.emplace_back([this, fd, index] { serve(fd, index); });
    }
}

void ImapScriptedServer::serve(int fd, int index)
{
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (!m_context) {
        // Silent: hold the connection open until the test ends.
        while (!m_stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return;
    }
    ssl_st *ssl = SSL_new(m_context.get());
    SSL_set_fd(ssl, fd);
    Connection connection(fd, ssl, index);
    if (SSL_accept(ssl) == 1 && !m_dialogues.isEmpty())
        connection.play(m_dialogues.value(index, m_dialogues.last()));
    // The dialogue is done: the connection ends (the descriptor closes with the server).
    connection.close();
    SSL_free(ssl);
    ERR_clear_error();
}
