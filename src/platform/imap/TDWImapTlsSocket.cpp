#include "platform/imap/TDWImapTlsSocket.h"

#include "platform/imap/TDWImapError.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString systemError(int errorNumber)
{
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

QString openSslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (!code)
        return QStringLiteral("unknown TLS error");
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

bool isIpAddress(const QString &host)
{
    unsigned char buffer[sizeof(struct in6_addr)];
    const QByteArray h = host.toLatin1();
    return inet_pton(AF_INET, h.constData(), buffer) == 1 || inet_pton(AF_INET6, h.constData(), buffer) == 1;
}

void drainWake(int wakeFd)
{
    quint64 value;
    while (::read(wakeFd, &value, sizeof value) > 0) {
    }
}

} // namespace

std::shared_ptr<ssl_ctx_st> TDWImapTlsSocket::makeContext(const QString &extraCaFile, TDWError *error)
{
    std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (!context) {
        tdwSetError(error, TDWImapError::make(TDWImapError::TLS, QStringLiteral("Unable to set up TLS: %1").arg(openSslError())));
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_mode(context.get(), SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_default_verify_paths(context.get());
    if (!extraCaFile.isEmpty()
        && SSL_CTX_load_verify_locations(context.get(), QFile::encodeName(extraCaFile).constData(), nullptr) != 1) {
        tdwSetError(error, TDWImapError::make(TDWImapError::Certificate,
                                              QStringLiteral("Unable to read the certificate authorities in “%1”: %2").arg(extraCaFile, openSslError())));
        return nullptr;
    }
    return context;
}

TDWImapTlsSocket::TDWImapTlsSocket(std::shared_ptr<ssl_ctx_st> context, int wakeFd, const std::atomic<bool> *stop)
    : m_context(std::move(context)), m_wakeFd(wakeFd), m_stop(stop)
{
}

TDWImapTlsSocket::~TDWImapTlsSocket()
{
    close();
}

void TDWImapTlsSocket::close()
{
    if (m_ssl) {
        // A best-effort close_notify: the socket is non-blocking, so this never waits.
        SSL_shutdown(m_ssl);
        SSL_free(m_ssl);
        m_ssl = nullptr;
        ERR_clear_error();
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

TDWImapTlsSocket::PollResult TDWImapTlsSocket::pollFor(short events, int timeoutMs)
{
    pollfd fds[2] = {{m_fd, events, 0}, {m_wakeFd, POLLIN, 0}};
    while (true) {
        const int n = ::poll(fds, 2, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return PollResult::Failed;
        if (n == 0)
            return PollResult::TimedOut;
        if (fds[1].revents)
            return PollResult::Woken;
        return PollResult::Ready;
    }
}

// Waits for what OpenSSL asked for in the middle of a connect or write; a wake
// only ends the wait when the owner stops.
bool TDWImapTlsSocket::waitDuringCall(int sslError, int timeoutMs, const QString &what, TDWError *error)
{
    const short events = sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN;
    while (true) {
        switch (pollFor(events, timeoutMs)) {
        case PollResult::Ready:
            return true;
        case PollResult::Woken:
            drainWake(m_wakeFd);
            // Tell the owner's loop about the work that woke us: it looks at its queue after the call anyway.
            if (m_stop && m_stop->load()) {
                tdwSetError(error, TDWImapError::make(TDWImapError::Cancelled, QStringLiteral("The connection was closed.")));
                return false;
            }
            continue;
        case PollResult::TimedOut:
            tdwSetError(error, TDWImapError::make(TDWImapError::Timeout, QStringLiteral("%1 %2 timed out.").arg(what, m_peer)));
            return false;
        case PollResult::Failed:
            tdwSetError(error, TDWImapError::make(TDWImapError::Connection, QStringLiteral("%1 %2 failed: %3").arg(what, m_peer, systemError(errno))));
            return false;
        }
    }
}

bool TDWImapTlsSocket::connectToHost(const QString &host, quint16 port, int timeoutMs, TDWError *error)
{
    close();
    m_peer = QStringLiteral("%1:%2").arg(host).arg(port);
    return connectTcp(host, port, timeoutMs, error) && handshake(host, timeoutMs, error);
}

bool TDWImapTlsSocket::connectTcp(const QString &host, quint16 port, int timeoutMs, TDWError *error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *addresses = nullptr;
    const int rc = ::getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &addresses);
    if (rc != 0) {
        tdwSetError(error, TDWImapError::make(TDWImapError::Connection,
                                              QStringLiteral("Unable to find the server %1: %2").arg(host, QString::fromLocal8Bit(gai_strerror(rc)))));
        return false;
    }
    TDWError last = TDWImapError::make(TDWImapError::Connection, QStringLiteral("Unable to connect to %1").arg(m_peer));
    for (addrinfo *a = addresses; a; a = a->ai_next) {
        m_fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (m_fd < 0)
            continue;
        // Pipelined commands are small; sending them at once beats Nagle's wait.
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(m_fd, a->ai_addr, a->ai_addrlen) == 0 || (errno == EINPROGRESS && waitDuringCall(SSL_ERROR_WANT_WRITE, timeoutMs, QStringLiteral("Connecting to"), &last))) {
            int soError = 0;
            socklen_t length = sizeof soError;
            ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &soError, &length);
            if (soError == 0) {
                ::freeaddrinfo(addresses);
                return true;
            }
            last = TDWImapError::make(TDWImapError::Connection, QStringLiteral("Unable to connect to %1: %2").arg(m_peer, systemError(soError)));
        } else if (last.code() != TDWImapError::Timeout && last.code() != TDWImapError::Cancelled) {
            last = TDWImapError::make(TDWImapError::Connection, QStringLiteral("Unable to connect to %1: %2").arg(m_peer, systemError(errno)));
        }
        ::close(m_fd);
        m_fd = -1;
        if (last.code() == TDWImapError::Cancelled)
            break;
    }
    ::freeaddrinfo(addresses);
    tdwSetError(error, last);
    return false;
}

bool TDWImapTlsSocket::handshake(const QString &host, int timeoutMs, TDWError *error)
{
    m_ssl = SSL_new(m_context.get());
    if (!m_ssl || SSL_set_fd(m_ssl, m_fd) != 1) {
        tdwSetError(error, TDWImapError::make(TDWImapError::TLS, QStringLiteral("Unable to set up TLS: %1").arg(openSslError())));
        return false;
    }
    const QByteArray name = host.toUtf8();
    if (isIpAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), name.constData());
    } else {
        SSL_set_hostflags(m_ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        SSL_set1_host(m_ssl, name.constData());
        SSL_set_tlsext_host_name(m_ssl, name.constData());
    }
    while (true) {
        ERR_clear_error();
        const int rc = SSL_connect(m_ssl);
        if (rc == 1)
            return true;
        const int sslError = SSL_get_error(m_ssl, rc);
        if (sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE) {
            if (!waitDuringCall(sslError, timeoutMs, QStringLiteral("The TLS handshake with"), error))
                return false;
            continue;
        }
        const long verify = SSL_get_verify_result(m_ssl);
        if (verify != X509_V_OK) {
            ERR_clear_error();
            tdwSetError(error, TDWImapError::make(TDWImapError::Certificate,
                                                  QStringLiteral("The certificate of %1 is not trusted: %2")
                                                      .arg(m_peer, QString::fromLatin1(X509_verify_cert_error_string(verify)))));
        } else if (sslError == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
            tdwSetError(error, TDWImapError::make(TDWImapError::TLS, QStringLiteral("%1 closed the connection during the TLS handshake.").arg(m_peer)));
        } else {
            tdwSetError(error, TDWImapError::make(TDWImapError::TLS, QStringLiteral("The TLS handshake with %1 failed: %2").arg(m_peer, openSslError())));
        }
        return false;
    }
}

TDWImapTlsSocket::Wait TDWImapTlsSocket::waitForReadable(int timeoutMs)
{
    if (m_ssl && SSL_pending(m_ssl) > 0)
        return Wait::Readable;
    switch (pollFor(short(POLLIN | (m_readWantsWrite ? POLLOUT : 0)), timeoutMs)) {
    case PollResult::Woken:
        drainWake(m_wakeFd);
        return Wait::Woken;
    case PollResult::TimedOut:
        return Wait::TimedOut;
    case PollResult::Ready:
    case PollResult::Failed:
        // A failed poll shows up as an error on the next read.
        return Wait::Readable;
    }
    return Wait::Readable;
}

qsizetype TDWImapTlsSocket::readAvailable(char *buffer, qsizetype size, TDWError *error)
{
    if (!m_ssl) {
        tdwSetError(error, TDWImapError::make(TDWImapError::Connection, QStringLiteral("Not connected.")));
        return -1;
    }
    ERR_clear_error();
    errno = 0;
    m_readWantsWrite = false;
    const int n = SSL_read(m_ssl, buffer, int(std::min<qsizetype>(size, 1 << 30)));
    if (n > 0)
        return n;
    const int sslError = SSL_get_error(m_ssl, n);
    if (sslError == SSL_ERROR_WANT_READ)
        return 0;
    if (sslError == SSL_ERROR_WANT_WRITE) {
        m_readWantsWrite = true;
        return 0;
    }
    if (sslError == SSL_ERROR_ZERO_RETURN || (sslError == SSL_ERROR_SYSCALL && ERR_peek_error() == 0 && errno == 0))
        tdwSetError(error, TDWImapError::make(TDWImapError::Connection, QStringLiteral("%1 closed the connection.").arg(m_peer)));
    else
        tdwSetError(error, TDWImapError::make(TDWImapError::Connection, QStringLiteral("Reading from %1 failed: %2")
                                                                         .arg(m_peer, sslError == SSL_ERROR_SYSCALL ? systemError(errno) : openSslError())));
    return -1;
}

bool TDWImapTlsSocket::writeAll(const QByteArray &data, int timeoutMs, TDWError *error)
{
    if (!m_ssl) {
        tdwSetError(error, TDWImapError::make(TDWImapError::Connection, QStringLiteral("Not connected.")));
        return false;
    }
    qsizetype done = 0;
    while (done < data.size()) {
        ERR_clear_error();
        errno = 0;
        const int n = SSL_write(m_ssl, data.constData() + done, int(std::min<qsizetype>(data.size() - done, 1 << 30)));
        if (n > 0) {
            done += n;
            continue;
        }
        const int sslError = SSL_get_error(m_ssl, n);
        if (sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE) {
            if (!waitDuringCall(sslError, timeoutMs, QStringLiteral("Writing to"), error))
                return false;
            continue;
        }
        tdwSetError(error, TDWImapError::make(TDWImapError::Connection, QStringLiteral("Writing to %1 failed: %2")
                                                                         .arg(m_peer, sslError == SSL_ERROR_SYSCALL ? systemError(errno) : openSslError())));
        return false;
    }
    return true;
}
