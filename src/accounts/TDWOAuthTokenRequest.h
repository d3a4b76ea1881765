#pragma once

#include "platform/http/TDWHttpRequest.h"

#include <QString>

// Requests to Google's token endpoint with this application's client identity.
class TDWOAuthTokenRequest
{
public:
    // The refresh-token grant: a form POST, no cookies, a 60-second time-out.
    static TDWHttpRequest forRefreshToken(const QString &refreshToken);

    // The authorization-code grant of a loopback sign-in: the code, the
    // redirect URI that stood in the authorization URL and the PKCE verifier;
    // a form POST, no cookies, a 60-second time-out.
    static TDWHttpRequest forAuthorizationCode(const QString &code, const QString &redirectUri, const QString &codeVerifier);

    // Percent-encodes every byte of the UTF-8 form except letters, digits and
    // "-._~", as a form value needs.
    static QByteArray formValue(const QString &value);
};
