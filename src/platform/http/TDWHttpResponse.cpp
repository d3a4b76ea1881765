#include "platform/http/TDWHttpResponse.h"

#include "platform/http/TDWHttpError.h"
#include "platform/json/TDWJsonReader.h"

#include <optional>

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

TDWError::Scope TDWHttpResponse::statusScope() const
{
    switch (m_statusCode) {
    case 401:
        return TDWError::Scope::SignIn;
    case 404:
    case 410:
        return TDWError::Scope::Item;
    case 429:
        return TDWError::Scope::Connection;
    case 403:
        return rateLimitReason().isEmpty() ? TDWError::Scope::Request : TDWError::Scope::Connection;
    default:
        return m_statusCode >= 500 && m_statusCode <= 599 ? TDWError::Scope::Connection : TDWError::Scope::Request;
    }
}

TDWError TDWHttpResponse::statusError() const
{
    return TDWHttpError::make(TDWHttpError::Status, QString::number(m_statusCode)).withScope(statusScope());
}

QString TDWHttpResponse::rateLimitReason() const
{
    // A body that is no such error (or not one the reader takes) names none.
    TDWJsonReader reader;
    const std::optional<TDWJsonObject> answer = reader.readObject(m_body);
    if (!answer)
        return {};
    try {
        const std::optional<TDWJsonObject> error = answer->optObject("error");
        const std::optional<QList<TDWJsonObject>> errors = error ? error->optObjectArray("errors") : std::nullopt;
        for (const TDWJsonObject &item : errors.value_or(QList<TDWJsonObject>())) {
            const QString reason = item.optString("reason");
            if (reason == QLatin1String("rateLimitExceeded") || reason == QLatin1String("userRateLimitExceeded"))
                return reason;
        }
    } catch (const TDWJsonObject::TypeError &) {
        // An "error" of another shape: an OAuth error name, say.
    }
    return {};
}
