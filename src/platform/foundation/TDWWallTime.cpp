#include "platform/foundation/TDWWallTime.h"

namespace {

// No daylight-saving change skips more than a day (the longest skipped a whole calendar day).
constexpr int kLongestGapHours = 48;

// The reading in `zone`, or in the local zone when there is none; Qt answers an
// invalid date-time for a reading that a gap skips.
QDateTime reading(const QDate &day, const QTime &time, const QTimeZone *zone)
{
    return zone ? QDateTime(day, time, *zone) : QDateTime(day, time, Qt::LocalTime);
}

QDateTime resolved(const QDate &day, const QTime &time, const QTimeZone *zone)
{
    const QDateTime exact = reading(day, time, zone);
    if (exact.isValid() || !day.isValid() || !time.isValid())
        return exact;
    // The offset of the last reading before the gap, stepping back an hour at a time.
    const QDateTime wall(day, time, Qt::UTC);
    for (int hours = 1; hours <= kLongestGapHours; ++hours) {
        const QDateTime earlier = wall.addSecs(-3600 * hours);
        const QDateTime before = reading(earlier.date(), earlier.time(), zone);
        if (before.isValid()) {
            const QDateTime instant = wall.addSecs(-before.offsetFromUtc());
            return zone ? instant.toTimeZone(*zone) : instant.toLocalTime();
        }
    }
    return exact;
}

} // namespace

QDateTime TDWWallTime::localInstant(const QDate &day, const QTime &time)
{
    return resolved(day, time, nullptr);
}

QDateTime TDWWallTime::instantInZone(const QDate &day, const QTime &time, const QTimeZone &zone)
{
    return resolved(day, time, &zone);
}
