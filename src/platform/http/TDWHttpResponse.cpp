#include "platform/http/TDWHttpResponse.h"

#include <QCoreApplication>

TDWHttpResponse TDWHttpResponse::failure(Error error, const QString &detail, const QUrl &url)
{
    TDWHttpResponse response;
    response.m_error = error;
    response.m_errorDetail = detail;
    response.m_url = url;
    return response;
}

QString TDWHttpResponse::errorDescription() const
{
    const char *text = nullptr;
    switch (m_error) {
    case Error::None:
        return {};
    case Error::Timeout:
        text = "The request timed out.";
        break;
    case Error::Cancelled:
        text = "The request was cancelled.";
        break;
    case Error::Tls:
        text = "A secure connection to the server could not be made.";
        break;
    case Error::Resolve:
        text = "The server could not be found.";
        break;
    case Error::Connect:
        text = "Could not connect to the server.";
        break;
    case Error::TooManyRedirects:
        text = "The server redirected the request too many times.";
        break;
    case Error::BadUrl:
        text = "The address of the request is not supported.";
        break;
    case Error::File:
        text = "The downloaded data could not be written to disk.";
        break;
    case Error::Network:
        text = "The network connection was lost.";
        break;
    }
    const QString sentence = QCoreApplication::translate("TDWHttpResponse", text);
    return m_errorDetail.isEmpty() ? sentence : sentence + QStringLiteral(" (") + m_errorDetail + QLatin1Char(')');
}

bool TDWHttpResponse::isRedirect() const
{
    return m_error == Error::None
        && (m_statusCode == 301 || m_statusCode == 302 || m_statusCode == 303 || m_statusCode == 307 || m_statusCode == 308);
}

QByteArray TDWHttpResponse::header(const QByteArray &name) const
{
    for (const auto &h : m_headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}
