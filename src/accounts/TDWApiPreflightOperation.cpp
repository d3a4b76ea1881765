#include "accounts/TDWApiPreflightOperation.h"

#include "accounts/TDWAccountAccessError.h"
#include "accounts/TDWGoogleEndpoints.h"
#include "common/TDWServiceTable.h"
#include "platform/http/TDWHttpClient.h"

#include <QCoreApplication>

using namespace std::chrono_literals;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("TDWApiPreflightOperation", text);
}

} // namespace

TDWApiPreflightOperation::TDWApiPreflightOperation(const QString &username, const QString &accessToken, const QString &service)
    : m_username(username)
    , m_accessToken(accessToken)
    , m_service(service)
    , m_client(std::make_unique<TDWHttpClient>())
{
}

TDWApiPreflightOperation::~TDWApiPreflightOperation() = default;

void TDWApiPreflightOperation::cancel()
{
    m_client->cancel();
}

void TDWApiPreflightOperation::run()
{
    // A failure until the answer says otherwise.
    m_error = failure(QString());
    const TDWServiceConfig config = TDWServiceTable::shared().serviceConfig(m_service);
    const QUrl url(config.preflightUrl, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("https") && scheme != QLatin1String("http"))) {
        m_error = failure(tr("Unexpected error."));
        return;
    }

    TDWHttpRequest request(url);
    request.setIdleTimeout(120s);
    // The token goes only to https on a Google API host, and a redirect to
    // another host does not carry it.
    request.setBearerToken(m_accessToken.toUtf8(), TDWGoogleEndpoints::bearerHosts());
    if (!config.gdataVersion.isEmpty())
        request.setHeader("GData-Version", config.gdataVersion.toUtf8());

    const TDWHttpResponse response = m_client->perform(request);
    if (response.error().scope() == TDWError::Scope::Cancelled)
        m_error = m_error.withScope(TDWError::Scope::Cancelled);
    else if (!response.hasResponse())
        m_error = failure(tr("No HTTP response: %1").arg(response.error().localizedDescription())).withScope(response.error().scope());
    else if (response.statusCode() == 200)
        m_error = {};
    else
        m_error = failure(tr("Unexpected status code (%1)").arg(response.statusCode())).withScope(response.statusScope());
}

TDWError TDWApiPreflightOperation::failure(const QString &reason) const
{
    return TDWAccountAccessError::make(
        TDWAccountAccessError::ServiceFailed,
        tr("Unable to retrieve the %1: %2").arg(TDWServiceTable::shared().serviceConfig(m_service).listOfItemsLabel, reason));
}
