#include "accounts/TDWOAuthTokenRequest.h"

#include "accounts/TDWGoogleEndpoints.h"

using namespace std::chrono_literals;

TDWHttpRequest TDWOAuthTokenRequest::forRefreshToken(const QString &refreshToken)
{
    TDWHttpRequest request(TDWGoogleEndpoints::tokenEndpoint(), "POST");
    request.setHeader("Content-Type", "application/x-www-form-urlencoded");
    request.setBody("refresh_token=" + formValue(refreshToken) + "&client_id=" + formValue(TDWGoogleEndpoints::clientId())
                    + "&client_secret=" + formValue(TDWGoogleEndpoints::clientSecret()) + "&grant_type=refresh_token");
    request.setIdleTimeout(60s);
    return request;
}

QByteArray TDWOAuthTokenRequest::formValue(const QString &value)
{
    return value.toUtf8().toPercentEncoding();
}
