#include "platform/foundation/TDWWallTime.h"

#include "PinnedZoneAndLocale.h"

#include <gtest/gtest.h>

namespace {

// Each reading is tried in the system zone and as a named zone, which must agree.
TEST(TDWWallTime, ReadsASkippedTimeAtTheOffsetBeforeTheGap)
{
    const struct
    {
        const char *zone;
        QDate day;
        QTime time;
        const char *instant;
    } cases[] = {
        {"America/New_York", QDate(2013, 3, 10), QTime(1, 59, 59), "2013-03-10T06:59:59Z"},
        {"America/New_York", QDate(2013, 3, 10), QTime(2, 30), "2013-03-10T07:30:00Z"},
        {"America/New_York", QDate(2013, 3, 10), QTime(3, 0), "2013-03-10T07:00:00Z"},
        // The skipped midnight is the start of its own day, not the evening before.
        {"America/Havana", QDate(2013, 3, 10), QTime(0, 0), "2013-03-10T05:00:00Z"},
        {"America/Havana", QDate(2013, 3, 10), QTime(0, 59), "2013-03-10T05:59:00Z"},
        {"Australia/Lord_Howe", QDate(2013, 10, 6), QTime(2, 15), "2013-10-05T15:45:00Z"},
        // A whole calendar day skipped (from -10:00 to +14:00).
        {"Pacific/Apia", QDate(2011, 12, 30), QTime(12, 0), "2011-12-30T22:00:00Z"},
        // A time that repeats keeps the reading Qt gives it.
        {"Europe/Berlin", QDate(2013, 10, 27), QTime(1, 30), "2013-10-26T23:30:00Z"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " " + c.day.toString(Qt::ISODate).toStdString() + " " + c.time.toString().toStdString());
        PinnedZoneAndLocale pinned(c.zone, "en_US");
        const QDateTime local = TDWWallTime::localInstant(c.day, c.time);
        const QDateTime named = TDWWallTime::instantInZone(c.day, c.time, QTimeZone(QByteArray(c.zone)));
        EXPECT_EQ(local.toUTC().toString(Qt::ISODate), QString::fromLatin1(c.instant));
        EXPECT_EQ(named.toUTC().toString(Qt::ISODate), QString::fromLatin1(c.instant));
        // The answer stays in the zone it was asked in.
        EXPECT_EQ(local.timeSpec(), Qt::LocalTime);
        EXPECT_EQ(named.timeZone(), QTimeZone(QByteArray(c.zone)));
    }
    EXPECT_FALSE(TDWWallTime::localInstant(QDate(), QTime(1, 0)).isValid());
}

} // namespace
