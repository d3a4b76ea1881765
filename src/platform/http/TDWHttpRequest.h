#pragma once

#include "platform/http/TDWHttpHostAllowlist.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>

class TDWHttpResponse;

// One HTTP request as the caller wants it sent, redirects included.
//
// The bearer token is kept apart from the headers: the client adds it only to
// https hops on the token's allowlist and on the host the request started on,
// so a redirect never carries it anywhere else.
//
// Time-outs are nominal durations; the client passes them through
// TDWClock::duration so that tests can shrink them. Zero means none.
class TDWHttpRequest
{
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;
    // Called on the worker thread with the bytes of the body received so far
    // and the expected total (-1 when the server did not say).
    using ProgressHandler = std::function<void(qint64 received, qint64 expected)>;
    // Called before a redirect is followed with the redirect response and the
    // request the client would send next; it may change that request (drop a
    // header, say) or answer false to stop, which makes the redirect response
    // the final one.
    using RedirectHandler = std::function<bool(const TDWHttpResponse &redirect, TDWHttpRequest &next)>;

    TDWHttpRequest() = default;
    explicit TDWHttpRequest(QUrl url, QByteArray method = QByteArrayLiteral("GET"));

    const QUrl &url() const { return m_url; }
    void setUrl(const QUrl &url) { m_url = url; }
    const QByteArray &method() const { return m_method; }
    void setMethod(const QByteArray &method) { m_method = method.toUpper(); }

    const Headers &headers() const { return m_headers; }
    // Replaces every header of that name (names compare case-insensitively).
    void setHeader(const QByteArray &name, const QByteArray &value);
    void removeHeader(const QByteArray &name);
    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const;

    const QByteArray &body() const { return m_body; }
    void setBody(const QByteArray &body) { m_body = body; }

    const QByteArray &bearerToken() const { return m_bearerToken; }
    const TDWHttpHostAllowlist &bearerHosts() const { return m_bearerHosts; }
    void setBearerToken(const QByteArray &token, const TDWHttpHostAllowlist &hosts);

    std::chrono::milliseconds connectTimeout() const { return m_connectTimeout; }
    void setConnectTimeout(std::chrono::milliseconds timeout) { m_connectTimeout = timeout; }
    // Longest time without any byte moving in either direction.
    std::chrono::milliseconds idleTimeout() const { return m_idleTimeout; }
    void setIdleTimeout(std::chrono::milliseconds timeout) { m_idleTimeout = timeout; }
    // Longest time for each hop as a whole.
    std::chrono::milliseconds totalTimeout() const { return m_totalTimeout; }
    void setTotalTimeout(std::chrono::milliseconds timeout) { m_totalTimeout = timeout; }

    int maxRedirects() const { return m_maxRedirects; }
    void setMaxRedirects(int count) { m_maxRedirects = count; }

    // When set, a 2xx body is streamed into this file, which is replaced only
    // once the whole body has arrived; other bodies stay in memory.
    const QString &downloadPath() const { return m_downloadPath; }
    void setDownloadPath(const QString &path) { m_downloadPath = path; }

    const ProgressHandler &progressHandler() const { return m_progressHandler; }
    void setProgressHandler(ProgressHandler handler) { m_progressHandler = std::move(handler); }
    const RedirectHandler &redirectHandler() const { return m_redirectHandler; }
    void setRedirectHandler(RedirectHandler handler) { m_redirectHandler = std::move(handler); }

private:
    QUrl m_url;
    QByteArray m_method = QByteArrayLiteral("GET");
    Headers m_headers;
    QByteArray m_body;
    QByteArray m_bearerToken;
    TDWHttpHostAllowlist m_bearerHosts;
    std::chrono::milliseconds m_connectTimeout = std::chrono::seconds(30);
    std::chrono::milliseconds m_idleTimeout = std::chrono::seconds(60);
    std::chrono::milliseconds m_totalTimeout{0};
    int m_maxRedirects = 10;
    QString m_downloadPath;
    ProgressHandler m_progressHandler;
    RedirectHandler m_redirectHandler;
};
