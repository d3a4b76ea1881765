#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QPair>
#include <QString>
#include <QUrl>

// What came back for a request: either an HTTP answer (status, headers, body,
// the URL that gave it) or an error kind saying why there is none.
class TDWHttpResponse
{
public:
    enum class Error {
        None,             // an HTTP answer arrived; see statusCode()
        Timeout,          // connect, idle or total time-out
        Cancelled,        // cancel() from another thread
        Tls,              // handshake or certificate verification failed
        Resolve,          // the host name could not be resolved
        Connect,          // no connection to the host
        TooManyRedirects, // more redirects than the request allows
        BadUrl,           // not an http(s) URL, in the request or a redirect
        File,             // the download file could not be written
        Network,          // the connection broke or the answer was not HTTP
    };
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    TDWHttpResponse() = default;
    static TDWHttpResponse failure(Error error, const QString &detail, const QUrl &url);

    Error error() const { return m_error; }
    bool hasResponse() const { return m_error == Error::None; }
    // A sentence for users and logs; never names headers or tokens.
    QString errorDescription() const;
    const QString &errorDetail() const { return m_errorDetail; }

    int statusCode() const { return m_statusCode; }
    void setStatusCode(int status) { m_statusCode = status; }
    bool isRedirect() const;

    const Headers &headers() const { return m_headers; }
    void setHeaders(const Headers &headers) { m_headers = headers; }
    // The first value of that header (names compare case-insensitively).
    QByteArray header(const QByteArray &name) const;

    // The body in memory; empty when it went to the request's download file.
    const QByteArray &body() const { return m_body; }
    void setBody(const QByteArray &body) { m_body = body; }
    bool bodyInFile() const { return m_bodyInFile; }
    void setBodyInFile(bool inFile) { m_bodyInFile = inFile; }

    // The URL of the hop that gave this answer (after any redirects).
    const QUrl &url() const { return m_url; }
    void setUrl(const QUrl &url) { m_url = url; }
    int redirectCount() const { return m_redirectCount; }
    void setRedirectCount(int count) { m_redirectCount = count; }

private:
    Error m_error = Error::None;
    QString m_errorDetail;
    int m_statusCode = 0;
    Headers m_headers;
    QByteArray m_body;
    bool m_bodyInFile = false;
    QUrl m_url;
    int m_redirectCount = 0;
};

Q_DECLARE_METATYPE(TDWHttpResponse)
