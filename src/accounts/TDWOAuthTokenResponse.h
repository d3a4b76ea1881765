#pragma once

#include <QByteArray>
#include <QString>

class TDWHttpResponse;

// The answer of Google's token endpoint, read once: the tokens of a success,
// or the OAuth error name of a refusal.
class TDWOAuthTokenResponse
{
public:
    TDWOAuthTokenResponse() = default;
    static TDWOAuthTokenResponse fromHttp(const TDWHttpResponse &response);
    static TDWOAuthTokenResponse fromBody(int statusCode, const QByteArray &body);

    int statusCode() const { return m_statusCode; }
    const QString &accessToken() const { return m_accessToken; }
    const QString &refreshToken() const { return m_refreshToken; }
    // Seconds the access token lives; 0 when absent, not a positive whole
    // number, or more than a year (the answer then has no usable token).
    qint64 expiresIn() const { return m_expiresIn; }
    // The "error" of a refusal, e.g. "invalid_grant".
    const QString &error() const { return m_error; }

    // A 200 answer with an access token and a lifetime.
    bool hasAccessToken() const;
    // Google refused the grant itself (the refresh token, or this client):
    // only then does the account need a new sign-in. Time-outs, throttling
    // (408, 429) and server trouble are retried later instead.
    bool grantRefused() const;

private:
    int m_statusCode = 0;
    QString m_accessToken;
    QString m_refreshToken;
    qint64 m_expiresIn = 0;
    QString m_error;
};
