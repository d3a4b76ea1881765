#include "mail/TDWImapStallWatchdog.h"

TDWImapStallWatchdog::TDWImapStallWatchdog(std::chrono::milliseconds limit)
    : m_limit(limit)
{
}

void TDWImapStallWatchdog::requestStarted(Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    m_outstandingSince = now;
}

void TDWImapStallWatchdog::requestEnded()
{
    std::lock_guard lock(m_mutex);
    m_outstandingSince.reset();
}

bool TDWImapStallWatchdog::stalled(Clock::time_point now) const
{
    std::lock_guard lock(m_mutex);
    return m_outstandingSince && now - *m_outstandingSince > m_limit;
}
