#include "accounts/TDWOAuthTokenResponse.h"

#include "platform/http/TDWHttpResponse.h"
#include "platform/json/TDWJsonReader.h"

namespace {

// Longest access-token lifetime taken as real: a larger one (or 1e300, which
// no integer holds) would give an expiry that never comes.
constexpr qint64 MaxLifetimeSeconds = 365LL * 24 * 3600;

// Seconds in (0, a year]; Google sends a number, and a numeric string is taken
// as well. Anything else makes 0, an answer without a usable lifetime.
qint64 lifetime(const QVariant &value)
{
    qint64 seconds = 0;
    switch (value.typeId()) {
    case QMetaType::LongLong:
        seconds = value.toLongLong();
        break;
    case QMetaType::Double: {
        // Checked as a double first: converting one out of range is undefined.
        const double number = value.toDouble();
        seconds = number >= 1 && number <= double(MaxLifetimeSeconds) ? qint64(number) : 0;
        break;
    }
    case QMetaType::QString:
        seconds = value.toString().toLongLong();
        break;
    default: // beyond 64 bits signed, a boolean, absent
        break;
    }
    return seconds > 0 && seconds <= MaxLifetimeSeconds ? seconds : 0;
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
    TDWJsonReader reader;
    const std::optional<TDWJsonObject> json = reader.readObject(body);
    if (!json)
        return answer;
    try {
        answer.m_accessToken = json->optString("access_token");
        answer.m_refreshToken = json->optString("refresh_token");
        answer.m_expiresIn = lifetime(json->value("expires_in"));
        answer.m_error = json->optString("error");
    } catch (const TDWJsonObject::TypeError &) {
        // Half an answer is no answer: no token, and no refusal either.
        answer = TDWOAuthTokenResponse();
        answer.m_statusCode = statusCode;
    }
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
