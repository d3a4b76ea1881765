#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// The secrets of one sign-in attempt: a random "state" that the redirect must
// bring back, and a PKCE code verifier whose S256 challenge goes into the
// authorization URL, so that a code caught by another program on this
// machine cannot be exchanged without the verifier.
class TDWOAuthAuthorization
{
public:
    explicit TDWOAuthAuthorization(const QString &redirectUri);

    const QString &redirectUri() const { return m_redirectUri; }
    const QString &state() const { return m_state; }
    const QString &codeVerifier() const { return m_codeVerifier; }
    // base64url(SHA-256(verifier)) without padding.
    QString codeChallenge() const;

    // The authorization endpoint with the query response_type, client_id,
    // redirect_uri, state, scope, login_hint, code_challenge and
    // code_challenge_method, in this order, each value form-encoded.
    QUrl url(const QString &accountUsername, const QStringList &serviceIds) const;

    // The user-info scopes, then each service's "oauthScope" in list order,
    // joined by one space.
    static QString scopes(const QStringList &serviceIds);

private:
    QString m_redirectUri;
    QString m_state;
    QString m_codeVerifier;
};
