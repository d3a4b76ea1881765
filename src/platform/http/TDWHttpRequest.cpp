#include "platform/http/TDWHttpRequest.h"

TDWHttpRequest::TDWHttpRequest(QUrl url, QByteArray method)
    : m_url(std::move(url))
    , m_method(method.toUpper())
{
}

void TDWHttpRequest::setHeader(const QByteArray &name, const QByteArray &value)
{
    removeHeader(name);
    m_headers.append({name, value});
}

void TDWHttpRequest::removeHeader(const QByteArray &name)
{
    m_headers.removeIf([&](const QPair<QByteArray, QByteArray> &h) { return h.first.compare(name, Qt::CaseInsensitive) == 0; });
}

QByteArray TDWHttpRequest::header(const QByteArray &name) const
{
    for (const auto &h : m_headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

bool TDWHttpRequest::hasHeader(const QByteArray &name) const
{
    for (const auto &h : m_headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void TDWHttpRequest::setBearerToken(const QByteArray &token, const TDWHttpHostAllowlist &hosts)
{
    m_bearerToken = token;
    m_bearerHosts = hosts;
}

std::chrono::milliseconds TDWHttpRequest::totalTimeout() const
{
    return m_totalTimeout.value_or(m_downloadPath.isEmpty() ? DefaultTotalTimeout : std::chrono::milliseconds(0));
}

qint64 TDWHttpRequest::minimumRate() const
{
    return m_minimumRate.value_or(m_downloadPath.isEmpty() ? 0 : DefaultMinimumRate);
}
