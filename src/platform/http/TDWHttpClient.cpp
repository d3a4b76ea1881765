#include "platform/http/TDWHttpClient.h"

#include "platform/foundation/TDWClock.h"

#include "platform/http/TDWHttpError.h"
#include "platform/http/TDWHttpHostAllowlist.h"
#include "platform/http/TDWHttpTransfer.h"

namespace {

bool sameHost(const QUrl &a, const QUrl &b)
{
    return TDWHttpHostAllowlist::normalizedHost(a.host()) == TDWHttpHostAllowlist::normalizedHost(b.host());
}

int defaultPort(const QUrl &url)
{
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80;
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 && sameHost(a, b)
        && a.port(defaultPort(a)) == b.port(defaultPort(b));
}

bool isHttpUrl(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

// The request to send after `redirect`; *follow is false when it must not be sent.
TDWHttpRequest nextRequest(const TDWHttpRequest &current, const TDWHttpResponse &redirect, bool *follow)
{
    TDWHttpRequest next = current;
    const QUrl target = current.url().resolved(QUrl::fromEncoded(redirect.header("Location")));
    next.setUrl(target);
    *follow = true;

    const int status = redirect.statusCode();
    if (status == 307 || status == 308) {
        if (!current.body().isEmpty() && !sameOrigin(current.url(), target))
            *follow = false;
    } else if (current.method() != "HEAD") {
        next.setMethod("GET");
        next.setBody({});
        next.removeHeader("Content-Type");
        next.removeHeader("Content-Length");
    }
    if (!sameOrigin(current.url(), target)) {
        next.removeHeader("Authorization");
        next.removeHeader("Cookie");
    }
    return next;
}

} // namespace

TDWHttpClient::TDWHttpClient()
    : TDWHttpClient(TDWHttpEnvironment::fromProcessEnvironment())
{
}

TDWHttpClient::TDWHttpClient(const TDWHttpEnvironment &environment)
    : m_transfer(std::make_unique<TDWHttpTransfer>(environment))
{
}

TDWHttpClient::~TDWHttpClient() = default;

void TDWHttpClient::cancel()
{
    m_transfer->cancel();
}

bool TDWHttpClient::isCancelled() const
{
    return m_transfer->isCancelled();
}

TDWHttpResponse TDWHttpClient::perform(const TDWHttpRequest &request)
{
    const QUrl firstUrl = request.url();
    // One deadline for every hop: a chain of slow redirects is no way around it.
    auto deadline = TDWHttpTransfer::SteadyClock::time_point::max();
    if (request.totalTimeout().count() > 0)
        deadline = TDWHttpTransfer::SteadyClock::now() + TDWClock::duration(request.totalTimeout());
    TDWHttpRequest current = request;
    for (int redirects = 0;; ++redirects) {
        const bool sendBearer = !request.bearerToken().isEmpty() && request.bearerHosts().allows(current.url())
                             && sameHost(current.url(), firstUrl);
        TDWHttpResponse response = m_transfer->run(current, sendBearer ? request.bearerToken() : QByteArray(), deadline);
        response.setRedirectCount(redirects);
        if (!response.isRedirect() || response.header("Location").isEmpty())
            return response;

        bool follow = false;
        TDWHttpRequest next = nextRequest(current, response, &follow);
        if (!follow)
            return response;
        if (!isHttpUrl(next.url()))
            return TDWHttpResponse::failure(TDWHttpError::make(TDWHttpError::BadUrl), current.url());
        if (redirects >= request.maxRedirects())
            return TDWHttpResponse::failure(TDWHttpError::make(TDWHttpError::TooManyRedirects), current.url());
        if (request.redirectHandler() && !request.redirectHandler()(response, next))
            return response;
        current = next;
    }
}
