#include "accounts/TDWOAuthTokenRequest.h"

#include "accounts/TDWGoogleEndpoints.h"

using namespace std::chrono_literals;

namespace {

TDWHttpRequest formPost(const QByteArray &body)
{
    TDWHttpRequest request(TDWGoogleEndpoints::tokenEndpoint(), "POST");
    request.setHeader("Content-Type", "application/x-www-form-urlencoded");
    request.setBody(body);
    request.setIdleTimeout(60s);
    return request;
}

} // namespace

TDWHttpRequest TDWOAuthTokenRequest::forRefreshToken(const QString &refreshToken)
{
    return formPost("refresh_token=" + formValue(refreshToken) + "&client_id=" + formValue(TDWGoogleEndpoints::clientId())
                    + "&client_secret=" + formValue(TDWGoogleEndpoints::clientSecret()) + "&grant_type=refresh_token");
}

TDWHttpRequest TDWOAuthTokenRequest::forAuthorizationCode(const QString &code, const QString &redirectUri, const QString &codeVerifier)
{
    return formPost("code=" + formValue(code) + "&client_id=" + formValue(TDWGoogleEndpoints::clientId()) + "&client_secret="
                    + formValue(TDWGoogleEndpoints::clientSecret()) + "&redirect_uri=" + formValue(redirectUri)
                    + "&grant_type=authorization_code&code_verifier=" + formValue(codeVerifier));
}

QByteArray TDWOAuthTokenRequest::formValue(const QString &value)
{
    return value.toUtf8().toPercentEncoding();
}
