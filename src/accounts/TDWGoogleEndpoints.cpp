#include "accounts/TDWGoogleEndpoints.h"

#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QHostAddress>
#include <QVariantMap>

namespace {

void addHttpsHost(const QString &url, QStringList *hosts)
{
    if (!url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return;
    const QString host = QUrl(url).host();
    if (!host.isEmpty() && !hosts->contains(host))
        hosts->append(host);
}

// The https hosts a service's requests go to; its OAuth scope is a name, not an endpoint.
void addServiceHosts(const TDWServiceConfig &service, QStringList *hosts)
{
    for (const QList<TDWServiceConfig::ListUrl> *urls : {&service.listUrls, &service.changeUrls})
        for (const TDWServiceConfig::ListUrl &url : *urls)
            addHttpsHost(url.url, hosts);
    addHttpsHost(service.preflightUrl, hosts);
    addHttpsHost(service.maxChangeIdUrl, hosts);
    for (const QString &url : service.contentHosts)
        addHttpsHost(url, hosts);
}

// The "oauth" entry of the service table; the user's own setting `userKey`,
// when set, overrides the client identity, so a user can sign in with a client of their own.
QString oauthSetting(const QString &key, const QString &userKey = {})
{
    if (!userKey.isEmpty()) {
        const QString own = TDWUserDefaults::standard()->stringForKey(userKey);
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
    return oauthSetting(QStringLiteral("clientId"), TDWSettingsKeys::OAuthClientId);
}

QString TDWGoogleEndpoints::clientSecret()
{
    return oauthSetting(QStringLiteral("clientSecret"), TDWSettingsKeys::OAuthClientSecret);
}

TDWHttpHostAllowlist TDWGoogleEndpoints::bearerHosts()
{
    QStringList hosts{apisHost()};
    for (const TDWServiceConfig &service : TDWServiceTable::shared().serviceConfigs())
        addServiceHosts(service, &hosts);
    return TDWHttpHostAllowlist(hosts);
}
