#include "platform/foundation/TDWTestKillPoint.h"

#include <QByteArray>

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace {

// -1 when the variable is not set.
int killAt()
{
    static const int value = [] {
        const char *text = std::getenv("TDW_TEST_KILL_AT_WRITE");
        if (!text)
            return -1;
        bool ok = false;
        const int n = QByteArray(text).toInt(&ok);
        return ok && n >= 0 ? n : -1;
    }();
    return value;
}

std::atomic<int> g_writes = 0;

} // namespace

namespace TDWTestKillPoint {

void beforeDurableWrite()
{
    const int at = killAt();
    if (at < 0)
        return;
    if (++g_writes == at)
        std::raise(SIGKILL);
}

int writesSoFar()
{
    return g_writes;
}

} // namespace TDWTestKillPoint
