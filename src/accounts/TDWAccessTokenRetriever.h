#pragma once

#include "platform/foundation/TDWError.h"

#include <QObject>
#include <QString>

#include <memory>

class TDWAccessTokenDelegate;
class TDWCredential;
class TDWHttpOperation;
class TDWHttpResponse;

// Exchanges an account's refresh token for a fresh access token at Google's
// token endpoint, saves the renewed credential and tells the delegate, once.
// start() and the delegate's message happen on the retriever's thread (the
// main thread), never within start() itself.
//
// Only a refusal of the grant itself (400/401 with invalid_grant or
// invalid_client) marks the refresh token invalid and tells the user, once;
// a throttled or failed request leaves the credential as it was, to be
// retried later. A keyring that cannot be read is never taken for a missing
// credential, so a good item is not overwritten.
class TDWAccessTokenRetriever : public QObject
{
    Q_OBJECT

public:
    TDWAccessTokenRetriever(const QString &username, TDWAccessTokenDelegate *delegate, QObject *parent = nullptr);
    ~TDWAccessTokenRetriever() override;

    // A refused refresh token is then not told to the user.
    void dontNotifyIfFail();
    void start();
    const QString &accountUsername() const { return m_username; }

private:
    void handleNoCredential(bool credentialExisted);
    void handleResponse(const TDWError &error, const TDWHttpResponse &response);
    void markRefreshTokenInvalid();
    void notifyUserRefreshTokenInvalid();
    // `scope` is SignIn when only signing in again can give a new token.
    void reportError(const QString &message, TDWError::Scope scope = TDWError::Scope::Request);

    QString m_username;
    TDWAccessTokenDelegate *m_delegate;
    std::shared_ptr<TDWCredential> m_credential;
    std::shared_ptr<TDWHttpOperation> m_operation;
    bool m_notifyIfFail = true;
};
