#pragma once

#include "platform/foundation/TDWError.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>

struct ssl_ctx_st;
struct ssl_st;

// A TCP connection with TLS from the first byte, on non-blocking sockets so
// that every wait is bounded by a time-out and can be interrupted: a write to
// the wake descriptor (an eventfd owned by the caller) ends any wait, and when
// `stop` is set the connect and write calls give up with a Cancelled error.
// The certificate chain and the host name (or IP address) are always verified.
class TDWImapTlsSocket
{
public:
    // A client context trusting the system's certificate authorities and, when
    // given, those in `extraCaFile` (PEM).
    static std::shared_ptr<ssl_ctx_st> makeContext(const QString &extraCaFile, TDWError *error);

    TDWImapTlsSocket(std::shared_ptr<ssl_ctx_st> context, int wakeFd, const std::atomic<bool> *stop);
    ~TDWImapTlsSocket();
    TDWImapTlsSocket(const TDWImapTlsSocket &) = delete;
    TDWImapTlsSocket &operator=(const TDWImapTlsSocket &) = delete;

    // Connects and completes the TLS handshake; each step waits at most `timeoutMs`.
    bool connectToHost(const QString &host, quint16 port, int timeoutMs, TDWError *error);

    enum class Wait { Readable, Woken, TimedOut };
    // Waits until bytes can be read, the wake descriptor fires or `timeoutMs` passes (-1: no limit).
    Wait waitForReadable(int timeoutMs);
    // Reads without blocking: the number of bytes, 0 when nothing is there now, -1 when the
    // connection ended (error says how).
    qsizetype readAvailable(char *buffer, qsizetype size, TDWError *error);
    // Sends everything, waiting at most `timeoutMs` whenever the socket cannot take more.
    bool writeAll(const QByteArray &data, int timeoutMs, TDWError *error);

    void close();

private:
    enum class PollResult { Ready, Woken, TimedOut, Failed };
    PollResult pollFor(short events, int timeoutMs);
    bool waitDuringCall(int sslError, int timeoutMs, const QString &what, TDWError *error);
    bool connectTcp(const QString &host, quint16 port, int timeoutMs, TDWError *error);
    bool handshake(const QString &host, int timeoutMs, TDWError *error);

    std::shared_ptr<ssl_ctx_st> m_context;
    int m_wakeFd;
    const std::atomic<bool> *m_stop;
    int m_fd = -1;
    ssl_st *m_ssl = nullptr;
    bool m_readWantsWrite = false;
    QString m_peer;
};
