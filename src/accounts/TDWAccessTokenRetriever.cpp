#include "accounts/TDWAccessTokenRetriever.h"

#include "accounts/TDWAccessTokenDelegate.h"
#include "accounts/TDWAccountAccessError.h"
#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "accounts/TDWLoginNotifier.h"
#include "accounts/TDWOAuthTokenRequest.h"
#include "accounts/TDWOAuthTokenResponse.h"
#include "common/BKSNotUtils.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/http/TDWHttpOperation.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

using namespace std::chrono_literals;

TDWAccessTokenRetriever::TDWAccessTokenRetriever(const QString &username, TDWAccessTokenDelegate *delegate, QObject *parent)
    : QObject(parent)
    , m_username(username)
    , m_delegate(delegate)
{
}

TDWAccessTokenRetriever::~TDWAccessTokenRetriever()
{
    // Cancels a request in flight.
    if (m_operation)
        m_operation->cancel();
}

void TDWAccessTokenRetriever::dontNotifyIfFail()
{
    m_notifyIfFail = false;
}

void TDWAccessTokenRetriever::start()
{
    TDWKeychainLookup lookup = TDWKeychainLookup::NotFound;
    m_credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(m_username, &lookup);
    const auto later = TDWClock::duration(250ms);
    if (lookup == TDWKeychainLookup::Unavailable) {
        // The item may be there and good: nothing is written and nobody is
        // told to sign in again; the next refresh tries again.
        QTimer::singleShot(later, this, [this] { reportError(tr("Unable to read the account's credential from the keyring.")); });
        return;
    }
    if (!m_credential || m_credential->refreshToken().isEmpty()) {
        const bool credentialExisted = m_credential != nullptr;
        QTimer::singleShot(later, this, [this, credentialExisted] { handleNoCredential(credentialExisted); });
        return;
    }
    if (m_operation)
        m_operation->cancel();
    m_operation = std::make_shared<TDWHttpOperation>(TDWOAuthTokenRequest::forRefreshToken(m_credential->refreshToken()));
    m_operation->start([this](const TDWError &error, const TDWHttpResponse &response) { handleResponse(error, response); });
}

void TDWAccessTokenRetriever::handleNoCredential(bool credentialExisted)
{
    m_credential = std::make_shared<TDWCredential>();
    m_credential->setRefreshTokenInvalid(true);
    TDWKeychainMgr::keychainMgr()->setCredential(m_credential, m_username, true);
    // Told after the mark is stored, so that observers read the new state.
    if (!credentialExisted)
        notifyUserRefreshTokenInvalid();
    reportError(tr("Did not find a refresh token."), TDWError::Scope::SignIn);
}

void TDWAccessTokenRetriever::handleResponse(const TDWError &error, const TDWHttpResponse &response)
{
    m_operation.reset();

    if (!error.isNull()) {
        reportError(tr("The request to get an authentication token failed: %1").arg(error.localizedDescription()), error.scope());
        return;
    }
    const TDWOAuthTokenResponse answer = TDWOAuthTokenResponse::fromHttp(response);
    if (answer.statusCode() == 200) {
        if (!answer.hasAccessToken()) {
            reportError(tr("Unable to parse the authentication token response."));
            return;
        }
        m_credential->setAccessToken(answer.accessToken());
        m_credential->setAccessTokenExpires(TDWClock::now().addSecs(answer.expiresIn()));
        m_credential->setRefreshTokenInvalid(false);
        if (!TDWKeychainMgr::keychainMgr()->setCredential(m_credential, m_username, true)) {
            reportError(tr("Error saving the credential to the keychain."));
            return;
        }
        m_delegate->accessTokenRetrieverReceivedAccessToken(this, answer.accessToken());
        return;
    }

    if (answer.grantRefused())
        markRefreshTokenInvalid();
    tdwLog(QStringLiteral("ERROR: Unexpected status code (%1) when renewing access token -- text: %2")
               .arg(answer.statusCode())
               .arg(QString::fromUtf8(response.body())));
    reportError(tr("Received an unexpected status code (%1) when attempting to retrieve an access token.").arg(answer.statusCode()),
                answer.grantRefused() ? TDWError::Scope::SignIn : TDWError::Scope::Request);
}

void TDWAccessTokenRetriever::markRefreshTokenInvalid()
{
    const bool wasValid = !m_credential->refreshTokenInvalid();
    m_credential->setRefreshTokenInvalid(true);
    TDWKeychainMgr::keychainMgr()->setCredential(m_credential, m_username, true);
    // A credential already marked brings no second notice.
    if (wasValid)
        notifyUserRefreshTokenInvalid();
}

void TDWAccessTokenRetriever::notifyUserRefreshTokenInvalid()
{
    if (!m_notifyIfFail)
        return;
    const QVariantMap userInfo{{QStringLiteral("notificationType"), QStringLiteral("loginrequired")},
                               {QStringLiteral("accountUsername"), m_username}};
    if (TDWLoginNotifier *notifier = TDWLoginNotifier::shared()) {
        const TDWLoginNotifier::Notice notice{tr("Login required"), tr("Please log in to: %1").arg(m_username),
                                              QStringLiteral("Log in…"), userInfo};
        QObject *mainThread = QCoreApplication::instance();
        if (QThread::currentThread() == mainThread->thread())
            notifier->deliver(notice);
        else
            QMetaObject::invokeMethod(mainThread, [notifier, notice] { notifier->deliver(notice); }, Qt::BlockingQueuedConnection);
    }
    BKSNotUtils::postNotificationName(QStringLiteral("not_needs_auth_change"), this,
                                      {{QStringLiteral("accountUsername"), m_username}});
}

void TDWAccessTokenRetriever::reportError(const QString &message, TDWError::Scope scope)
{
    m_delegate->accessTokenRetrieverEncounteredError(this, TDWAccountAccessError::make(TDWAccountAccessError::TokenRefreshFailed, message).withScope(scope));
}
