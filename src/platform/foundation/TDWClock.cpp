#include "platform/foundation/TDWClock.h"

#include <QByteArray>

#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>

namespace {

std::mutex g_providerMutex;
// Shared so that a provider can be called without holding the lock.
std::shared_ptr<const std::function<QDateTime()>> g_provider;

std::atomic<double> g_scale{1.0};
std::once_flag g_scaleFromEnvironment;

bool usableFactor(double factor)
{
    return std::isfinite(factor) && factor > 0.0;
}

void readScaleFromEnvironment()
{
    std::call_once(g_scaleFromEnvironment, [] {
        bool ok = false;
        const double factor = qgetenv("TDW_TIME_SCALE").toDouble(&ok);
        if (ok && usableFactor(factor))
            g_scale = factor;
    });
}

} // namespace

namespace TDWClock {

QDateTime now()
{
    std::shared_ptr<const std::function<QDateTime()>> provider;
    {
        std::lock_guard lock(g_providerMutex);
        provider = g_provider;
    }
    return provider ? (*provider)() : QDateTime::currentDateTimeUtc();
}

void setNowProvider(std::function<QDateTime()> provider)
{
    std::lock_guard lock(g_providerMutex);
    g_provider = provider ? std::make_shared<const std::function<QDateTime()>>(std::move(provider)) : nullptr;
}

std::chrono::milliseconds duration(std::chrono::milliseconds nominal)
{
    if (nominal.count() <= 0)
        return nominal;
    const double scaled = std::round(double(nominal.count()) * durationScale());
    if (scaled >= double(std::numeric_limits<std::chrono::milliseconds::rep>::max()))
        return std::chrono::milliseconds::max();
    return std::chrono::milliseconds(std::max<std::chrono::milliseconds::rep>(1, std::chrono::milliseconds::rep(scaled)));
}

void setDurationScale(double factor)
{
    // A later first use must not overwrite what a test set.
    readScaleFromEnvironment();
    if (usableFactor(factor))
        g_scale = factor;
}

double durationScale()
{
    readScaleFromEnvironment();
    return g_scale;
}

} // namespace TDWClock
