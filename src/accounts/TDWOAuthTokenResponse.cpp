#include "accounts/TDWOAuthTokenResponse.h"

#include "platform/http/TDWHttpResponse.h"

#include <nlohmann/json.hpp>

namespace {

QString stringMember(const nlohmann::json &object, const char *key)
{
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? QString::fromStdString(it->get<std::string>()) : QString();
}

// Longest access-token lifetime taken as real: a larger one (or 1e300, which
// no integer holds) would give an expiry that never comes.
constexpr qint64 MaxLifetimeSeconds = 365LL * 24 * 3600;

// Seconds in (0, a year]; Google sends a number, and a numeric string is taken
// as well. Anything else makes 0, an answer without a usable lifetime.
qint64 lifetimeMember(const nlohmann::json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end())
        return 0;
    qint64 value = 0;
    if (it->is_number_unsigned()) {
        const quint64 unsignedValue = it->get<quint64>();
        value = unsignedValue <= quint64(MaxLifetimeSeconds) ? qint64(unsignedValue) : 0;
    } else if (it->is_number_integer()) {
        value = it->get<qint64>();
    } else if (it->is_number_float()) {
        // Checked as a double first: converting one out of range is undefined.
        const double seconds = it->get<double>();
        value = seconds >= 1 && seconds <= double(MaxLifetimeSeconds) ? qint64(seconds) : 0;
    } else if (it->is_string()) {
        value = QString::fromStdString(it->get<std::string>()).toLongLong();
    }
    return value > 0 && value <= MaxLifetimeSeconds ? value : 0;
}

} // namespace

TDWOAuthTokenResponse TDWOAuthTokenResponse::fromHttp(const TDWHttpResponse &response)
{
    return fromBody(response.statusCode(), response.body());
}

TDWOAuthTokenResponse TDWOAuthTokenResponse::fromBody(int statusCode, const QByteArray &body)
{
    TDWOAuthTokenResponse answer;
    answer.m_statusCode = statusCode;
    const nlohmann::json json = nlohmann::json::parse(body.constBegin(), body.constEnd(), nullptr, false);
    if (!json.is_object())
        return answer;
    answer.m_accessToken = stringMember(json, "access_token");
    answer.m_refreshToken = stringMember(json, "refresh_token");
    answer.m_expiresIn = lifetimeMember(json, "expires_in");
    answer.m_error = stringMember(json, "error");
    return answer;
}

bool TDWOAuthTokenResponse::hasAccessToken() const
{
    return m_statusCode == 200 && !m_accessToken.isEmpty() && m_expiresIn > 0;
}

bool TDWOAuthTokenResponse::grantRefused() const
{
    return (m_statusCode == 400 || m_statusCode == 401)
        && (m_error == QLatin1String("invalid_grant") || m_error == QLatin1String("invalid_client"));
}
