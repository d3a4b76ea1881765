#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>

// One account's OAuth credential. The keychain manager hands out one shared
// object per account, so a change made by any holder (a renewed access token)
// is seen at once by every thread; the accessors are safe to call from any
// thread. An absent value is a null string, a null date or an empty list.
class TDWCredential
{
public:
    // Access tokens count as expired this long before their recorded expiry,
    // so that no request leaves with a token that runs out on its way.
    static constexpr int ExpiryMarginSeconds = 60;

    TDWCredential() = default;
    TDWCredential(const TDWCredential &) = delete;
    TDWCredential &operator=(const TDWCredential &) = delete;

    QString refreshToken() const;
    void setRefreshToken(const QString &token);
    QString accessToken() const;
    void setAccessToken(const QString &token);
    QDateTime accessTokenExpires() const;
    void setAccessTokenExpires(const QDateTime &expires);
    // The service ids whose scopes the tokens were granted for.
    QStringList serviceIds() const;
    void setServiceIds(const QStringList &serviceIds);
    // The account needs a new sign-in.
    bool refreshTokenInvalid() const { return m_refreshTokenInvalid; }
    void setRefreshTokenInvalid(bool invalid) { m_refreshTokenInvalid = invalid; }

    // Yes from ExpiryMarginSeconds before the expiry on (TDWClock's now);
    // never for a credential without an expiry.
    bool accessTokenExpired() const;
    // Whether every given id is among serviceIds(); yes for an empty list.
    bool validForServiceIds(const QStringList &serviceIds) const;

    // The stored form: a JSON object holding only the values that are set,
    // the expiry as "%f" seconds since 2001-01-01 00:00:00 UTC, and
    // "refreshTokenInvalid" only when true.
    QByteArray jsonText() const;
    // Null when the text is not a JSON object. Values of the wrong type are
    // taken as absent; a missing expiry reads as 2001-01-01 00:00:00 UTC, so
    // the token counts as expired.
    static std::shared_ptr<TDWCredential> fromJsonText(const QByteArray &text);

private:
    mutable std::mutex m_mutex; // the four object values are read and replaced whole
    QString m_refreshToken;
    QString m_accessToken;
    QDateTime m_accessTokenExpires;
    QStringList m_serviceIds;
    std::atomic<bool> m_refreshTokenInvalid{false};
};
