#pragma once

#include "platform/http/TDWHttpEnvironment.h"
#include "platform/http/TDWHttpResponse.h"

#include <QByteArray>

#include <atomic>
#include <chrono>

class TDWHttpRequest;

typedef void CURL;
typedef void CURLM;

// One request/response exchange over libcurl, without following redirects
// (the client decides what a redirected request keeps). One easy handle is
// reused for every hop, so connections to a host are kept alive.
//
// Runs on the calling thread; cancel() may come from any other thread and ends
// a running exchange within one poll.
class TDWHttpTransfer
{
public:
    explicit TDWHttpTransfer(const TDWHttpEnvironment &environment);
    ~TDWHttpTransfer();
    TDWHttpTransfer(const TDWHttpTransfer &) = delete;
    TDWHttpTransfer &operator=(const TDWHttpTransfer &) = delete;

    using SteadyClock = std::chrono::steady_clock;

    // Sends `request` once. `bearerToken`, when not empty, goes out as the
    // Authorization header of this exchange only. Past `deadline` the
    // exchange ends as timed out.
    TDWHttpResponse run(const TDWHttpRequest &request, const QByteArray &bearerToken,
                        SteadyClock::time_point deadline = SteadyClock::time_point::max());

    // Sticky: every later run() ends at once as cancelled.
    void cancel();
    bool isCancelled() const { return m_cancelled.load(); }

    // The state of one run, shared with libcurl's callbacks.
    struct Exchange;

private:

    void configure(Exchange &exchange, const TDWHttpRequest &request, const QByteArray &bearerToken);
    int drive(Exchange &exchange);
    TDWHttpResponse finish(Exchange &exchange, const TDWHttpRequest &request, int result);

    TDWHttpEnvironment m_environment;
    CURL *m_easy = nullptr;
    CURLM *m_multi = nullptr;
    std::atomic<bool> m_cancelled = false;
};
