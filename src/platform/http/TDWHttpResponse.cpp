#include "platform/http/TDWHttpResponse.h"

TDWHttpResponse TDWHttpResponse::failure(const TDWError &error, const QUrl &url)
{
    TDWHttpResponse response;
    response.m_error = error;
    response.m_url = url;
    return response;
}

bool TDWHttpResponse::isRedirect() const
{
    return hasResponse()
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
