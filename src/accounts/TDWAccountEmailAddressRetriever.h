#pragma once

#include "platform/foundation/TDWError.h"

#include <QObject>
#include <QString>

#include <memory>

class TDWAccountEmailAddressRetrieverDelegate;
class TDWHttpOperation;
class TDWHttpResponse;

// Asks Google's user-info service which account an access token belongs to.
// start() and the delegate's one message both happen on the thread the
// retriever lives on (the main thread); the token and the retriever change
// nothing else. Destroying the retriever cancels a question in flight.
class TDWAccountEmailAddressRetriever : public QObject
{
    Q_OBJECT

public:
    TDWAccountEmailAddressRetriever(const QString &accessToken, TDWAccountEmailAddressRetrieverDelegate *delegate,
                                    QObject *parent = nullptr);
    ~TDWAccountEmailAddressRetriever() override;

    void start();

private:
    void handleResponse(const TDWError &error, const TDWHttpResponse &response);
    void reportError(const QString &message, TDWError::Scope scope = TDWError::Scope::Request);
    // The lower-cased address of a 200 answer; on failure an empty string and,
    // when the answer could not be read at all, `readError`.
    static QString addressFromBody(const QByteArray &body, QString *readError);

    QString m_accessToken;
    TDWAccountEmailAddressRetrieverDelegate *m_delegate;
    std::shared_ptr<TDWHttpOperation> m_operation;
};
