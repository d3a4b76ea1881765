#include "accounts/TDWGoogleEndpoints.h"

#include "common/TDWServiceTable.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QHostAddress>
#include <QVariantList>
#include <QVariantMap>

namespace {

void collectHttpsHosts(const QVariant &value, QStringList *hosts)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (it.key() != QLatin1String("oauthScope"))
                collectHttpsHosts(it.value(), hosts);
        }
        break;
    }
    case QMetaType::QVariantList:
        for (const QVariant &item : value.toList())
            collectHttpsHosts(item, hosts);
        break;
    case QMetaType::QString: {
        const QString text = value.toString();
        if (text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
            const QString host = QUrl(text).host();
            if (!host.isEmpty() && !hosts->contains(host))
                hosts->append(host);
        }
        break;
    }
    default:
        break;
    }
}

// The "oauth" entry of the service table; the user defaults of the same names
// override the client identity, so a user can sign in with a client of their own.
QString oauthSetting(const QString &key, bool userMayOverride = false)
{
    if (userMayOverride) {
        const QString own = TDWUserDefaults::standard()->stringForKey(QStringLiteral("OAuth") + key.at(0).toUpper() + key.mid(1));
        if (!own.isEmpty())
            return own;
    }
    return TDWServiceTable::shared().getConfig().value(QStringLiteral("oauth")).toMap().value(key).toString();
}

// TDW_AUTHORIZATION_URL, when it names a page a browser may be sent to:
// https anywhere, or plain http on this machine; else empty (a bad value is logged).
QUrl authorizationEndpointOverride()
{
    const QString text = qEnvironmentVariable("TDW_AUTHORIZATION_URL");
    if (text.isEmpty())
        return {};
    const QUrl url(text, QUrl::StrictMode);
    const bool local = url.scheme() == QLatin1String("http") && QHostAddress(url.host()).isLoopback();
    if (url.isValid() && !url.host().isEmpty() && (url.scheme() == QLatin1String("https") || local))
        return url;
    tdwLog(QStringLiteral("ERROR: Ignoring the authorization URL \"%1\": not https, nor http on this machine").arg(text));
    return {};
}

} // namespace

QString TDWGoogleEndpoints::accountsHost()
{
    return QUrl(oauthSetting(QStringLiteral("authorizationUrl"))).host();
}

QString TDWGoogleEndpoints::apisHost()
{
    return userInfoEmailUrl().host();
}

QUrl TDWGoogleEndpoints::authorizationEndpoint()
{
    const QUrl local = authorizationEndpointOverride();
    return local.isEmpty() ? QUrl(oauthSetting(QStringLiteral("authorizationUrl"))) : local;
}

QUrl TDWGoogleEndpoints::tokenEndpoint()
{
    return QUrl(oauthSetting(QStringLiteral("tokenUrl")));
}

QUrl TDWGoogleEndpoints::userInfoEmailUrl()
{
    return QUrl(oauthSetting(QStringLiteral("userInfoEmailUrl")));
}

QString TDWGoogleEndpoints::clientId()
{
    return oauthSetting(QStringLiteral("clientId"), true);
}

QString TDWGoogleEndpoints::clientSecret()
{
    return oauthSetting(QStringLiteral("clientSecret"), true);
}

TDWHttpHostAllowlist TDWGoogleEndpoints::bearerHosts()
{
    QStringList hosts{apisHost()};
    collectHttpsHosts(TDWServiceTable::shared().getConfig().value(QStringLiteral("services")), &hosts);
    return TDWHttpHostAllowlist(hosts);
}
