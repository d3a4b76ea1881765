#include "accounts/TDWOAuthSignIn.h"

#include "accounts/TDWAccountEmailAddressRetriever.h"
#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "accounts/TDWLoopbackRedirectListener.h"
#include "accounts/TDWOAuthTokenRequest.h"
#include "accounts/TDWOAuthTokenResponse.h"
#include "accounts/TDWPreflightMgr.h"
#include "platform/foundation/TDWClock.h"
#include "platform/http/TDWHttpOperation.h"

#include <QDesktopServices>
#include <QUrlQuery>

TDWOAuthSignIn::TDWOAuthSignIn(const QString &accountUsername, const QStringList &serviceIds, QObject *parent)
    : QObject(parent)
    , m_accountUsername(accountUsername)
    , m_serviceIds(serviceIds)
    , m_urlOpener([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        fail(TDWSignInError::TimedOut, tr("No authentication code or error was returned from Google."));
    });
}

TDWOAuthSignIn::~TDWOAuthSignIn()
{
    cancel();
}

void TDWOAuthSignIn::setUrlOpener(UrlOpener opener)
{
    m_urlOpener = std::move(opener);
}

void TDWOAuthSignIn::setTimeout(std::chrono::milliseconds timeout)
{
    m_timeout = timeout;
}

void TDWOAuthSignIn::start(Completion completion)
{
    m_completion = std::move(completion);
    m_listener = std::make_unique<TDWLoopbackRedirectListener>();
    QString listenError;
    // An answer without this attempt's state may come from any page the browser
    // shows or any local program: it is refused and the wait goes on.
    const auto isThisAttempts = [this](const QUrl &redirect) {
        return QUrlQuery(redirect).queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded) == m_authorization->state();
    };
    if (!m_listener->listen(isThisAttempts, [this](const QUrl &redirect) { handleRedirect(redirect); }, &listenError)) {
        // Told after start() has returned, as every outcome is.
        QMetaObject::invokeMethod(this, [this, listenError] {
            fail(TDWSignInError::PageFailed, tr("Error loading Google authentication page: %1").arg(listenError));
        }, Qt::QueuedConnection);
        return;
    }
    m_authorization.emplace(m_listener->redirectUri());
    m_timer.start(TDWClock::duration(m_timeout));
    if (!m_urlOpener(m_authorization->url(m_accountUsername, m_serviceIds))) {
        QMetaObject::invokeMethod(this, [this] {
            fail(TDWSignInError::PageFailed,
                 tr("Error loading Google authentication page: %1").arg(tr("The web browser could not be opened.")));
        }, Qt::QueuedConnection);
    }
}

void TDWOAuthSignIn::cancel()
{
    if (!m_completion)
        return;
    m_completion = nullptr;
    stopWaiting();
    if (m_tokenOperation)
        m_tokenOperation->cancel();
    m_tokenOperation.reset();
    m_emailAddressRetriever.reset();
    m_preflightMgr.reset();
}

TDWPreflight *TDWOAuthSignIn::mailPreflightOperation() const
{
    return m_preflightMgr ? m_preflightMgr->mailPreflightOperation() : nullptr;
}

void TDWOAuthSignIn::handleRedirect(const QUrl &redirect)
{
    m_timer.stop();
    const QUrlQuery query(redirect);
    const QString code = query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
    if (!code.isEmpty()) {
        emit codeReceived();
        startTokenRequest(code);
        return;
    }
    if (!query.hasQueryItem(QStringLiteral("error"))) {
        fail(TDWSignInError::Refused, tr("No authentication code or error was returned from Google."));
        return;
    }
    const QString error = query.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded);
    if (error == QLatin1String("access_denied"))
        fail(TDWSignInError::Refused, tr("Access to the account was denied."));
    else if (error == QLatin1String("invalid_user"))
        fail(TDWSignInError::Refused, tr("The account email address (%1) was not recognized by Google.").arg(m_accountUsername));
    else
        fail(TDWSignInError::Refused, tr("Google returned the error code “%1”.").arg(error));
}

void TDWOAuthSignIn::startTokenRequest(const QString &code)
{
    m_tokenOperation = std::make_shared<TDWHttpOperation>(
        TDWOAuthTokenRequest::forAuthorizationCode(code, m_authorization->redirectUri(), m_authorization->codeVerifier()));
    m_tokenOperation->start([this](const TDWError &error, const TDWHttpResponse &response) { handleTokenResponse(error, response); });
}

void TDWOAuthSignIn::handleTokenResponse(const TDWError &error, const TDWHttpResponse &response)
{
    m_tokenOperation.reset();
    if (!error.isNull()) {
        fail(TDWSignInError::TokenFailed, tr("The request to get an authentication token failed: %1").arg(error.localizedDescription()));
        return;
    }
    if (response.statusCode() != 200) {
        fail(TDWSignInError::TokenFailed,
             tr("Received an unexpected status code (%1) when attempting to retrieve an authentication token.").arg(response.statusCode()));
        return;
    }
    const TDWOAuthTokenResponse answer = TDWOAuthTokenResponse::fromHttp(response);
    if (!answer.hasAccessToken() || answer.refreshToken().isEmpty()) {
        fail(TDWSignInError::TokenFailed, tr("Unable to parse the authentication token response."));
        return;
    }
    m_credential = std::make_shared<TDWCredential>();
    m_credential->setAccessToken(answer.accessToken());
    m_credential->setRefreshToken(answer.refreshToken());
    m_credential->setAccessTokenExpires(TDWClock::now().addSecs(answer.expiresIn()));
    m_credential->setServiceIds(m_serviceIds);
    m_emailAddressRetriever = std::make_unique<TDWAccountEmailAddressRetriever>(
        answer.accessToken(), static_cast<TDWAccountEmailAddressRetrieverDelegate *>(this));
    m_emailAddressRetriever->start();
}

void TDWOAuthSignIn::emailAddressRetrieverEncounteredError(TDWAccountEmailAddressRetriever *, const TDWError &error)
{
    fail(TDWSignInError::AccountFailed, error.localizedDescription());
}

void TDWOAuthSignIn::emailAddressRetrieverReceivedEmailAddress(TDWAccountEmailAddressRetriever *, const QString &address)
{
    if (address != m_accountUsername) {
        fail(TDWSignInError::AccountFailed,
             tr("The account email address above (%1) does not match that of the authorized account (%2).").arg(m_accountUsername, address));
        return;
    }
    if (!TDWKeychainMgr::keychainMgr()->setCredential(m_credential, m_accountUsername, false)) {
        fail(TDWSignInError::KeychainFailed, tr("Unable to save the token to the keychain"));
        return;
    }
    m_preflightMgr = std::make_unique<TDWPreflightMgr>(m_accountUsername, m_credential->accessToken(), m_serviceIds,
                                                      static_cast<TDWPreflightDelegate *>(this));
    m_preflightMgr->start();
}

void TDWOAuthSignIn::emailAddressRetrieverEncounteredAuthorizationError(TDWAccountEmailAddressRetriever *)
{
    fail(TDWSignInError::AccountFailed, tr("Received an unexpected status code when validating account information."));
}

void TDWOAuthSignIn::handlePreflightFailure(const TDWError &error)
{
    fail(TDWSignInError::PreflightFailed, error.localizedDescription());
}

void TDWOAuthSignIn::handlePreflightSuccess()
{
    finish(TDWError());
}

void TDWOAuthSignIn::fail(TDWSignInError::Code code, const QString &message)
{
    finish(TDWSignInError::make(code, message));
}

void TDWOAuthSignIn::finish(const TDWError &error)
{
    if (!m_completion)
        return;
    stopWaiting();
    const Completion completion = std::move(m_completion);
    m_completion = nullptr;
    completion(error);
}

void TDWOAuthSignIn::stopWaiting()
{
    m_timer.stop();
    if (m_listener)
        m_listener->close();
}
