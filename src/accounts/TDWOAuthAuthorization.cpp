#include "accounts/TDWOAuthAuthorization.h"

#include "accounts/TDWGoogleEndpoints.h"
#include "accounts/TDWOAuthTokenRequest.h"
#include "common/TDWServiceTable.h"

#include <QCryptographicHash>
#include <QList>
#include <QRandomGenerator>

namespace {

constexpr auto Base64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

// `words` * 4 bytes from the system's cryptographic source, as base64url text.
QString randomText(int words)
{
    QList<quint32> data(words);
    QRandomGenerator::system()->generate(data.begin(), data.end());
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(data.constData()), words * 4).toBase64(Base64Url));
}

} // namespace

TDWOAuthAuthorization::TDWOAuthAuthorization(const QString &redirectUri)
    : m_redirectUri(redirectUri)
    , m_state(randomText(4))
    // 32 bytes make 43 characters, the shortest verifier PKCE allows.
    , m_codeVerifier(randomText(8))
{
}

QString TDWOAuthAuthorization::codeChallenge() const
{
    return QString::fromLatin1(QCryptographicHash::hash(m_codeVerifier.toLatin1(), QCryptographicHash::Sha256).toBase64(Base64Url));
}

QUrl TDWOAuthAuthorization::url(const QString &accountUsername, const QStringList &serviceIds) const
{
    const auto value = &TDWOAuthTokenRequest::formValue;
    const QByteArray query = "response_type=code&client_id=" + value(TDWGoogleEndpoints::clientId()) + "&redirect_uri="
        + value(m_redirectUri) + "&state=" + value(m_state) + "&scope=" + value(scopes(serviceIds)) + "&login_hint="
        + value(accountUsername) + "&code_challenge=" + value(codeChallenge()) + "&code_challenge_method=S256";
    QUrl url = TDWGoogleEndpoints::authorizationEndpoint();
    url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
    return url;
}

QString TDWOAuthAuthorization::scopes(const QStringList &serviceIds)
{
    const QString userInfo = QStringLiteral("https://") + TDWGoogleEndpoints::apisHost() + QStringLiteral("/auth/userinfo.");
    QStringList scopes{userInfo + QStringLiteral("profile"), userInfo + QStringLiteral("email")};
    for (const QString &serviceId : serviceIds) {
        const QString scope = TDWServiceTable::shared().serviceConfig(serviceId).oauthScope;
        if (!scope.isEmpty())
            scopes << scope;
    }
    return scopes.join(QLatin1Char(' '));
}
