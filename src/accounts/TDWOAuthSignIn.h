#pragma once

#include "accounts/TDWAccountEmailAddressRetrieverDelegate.h"
#include "accounts/TDWOAuthAuthorization.h"
#include "accounts/TDWPreflightDelegate.h"
#include "accounts/TDWSignInError.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class TDWAccountEmailAddressRetriever;
class TDWCredential;
class TDWHttpOperation;
class TDWHttpResponse;
class TDWLoopbackRedirectListener;
class TDWPreflight;
class TDWPreflightMgr;

// Signs one Google account in, in the user's own browser: Google's consent
// page is opened with a redirect to a listener on 127.0.0.1 (PKCE S256 and a
// random state that the redirect must bring back), the code is exchanged for
// tokens, the authorized account is checked against the one the user typed,
// the credential is saved in the keychain, and the access preflight of every
// chosen service runs. Nothing is saved before the account check passed.
//
// start() with a completion that runs once, on the main thread, never within
// start(): a null error for success, else a TDWSignInError whose description
// is the message for the user. cancel() (or destroying the sign-in) stops
// every step and the completion does not run; inside the completion, let go
// of the sign-in with deleteLater(), as its steps are still on the stack. No
// blocking form: the sign-in waits on the user and answers the browser on the
// main thread.
class TDWOAuthSignIn : public QObject, private TDWAccountEmailAddressRetrieverDelegate, private TDWPreflightDelegate
{
    Q_OBJECT

public:
    using Completion = std::function<void(const TDWError &error)>;
    // Shows the URL to the user; false when it could not be opened.
    using UrlOpener = std::function<bool(const QUrl &url)>;

    // How long the user has to answer Google's pages in the browser.
    static constexpr std::chrono::milliseconds DefaultTimeout = std::chrono::minutes(10);

    TDWOAuthSignIn(const QString &accountUsername, const QStringList &serviceIds, QObject *parent = nullptr);
    ~TDWOAuthSignIn() override;

    // Before start(): replaces the default opener, the desktop's browser.
    void setUrlOpener(UrlOpener opener);
    // Before start(): the wait for the redirect (passed through TDWClock::duration).
    void setTimeout(std::chrono::milliseconds timeout);

    void start(Completion completion);
    void cancel();

    // The Gmail check of a successful run, or null; valid while the sign-in lives.
    TDWPreflight *mailPreflightOperation() const;

signals:
    // The browser brought this attempt's code back: the user is done
    // and the code exchange, account check and preflight follow.
    void codeReceived();

private:
    void handleRedirect(const QUrl &redirect);
    void startTokenRequest(const QString &code);
    void handleTokenResponse(const TDWError &error, const TDWHttpResponse &response);
    void fail(TDWSignInError::Code code, const QString &message);
    void finish(const TDWError &error);
    void stopWaiting();

    void emailAddressRetrieverEncounteredError(TDWAccountEmailAddressRetriever *retriever, const TDWError &error) override;
    void emailAddressRetrieverReceivedEmailAddress(TDWAccountEmailAddressRetriever *retriever, const QString &address) override;
    void emailAddressRetrieverEncounteredAuthorizationError(TDWAccountEmailAddressRetriever *retriever) override;
    void handlePreflightFailure(const TDWError &error) override;
    void handlePreflightSuccess() override;

    QString m_accountUsername;
    QStringList m_serviceIds;
    UrlOpener m_urlOpener;
    std::chrono::milliseconds m_timeout = DefaultTimeout;
    QTimer m_timer;
    Completion m_completion;
    std::unique_ptr<TDWLoopbackRedirectListener> m_listener;
    std::optional<TDWOAuthAuthorization> m_authorization;
    std::shared_ptr<TDWHttpOperation> m_tokenOperation;
    std::shared_ptr<TDWCredential> m_credential;
    std::unique_ptr<TDWAccountEmailAddressRetriever> m_emailAddressRetriever;
    std::unique_ptr<TDWPreflightMgr> m_preflightMgr;
};
