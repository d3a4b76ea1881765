#pragma once

#include "platform/http/TDWHttpHostAllowlist.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

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

    static constexpr std::chrono::milliseconds DefaultTotalTimeout = std::chrono::minutes(5);
    static constexpr qint64 DefaultMinimumRate = 1024;
    // Well above the largest list page an API sends.
    static constexpr qint64 DefaultBodyLimit = qint64(64) << 20;

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
    // Longest time for the whole request, redirects included. Unless set, a
    // request whose body stays in memory has DefaultTotalTimeout, and a
    // download none: it may take hours, so it is held to a minimum rate instead.
    std::chrono::milliseconds totalTimeout() const;
    void setTotalTimeout(std::chrono::milliseconds timeout) { m_totalTimeout = timeout; }
    // The request fails when fewer than minimumRate() bytes a second move, on
    // average, for minimumRateWindow(). Unless set, a download must keep
    // DefaultMinimumRate and other requests have no minimum (their total
    // time-out bounds them).
    qint64 minimumRate() const;
    void setMinimumRate(qint64 bytesPerSecond) { m_minimumRate = bytesPerSecond; }
    std::chrono::milliseconds minimumRateWindow() const { return m_minimumRateWindow; }
    void setMinimumRateWindow(std::chrono::milliseconds window) { m_minimumRateWindow = window; }

    // Most bytes of a body kept in memory, counted after any decoding; a body
    // that grows past it fails the request with TDWHttpError::TooLarge. What a
    // download streams to its file is not counted.
    qint64 bodyLimit() const { return m_bodyLimit; }
    void setBodyLimit(qint64 bytes) { m_bodyLimit = bytes; }

    int maxRedirects() const { return m_maxRedirects; }
    void setMaxRedirects(int count) { m_maxRedirects = count; }

    // When set, the body of a 200 answer is streamed into this file through
    // TDWSafeFile, so the file is replaced only once the whole body has
    // arrived; other bodies (a 204's or a 206's too) stay in memory.
    const QString &downloadPath() const { return m_downloadPath; }
    void setDownloadPath(const QString &path) { m_downloadPath = path; }

    // What a body streamed to the download file must be to replace the file,
    // counted after any decoding (a few compressed bytes may unpack to
    // gigabytes). A body that grows past `limit` ends the request at once
    // (TDWHttpError::TooLarge); one of another `size` or `md5` fails it at its
    // end (TDWHttpError::Mismatch). Either way the file stays as it was.
    struct DownloadCheck
    {
        qint64 limit = -1;  // most bytes; -1: no bound
        qint64 size = -1;   // the exact size; -1: unknown
        QByteArray md5;     // the MD5 digest in hexadecimal; empty: unknown
    };
    const DownloadCheck &downloadCheck() const { return m_downloadCheck; }
    void setDownloadCheck(const DownloadCheck &check) { m_downloadCheck = check; }

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
    std::optional<std::chrono::milliseconds> m_totalTimeout;
    std::optional<qint64> m_minimumRate;
    std::chrono::milliseconds m_minimumRateWindow = std::chrono::seconds(60);
    qint64 m_bodyLimit = DefaultBodyLimit;
    int m_maxRedirects = 10;
    QString m_downloadPath;
    DownloadCheck m_downloadCheck;
    ProgressHandler m_progressHandler;
    RedirectHandler m_redirectHandler;
};
