#include "common/BKSExpBackoffDelegateWrapper.h"

#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"

#include <QLocale>

#include <cmath>
#include <cstdlib>
#include <optional>

namespace {

// Retry-After as seconds or as an HTTP date; none when absent or unreadable.
std::optional<std::chrono::milliseconds> retryAfter(const TDWHttpResponse &response)
{
    const QByteArray value = response.header("Retry-After").trimmed();
    if (value.isEmpty())
        return std::nullopt;
    bool isNumber = false;
    const qint64 seconds = value.toLongLong(&isNumber);
    if (isNumber) {
        if (seconds < 0)
            return std::nullopt;
        // Anything past the limit is refused alike; kept small enough not to overflow.
        const qint64 bounded = std::min<qint64>(seconds, BKSExpBackoffDelegateWrapper::MaxRetryAfter.count() + 1);
        return std::chrono::milliseconds(std::chrono::seconds(bounded));
    }
    // The HTTP date form; Qt's RFC 2822 reading refuses its "GMT".
    QDateTime date = QLocale::c().toDateTime(QString::fromLatin1(value), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    date.setTimeSpec(Qt::UTC);
    if (!date.isValid())
        return std::nullopt;
    return std::chrono::milliseconds(std::max<qint64>(0, TDWClock::now().msecsTo(date)));
}

QString urlForLog(const TDWHttpRequest &request)
{
    return request.url().toString(QUrl::RemoveUserInfo);
}

} // namespace

BKSExpBackoffDelegateWrapper::BKSExpBackoffDelegateWrapper(const TDWHttpRequest &request)
    : m_lastRequestSent(request)
    // The C library's generator, which the application seeds at start-up.
    , m_randomFraction([] { return float(std::rand()) / 2147483648.0f; })
{
}

BKSExpBackoffDelegateWrapper::~BKSExpBackoffDelegateWrapper() = default;

int BKSExpBackoffDelegateWrapper::retryNumber() const
{
    std::lock_guard lock(m_mutex);
    return m_retryNumber;
}

TDWHttpRequest BKSExpBackoffDelegateWrapper::lastRequestSent() const
{
    std::lock_guard lock(m_mutex);
    return m_lastRequestSent;
}

void BKSExpBackoffDelegateWrapper::setLastRequestSent(const TDWHttpRequest &request)
{
    std::lock_guard lock(m_mutex);
    m_lastRequestSent = request;
}

void BKSExpBackoffDelegateWrapper::setRandomFraction(RandomFraction random)
{
    std::lock_guard lock(m_mutex);
    m_randomFraction = std::move(random);
}

bool BKSExpBackoffDelegateWrapper::retryResponse(const TDWHttpResponse &response)
{
    const int status = response.statusCode();
    if (status >= 500 && status <= 599)
        return retryFailure(QString::number(status));
    if (status == 403) {
        const QString reason = response.rateLimitReason();
        return !reason.isEmpty() && retryFailure(QStringLiteral("403 %1").arg(reason));
    }
    if (status != 429)
        return false;
    const std::optional<std::chrono::milliseconds> wait = retryAfter(response);
    if (wait && *wait > MaxRetryAfter) {
        logGivingUp(QStringLiteral("429 (Retry-After %1)").arg(QString::fromLatin1(response.header("Retry-After").trimmed())));
        return false;
    }
    return retryFailure(QStringLiteral("429"), wait.value_or(std::chrono::milliseconds(0)));
}

bool BKSExpBackoffDelegateWrapper::retryFailure(const QString &reason, std::chrono::milliseconds atLeast)
{
    float pause = 0;
    {
        std::unique_lock lock(m_mutex);
        if (m_retryNumber >= MaxRetries) {
            lock.unlock();
            logGivingUp(reason);
            return false;
        }
        pause = std::max(std::pow(2.0f, float(m_retryNumber)) + m_randomFraction(), float(atLeast.count()) / 1000.0f);
        tdwLog(QStringLiteral("Request to %1 returned %2; sleeping for %3 seconds and trying again.")
                   .arg(urlForLog(m_lastRequestSent), reason, QString::asprintf("%f", double(pause))));
        ++m_retryNumber;
    }
    resendAfter(std::chrono::milliseconds(std::llround(double(pause) * 1000.0)));
    return true;
}

void BKSExpBackoffDelegateWrapper::logGivingUp(const QString &reason) const
{
    std::lock_guard lock(m_mutex);
    tdwLog(QStringLiteral("Request to %1 returned %2; giving up after retrying %3 times.")
               .arg(urlForLog(m_lastRequestSent), reason, QString::number(m_retryNumber)));
}
