#include "accounts/TDWLoginNotifier.h"

#include <atomic>

namespace {
std::atomic<TDWLoginNotifier *> g_shared = nullptr;
}

TDWLoginNotifier *TDWLoginNotifier::shared()
{
    return g_shared.load();
}

void TDWLoginNotifier::setShared(TDWLoginNotifier *notifier)
{
    g_shared = notifier;
}
