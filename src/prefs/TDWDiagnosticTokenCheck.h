#pragma once

#include "accounts/TDWAccessTokenDelegate.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// What both diagnostics windows do before they ask Google anything: make sure
// the account's stored credential holds a usable access token, renewing an
// expired one (without a login notification when that fails). Exactly one of
// the two callbacks comes, on the main thread; none once this object is gone.
class TDWDiagnosticTokenCheck : public QObject, public TDWAccessTokenDelegate
{
    Q_OBJECT

public:
    static inline const QString RefreshTokenMessage =
        QStringLiteral("The refresh token is either invalid or missing.  Please log in using the Preferences window.");

    // `ready` gets the access token; `failed` the text for the report.
    using Ready = std::function<void(const QString &accessToken)>;
    using Failed = std::function<void(const QString &message)>;

    explicit TDWDiagnosticTokenCheck(QObject *parent = nullptr);
    ~TDWDiagnosticTokenCheck() override;

    // Calls back at once when no renewal is needed.
    void start(const QString &username, Ready ready, Failed failed);

    void accessTokenRetrieverReceivedAccessToken(TDWAccessTokenRetriever *retriever, const QString &accessToken) override;
    void accessTokenRetrieverEncounteredError(TDWAccessTokenRetriever *retriever, const TDWError &error) override;

private:
    std::unique_ptr<TDWAccessTokenRetriever> m_retriever;
    Ready m_ready;
    Failed m_failed;
};
