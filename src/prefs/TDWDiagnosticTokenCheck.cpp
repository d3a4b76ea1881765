#include "prefs/TDWDiagnosticTokenCheck.h"

#include "accounts/TDWAccessTokenRetriever.h"
#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"

TDWDiagnosticTokenCheck::TDWDiagnosticTokenCheck(QObject *parent)
    : QObject(parent)
{
}

TDWDiagnosticTokenCheck::~TDWDiagnosticTokenCheck() = default;

void TDWDiagnosticTokenCheck::start(const QString &username, Ready ready, Failed failed)
{
    m_ready = std::move(ready);
    m_failed = std::move(failed);
    const std::shared_ptr<TDWCredential> credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(username);
    if (!credential || credential->refreshTokenInvalid()) {
        m_failed(RefreshTokenMessage);
        return;
    }
    if (credential->accessTokenExpired()) {
        m_retriever = std::make_unique<TDWAccessTokenRetriever>(username, this);
        m_retriever->dontNotifyIfFail();
        m_retriever->start();
        return;
    }
    m_ready(credential->accessToken());
}

void TDWDiagnosticTokenCheck::accessTokenRetrieverReceivedAccessToken(TDWAccessTokenRetriever *, const QString &accessToken)
{
    m_ready(accessToken);
}

void TDWDiagnosticTokenCheck::accessTokenRetrieverEncounteredError(TDWAccessTokenRetriever *, const TDWError &error)
{
    m_failed(QStringLiteral("Unable to retrieve an access token: %1").arg(error.localizedDescription()));
}
