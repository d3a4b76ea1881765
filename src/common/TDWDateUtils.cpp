#include "common/TDWDateUtils.h"

#include "common/TDWLocaleDateFormat.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWWallTime.h"

#include <QCoreApplication>
#include <QLocale>

#include <atomic>

namespace {

std::atomic<int> g_midnightOffset = 0;

// The start of the day, the way `midnight` counts days, that holds the date.
QDate dayOf(const QDateTime &date)
{
    const QDateTime local = date.toLocalTime();
    return local.time().hour() < g_midnightOffset ? local.date().addDays(-1) : local.date();
}

QDateTime startOf(const QDate &day)
{
    const int offset = g_midnightOffset;
    return offset == 0 ? day.startOfDay() : TDWWallTime::localInstant(day, QTime(offset, 0));
}

// Qt counts Monday = 1 to Sunday = 7; these operations count Sunday = 1.
int weekdayOf(const QDate &day)
{
    return day.dayOfWeek() % 7 + 1;
}

QString text(const char *english)
{
    return QCoreApplication::translate("TDWDateUtils", english);
}

} // namespace

void TDWDateUtils::setMidnightOffset(int hours)
{
    g_midnightOffset = qBound(0, hours, 23);
}

int TDWDateUtils::midnightOffset()
{
    return g_midnightOffset;
}

QDateTime TDWDateUtils::midnight(const QDateTime &date)
{
    if (!date.isValid())
        return {};
    return startOf(dayOf(date));
}

QDateTime TDWDateUtils::midnight()
{
    return midnight(TDWClock::now());
}

QDateTime TDWDateUtils::justBeforeMidnight(const QDateTime &date)
{
    return midnight(date).addSecs(-60);
}

QDateTime TDWDateUtils::justBeforeMidnight()
{
    return justBeforeMidnight(TDWClock::now());
}

QDateTime TDWDateUtils::addDays(const QDateTime &date, int n)
{
    // Qt keeps the wall-clock time across daylight-saving changes and moves a
    // time that falls into a gap past it.
    return date.toLocalTime().addDays(n);
}

QDateTime TDWDateUtils::addDays(int n)
{
    return addDays(TDWClock::now(), n);
}

QDateTime TDWDateUtils::tomorrow(const QDateTime &date)
{
    return addDays(date, 1);
}

QDateTime TDWDateUtils::tomorrow()
{
    return tomorrow(TDWClock::now());
}

QDateTime TDWDateUtils::yesterday(const QDateTime &date)
{
    return date.toLocalTime().addSecs(-86400);
}

QDateTime TDWDateUtils::yesterday()
{
    return yesterday(TDWClock::now());
}

QDateTime TDWDateUtils::nextDay(const QDateTime &date, int weekday)
{
    if (!date.isValid() || weekday < 1 || weekday > 7)
        return {};
    const QDate day = date.toLocalTime().date();
    const int ahead = weekday - weekdayOf(day);
    return day.addDays(ahead > 0 ? ahead : ahead + 7).startOfDay();
}

QDateTime TDWDateUtils::friday(const QDateTime &date)
{
    return nextDay(date, 6);
}

QDateTime TDWDateUtils::friday()
{
    return friday(TDWClock::now());
}

QDateTime TDWDateUtils::saturday(const QDateTime &date)
{
    return nextDay(date, 7);
}

QDateTime TDWDateUtils::saturday()
{
    return saturday(TDWClock::now());
}

QDateTime TDWDateUtils::addSeconds(const QDateTime &date, double seconds)
{
    return date.toLocalTime().addMSecs(qRound64(seconds * 1000));
}

QDateTime TDWDateUtils::nextWeekday(const QDateTime &date)
{
    if (!date.isValid())
        return {};
    const int weekday = weekdayOf(date.toLocalTime().date());
    const int ahead = weekday == 6 ? 3 : weekday == 7 ? 2 : 1;
    return noon(addDays(date, ahead));
}

QDateTime TDWDateUtils::nextWeekday()
{
    return nextWeekday(TDWClock::now());
}

QDateTime TDWDateUtils::noon(const QDateTime &date)
{
    if (!date.isValid())
        return {};
    // The wall clock's 12:00, also on the days a daylight-saving change
    // makes 23 or 25 hours long.
    return TDWWallTime::localInstant(date.toLocalTime().date(), QTime(12, 0));
}

QDateTime TDWDateUtils::noon()
{
    return noon(TDWClock::now());
}

qint64 TDWDateUtils::daysTill(const QDateTime &date, const QDateTime &other)
{
    if (!date.isValid() || !other.isValid())
        return 0;
    // Calendar days, not elapsed seconds / 86400: a 23-hour day is a day too.
    return dayOf(date).daysTo(dayOf(other));
}

QString TDWDateUtils::pretty(const QDateTime &date)
{
    return prettyWithYear(date, false);
}

QString TDWDateUtils::prettyWithYear(const QDateTime &date, bool withYear, bool yesterdaySupport, bool longFormat)
{
    if (!date.isValid())
        return {};
    const QDate day = dayOf(date);
    const QDate today = dayOf(TDWClock::now());
    if (day == today)
        return text("Today");
    // The calendar day before today, which is not always 86400 seconds back.
    if (yesterdaySupport && day == today.addDays(-1))
        return text("Yesterday");
    if (longFormat)
        return TDWLocaleDateFormat::format(date, TDWLocaleDateFormat::Style::Full, TDWLocaleDateFormat::Style::None);
    const QDate local = date.toLocalTime().date();
    const QString monthDay = QStringLiteral("%1 %2").arg(QLocale().monthName(local.month(), QLocale::ShortFormat)).arg(local.day());
    return withYear ? QStringLiteral("%1, %2").arg(monthDay).arg(local.year()) : monthDay;
}

QString TDWDateUtils::description(const QDateTime &date)
{
    if (!date.isValid())
        return QStringLiteral("(null)");
    const QDateTime local = date.toLocalTime();
    const QDate day = local.date();
    const QTime time = local.time();
    const int offset = local.offsetFromUtc();
    const int magnitude = qAbs(offset);
    QString zone = QStringLiteral("%1%2%3")
                       .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                       .arg(magnitude / 3600, 2, 10, QLatin1Char('0'))
                       .arg(magnitude / 60 % 60, 2, 10, QLatin1Char('0'));
    if (magnitude % 60) // historical local mean times are not whole minutes
        zone += QStringLiteral("%1").arg(magnitude % 60, 2, 10, QLatin1Char('0'));
    // Years before the common era print as the year of their era, without an era.
    const int year = day.year() < 0 ? -day.year() : day.year();
    return QStringLiteral("%1-%2-%3 %4:%5:%6%7")
        .arg(year)
        .arg(day.month())
        .arg(day.day())
        .arg(time.hour())
        .arg(time.minute())
        .arg(time.second())
        .arg(zone);
}
