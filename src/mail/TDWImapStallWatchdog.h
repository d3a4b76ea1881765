#pragma once

#include <chrono>
#include <mutex>
#include <optional>

// Tells a stuck IMAP request from a busy client: it measures how long the
// request now outstanding has waited for its answer, and only that, so time
// spent on the client's own work between requests never counts as a stall.
// Safe from any thread.
class TDWImapStallWatchdog
{
public:
    using Clock = std::chrono::steady_clock;

    explicit TDWImapStallWatchdog(std::chrono::milliseconds limit);

    void requestStarted(Clock::time_point now = Clock::now());
    void requestEnded();
    // Whether a request is outstanding and has waited longer than the limit.
    bool stalled(Clock::time_point now = Clock::now()) const;

private:
    mutable std::mutex m_mutex;
    std::chrono::milliseconds m_limit;
    std::optional<Clock::time_point> m_outstandingSince;
};
