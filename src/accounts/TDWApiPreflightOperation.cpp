#include "accounts/TDWApiPreflightOperation.h"

#include "accounts/TDWGoogleEndpoints.h"
#include "common/TDWServiceTable.h"
#include "platform/http/TDWHttpClient.h"
#include "platform/http/TDWHttpError.h"

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
    const TDWServiceConfig config = TDWServiceTable::shared().serviceConfig(m_service);
    const QUrl url(config.preflightUrl, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("https") && scheme != QLatin1String("http"))) {
        m_failureReason = tr("Unexpected error.");
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
    if (response.error().code() == TDWHttpError::Cancelled)
        return;
    if (!response.hasResponse())
        m_failureReason = tr("No HTTP response: %1").arg(response.error().localizedDescription());
    else if (response.statusCode() == 200)
        m_failure = false;
    else
        m_failureReason = tr("Unexpected status code (%1)").arg(response.statusCode());
}

QString TDWApiPreflightOperation::message() const
{
    return tr("Unable to retrieve the %1: %2").arg(TDWServiceTable::shared().serviceConfig(m_service).listOfItemsLabel, m_failureReason);
}
