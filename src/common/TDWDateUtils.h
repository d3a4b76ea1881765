#pragma once

#include <QDateTime>
#include <QString>

// Calendar arithmetic and short display texts for dates, in the user's local
// time zone and locale. Weekdays run 1 = Sunday to 7 = Saturday. Every
// operation that takes a date also exists without one, applied to now
// (TDWClock's, so tests can fix it).
// Invalid dates give invalid results (and empty texts).
class TDWDateUtils
{
public:
    // The hour (0-23) at which a day is taken to begin for `midnight`;
    // 0 unless changed. Values outside the range are clamped into it.
    static void setMidnightOffset(int hours);
    static int midnightOffset();

    // The start of the day that contains the date.
    static QDateTime midnight(const QDateTime &date);
    static QDateTime midnight();
    // One minute before `midnight`: 23:59 of the previous day.
    static QDateTime justBeforeMidnight(const QDateTime &date);
    static QDateTime justBeforeMidnight();
    // The same time of day n calendar days later (earlier for negative n);
    // across a daylight-saving change the wall-clock time is kept.
    static QDateTime addDays(const QDateTime &date, int n);
    static QDateTime addDays(int n);
    static QDateTime tomorrow(const QDateTime &date);
    static QDateTime tomorrow();
    // Exactly 86400 seconds earlier.
    static QDateTime yesterday(const QDateTime &date);
    static QDateTime yesterday();
    // 00:00 of the first day after the date's day that falls on `weekday`
    // (the same weekday gives the day a week later); invalid for a weekday
    // outside 1-7.
    static QDateTime nextDay(const QDateTime &date, int weekday);
    static QDateTime friday(const QDateTime &date);
    static QDateTime friday();
    static QDateTime saturday(const QDateTime &date);
    static QDateTime saturday();
    static QDateTime addSeconds(const QDateTime &date, double seconds);
    // Noon of the next Monday-to-Friday day.
    static QDateTime nextWeekday(const QDateTime &date);
    static QDateTime nextWeekday();
    // 12:00 of the date's day.
    static QDateTime noon(const QDateTime &date);
    static QDateTime noon();
    // Calendar days from the date's day to the other's (negative when the
    // other lies before).
    static qint64 daysTill(const QDateTime &date, const QDateTime &other);

    // "Today", "Yesterday" (when supported), the full date (longFormat), or
    // the short month name and the day ("Mar 5"), with the year when asked
    // ("Mar 5, 2024").
    static QString pretty(const QDateTime &date);
    static QString prettyWithYear(const QDateTime &date, bool withYear, bool yesterdaySupport = true, bool longFormat = false);

    // The text form of a date in logs and wherever a date becomes text:
    // "y-M-d H:m:sZ" in the local zone, numbers unpadded, e.g. "2024-3-5 9:7:3+0100".
    static QString description(const QDateTime &date);
};
