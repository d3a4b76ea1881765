#pragma once

#include "platform/http/TDWHttpEnvironment.h"
#include "platform/http/TDWHttpRequest.h"
#include "platform/http/TDWHttpResponse.h"

#include <memory>

class TDWHttpTransfer;

// A blocking HTTP client for worker threads: TLS always verified, no cookies,
// proxies and the host map from the environment, and redirects followed here
// rather than inside libcurl, so that each hop decides afresh what it carries:
//
// - the bearer token only to https hops on its allowlist and on the host the
//   request started on;
// - a request body only to the origin it was meant for (a 307/308 to another
//   origin is not followed); 301/302/303 turn into a GET without a body;
// - the caller's Authorization and Cookie headers only within one origin;
// - only http and https targets.
//
// The request's total time-out is one deadline for all its hops.
//
// One client serves one request at a time; cancel() may be called from any
// thread and ends the running request and every later one.
class TDWHttpClient
{
public:
    TDWHttpClient();
    explicit TDWHttpClient(const TDWHttpEnvironment &environment);
    ~TDWHttpClient();
    TDWHttpClient(const TDWHttpClient &) = delete;
    TDWHttpClient &operator=(const TDWHttpClient &) = delete;

    TDWHttpResponse perform(const TDWHttpRequest &request);

    void cancel();
    bool isCancelled() const;

private:
    std::unique_ptr<TDWHttpTransfer> m_transfer;
};
