#include "accounts/TDWGoogleEndpoints.h"

#include "app/TDWServiceTable.h"

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

} // namespace

QString TDWGoogleEndpoints::accountsHost()
{
    return QStringLiteral("accounts.google.com");
}

QString TDWGoogleEndpoints::apisHost()
{
    return QStringLiteral("www.googleapis.com");
}

QUrl TDWGoogleEndpoints::authorizationEndpoint()
{
    return QUrl(QStringLiteral("https://%1/o/oauth2/auth").arg(accountsHost()));
}

QUrl TDWGoogleEndpoints::tokenEndpoint()
{
    return QUrl(QStringLiteral("https://%1/o/oauth2/token").arg(accountsHost()));
}

QUrl TDWGoogleEndpoints::userInfoEmailUrl()
{
    return QUrl(QStringLiteral("https://%1/userinfo/email?alt=json").arg(apisHost()));
}

QString TDWGoogleEndpoints::clientId()
{
    return QStringLiteral("418275036194-k2v7c9x4m1q8w5n3z6b0r7t2y9p4s1d8.apps.googleusercontent.com");
}

QString TDWGoogleEndpoints::clientSecret()
{
    return QStringLiteral("Rk7_wQ2pLmZt9VbN-cXe4uHy");
}

TDWHttpHostAllowlist TDWGoogleEndpoints::bearerHosts()
{
    QStringList hosts{apisHost()};
    collectHttpsHosts(TDWServiceTable::shared().serviceConfigs(), &hosts);
    return TDWHttpHostAllowlist(hosts);
}
