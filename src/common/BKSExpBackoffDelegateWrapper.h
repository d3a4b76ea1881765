#pragma once

#include "platform/http/TDWHttpRequest.h"
#include "platform/http/TDWHttpResponse.h"

#include <QString>

#include <chrono>
#include <functional>
#include <mutex>

// The back-off policy for one request to Google: an answer that says the
// server failed (5xx) or is limiting the rate (429, or 403 with the reason
// "rateLimitExceeded" or "userRateLimitExceeded") is resent after a pause of
// 2^n seconds plus a random fraction of a second (n = 0 to 4), so after about
// 1, 2, 4, 8 and 16 seconds; after five resends the answer stands. A 429's
// Retry-After is honoured: the pause is never shorter than what it asks.
//
// The forms that send the request derive from this class and say how the
// resend happens after the pause (resendAfter()). One wrapper serves one
// request; its count of resends never goes back to 0.
class BKSExpBackoffDelegateWrapper
{
public:
    static constexpr int MaxRetries = 5;
    // A rate limit that asks for a longer wait ends the resends at once: the
    // request fails now and the next backup run tries it again.
    static constexpr std::chrono::seconds MaxRetryAfter = std::chrono::minutes(5);

    // A fraction of a second in [0, 1), added to every pause.
    using RandomFraction = std::function<float()>;

    explicit BKSExpBackoffDelegateWrapper(const TDWHttpRequest &request);
    virtual ~BKSExpBackoffDelegateWrapper();
    BKSExpBackoffDelegateWrapper(const BKSExpBackoffDelegateWrapper &) = delete;
    BKSExpBackoffDelegateWrapper &operator=(const BKSExpBackoffDelegateWrapper &) = delete;

    // Resends made so far.
    int retryNumber() const;
    // The request as last sent, after the caller's changes to a redirect; a
    // resend sends this one.
    TDWHttpRequest lastRequestSent() const;

    // Replaces the random source (tests fix it to check the pauses).
    void setRandomFraction(RandomFraction random);

    // True when the answer calls for a resend and one was scheduled; false
    // when the answer is final (any other status, or the resends are used up).
    bool retryResponse(const TDWHttpResponse &response);
    // True when a resend was scheduled for a request that failed for `reason`;
    // the pause is at least `atLeast`. Logs the pause, or the give-up.
    bool retryFailure(const QString &reason, std::chrono::milliseconds atLeast = std::chrono::milliseconds(0));

protected:
    // Sends lastRequestSent() again once `pause` has passed.
    virtual void resendAfter(std::chrono::milliseconds pause) = 0;
    void setLastRequestSent(const TDWHttpRequest &request);

private:
    void logGivingUp(const QString &reason) const;

    mutable std::mutex m_mutex; // guards the fields below: a redirect sets the request on the sending thread
    TDWHttpRequest m_lastRequestSent;
    int m_retryNumber = 0;
    RandomFraction m_randomFraction;
};
