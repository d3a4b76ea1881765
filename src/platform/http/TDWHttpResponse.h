#pragma once

#include "platform/foundation/TDWError.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

// What came back for a request: either an HTTP answer (status, headers, body,
// the URL that gave it) or a TDWHttpError saying why there is none.
class TDWHttpResponse
{
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    TDWHttpResponse() = default;
    static TDWHttpResponse failure(const TDWError &error, const QUrl &url);

    // Null when an HTTP answer arrived (whatever its status); otherwise in
    // the TDWHttpError domain.
    const TDWError &error() const { return m_error; }
    bool hasResponse() const { return m_error.isNull(); }

    int statusCode() const { return m_statusCode; }
    void setStatusCode(int status) { m_statusCode = status; }
    bool isRedirect() const;
    // How far the failure reaches that this status means to a caller that
    // wanted another: 401 the sign-in; 404 and 410 the item; 5xx and a rate
    // limit (429, or a 403 naming one) the connection; any other the request.
    TDWError::Scope statusScope() const;
    // TDWHttpError::Status with the status as its detail and statusScope().
    TDWError statusError() const;
    // The reason of Google's JSON error in the body when it names a rate limit
    // ("rateLimitExceeded", "userRateLimitExceeded"); empty otherwise.
    QString rateLimitReason() const;

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
    TDWError m_error;
    int m_statusCode = 0;
    Headers m_headers;
    QByteArray m_body;
    bool m_bodyInFile = false;
    QUrl m_url;
    int m_redirectCount = 0;
};
