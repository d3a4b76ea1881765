#include "accounts/TDWCredential.h"

#include "platform/foundation/TDWClock.h"

#include <QSet>

#include <nlohmann/json.hpp>

#include <cmath>

namespace {

// 2001-01-01 00:00:00 UTC, the origin of the stored expiry.
constexpr qint64 ReferenceDateMSecs = 978307200000LL;
// About 3000 years: anything further is not a date a token expires on, and
// would not fit a QDateTime.
constexpr double LargestSeconds = 1e11;

QString expiryText(const QDateTime &expires)
{
    return QString::asprintf("%f", double(expires.toMSecsSinceEpoch() - ReferenceDateMSecs) / 1000.0);
}

QDateTime expiryFromSeconds(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > LargestSeconds)
        seconds = 0;
    return QDateTime::fromMSecsSinceEpoch(ReferenceDateMSecs + std::llround(seconds * 1000.0), Qt::UTC);
}

// Written as text, but a number is read as well.
double secondsOf(const nlohmann::json &value)
{
    if (value.is_number())
        return value.get<double>();
    if (value.is_string())
        return QString::fromStdString(value.get<std::string>()).toDouble();
    return 0;
}

QString stringOf(const nlohmann::json &object, const char *key)
{
    const auto at = object.find(key);
    return at != object.end() && at->is_string() ? QString::fromStdString(at->get<std::string>()) : QString();
}

} // namespace

QString TDWCredential::refreshToken() const
{
    std::lock_guard lock(m_mutex);
    return m_refreshToken;
}

void TDWCredential::setRefreshToken(const QString &token)
{
    std::lock_guard lock(m_mutex);
    m_refreshToken = token;
}

QString TDWCredential::accessToken() const
{
    std::lock_guard lock(m_mutex);
    return m_accessToken;
}

void TDWCredential::setAccessToken(const QString &token)
{
    std::lock_guard lock(m_mutex);
    m_accessToken = token;
}

QDateTime TDWCredential::accessTokenExpires() const
{
    std::lock_guard lock(m_mutex);
    return m_accessTokenExpires;
}

void TDWCredential::setAccessTokenExpires(const QDateTime &expires)
{
    std::lock_guard lock(m_mutex);
    m_accessTokenExpires = expires;
}

QStringList TDWCredential::serviceIds() const
{
    std::lock_guard lock(m_mutex);
    return m_serviceIds;
}

void TDWCredential::setServiceIds(const QStringList &serviceIds)
{
    std::lock_guard lock(m_mutex);
    m_serviceIds = serviceIds;
}

bool TDWCredential::accessTokenExpired() const
{
    const QDateTime expires = accessTokenExpires();
    return expires.isValid() && TDWClock::now() >= expires.addSecs(-ExpiryMarginSeconds);
}

bool TDWCredential::validForServiceIds(const QStringList &serviceIds) const
{
    const QStringList granted = this->serviceIds();
    const QSet<QString> grantedSet(granted.begin(), granted.end());
    for (const QString &id : serviceIds) {
        if (!grantedSet.contains(id))
            return false;
    }
    return true;
}

QByteArray TDWCredential::jsonText() const
{
    nlohmann::json object = nlohmann::json::object();
    {
        std::lock_guard lock(m_mutex);
        if (!m_refreshToken.isNull())
            object["refreshToken"] = m_refreshToken.toStdString();
        if (!m_accessToken.isNull())
            object["accessToken"] = m_accessToken.toStdString();
        if (m_accessTokenExpires.isValid())
            object["accessTokenExpires"] = expiryText(m_accessTokenExpires).toStdString();
        if (!m_serviceIds.isEmpty()) {
            nlohmann::json ids = nlohmann::json::array();
            for (const QString &id : m_serviceIds)
                ids.push_back(id.toStdString());
            object["serviceIds"] = std::move(ids);
        }
    }
    if (m_refreshTokenInvalid)
        object["refreshTokenInvalid"] = true;
    return QByteArray::fromStdString(object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

std::shared_ptr<TDWCredential> TDWCredential::fromJsonText(const QByteArray &text)
{
    const nlohmann::json root = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (!root.is_object())
        return nullptr;
    auto credential = std::make_shared<TDWCredential>();
    credential->m_refreshToken = stringOf(root, "refreshToken");
    credential->m_accessToken = stringOf(root, "accessToken");
    const auto expires = root.find("accessTokenExpires");
    credential->m_accessTokenExpires = expiryFromSeconds(expires != root.end() ? secondsOf(*expires) : 0);
    const auto ids = root.find("serviceIds");
    if (ids != root.end() && ids->is_array()) {
        for (const nlohmann::json &id : *ids) {
            if (id.is_string())
                credential->m_serviceIds.append(QString::fromStdString(id.get<std::string>()));
        }
    }
    const auto invalid = root.find("refreshTokenInvalid");
    if (invalid != root.end())
        credential->m_refreshTokenInvalid = invalid->is_boolean() ? invalid->get<bool>() : invalid->is_number() && invalid->get<double>() != 0;
    return credential;
}
