#include "accounts/TDWAccountEmailAddressRetriever.h"

#include "accounts/TDWAccountAccessError.h"
#include "accounts/TDWAccountEmailAddressRetrieverDelegate.h"
#include "accounts/TDWGoogleEndpoints.h"
#include "platform/http/TDWHttpOperation.h"
#include "platform/json/TDWJsonReader.h"

using namespace std::chrono_literals;

TDWAccountEmailAddressRetriever::TDWAccountEmailAddressRetriever(const QString &accessToken,
                                                                 TDWAccountEmailAddressRetrieverDelegate *delegate, QObject *parent)
    : QObject(parent)
    , m_accessToken(accessToken)
    , m_delegate(delegate)
{
}

TDWAccountEmailAddressRetriever::~TDWAccountEmailAddressRetriever()
{
    // Cancels a question in flight.
    if (m_operation)
        m_operation->cancel();
}

void TDWAccountEmailAddressRetriever::start()
{
    TDWHttpRequest request(TDWGoogleEndpoints::userInfoEmailUrl());
    request.setIdleTimeout(120s);
    // Only to https on a Google API host, and never past a redirect to another host.
    request.setBearerToken(m_accessToken.toUtf8(), TDWGoogleEndpoints::bearerHosts());
    if (m_operation)
        m_operation->cancel();
    m_operation = std::make_shared<TDWHttpOperation>(request);
    m_operation->start([this](const TDWError &error, const TDWHttpResponse &response) { handleResponse(error, response); });
}

void TDWAccountEmailAddressRetriever::handleResponse(const TDWError &error, const TDWHttpResponse &response)
{
    m_operation.reset();
    if (!error.isNull()) {
        reportError(tr("Encountered error when validating the account: %1").arg(error.localizedDescription()), error.scope());
        return;
    }
    const int status = response.statusCode();
    if (status >= 400 && status <= 499) {
        m_delegate->emailAddressRetrieverEncounteredAuthorizationError(this);
        return;
    }
    if (status != 200) {
        reportError(tr("Unexpected status code (%1) when validating the account.").arg(status), response.statusScope());
        return;
    }
    QString readError;
    const QString address = addressFromBody(response.body(), &readError);
    if (!readError.isEmpty())
        reportError(tr("Encountered error when validating the account: %1").arg(readError));
    else if (address.isEmpty())
        reportError(tr("The response from Google did not include the account email address."));
    else
        m_delegate->emailAddressRetrieverReceivedEmailAddress(this, address);
}

void TDWAccountEmailAddressRetriever::reportError(const QString &message, TDWError::Scope scope)
{
    m_delegate->emailAddressRetrieverEncounteredError(this, TDWAccountAccessError::make(TDWAccountAccessError::AddressFailed, message).withScope(scope));
}

QString TDWAccountEmailAddressRetriever::addressFromBody(const QByteArray &body, QString *readError)
{
    TDWJsonReader reader;
    TDWError error;
    const std::optional<TDWJsonObject> json = reader.readObject(body, &error);
    if (!json) {
        *readError = error.localizedDescription();
        return {};
    }
    try {
        const std::optional<TDWJsonObject> data = json->optObject("data");
        return data ? data->optString("email").trimmed().toLower() : QString();
    } catch (const TDWJsonObject::TypeError &typeError) {
        *readError = typeError.error().localizedDescription();
        return {};
    }
}
