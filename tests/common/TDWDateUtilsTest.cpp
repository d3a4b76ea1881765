#include "common/TDWDateUtils.h"

#include "PinnedZoneAndLocale.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>


namespace {

// Berlin has a 23-hour day on 2024-03-31 and a 25-hour day on 2024-10-27.
class TDWDateUtilsTest : public ::testing::Test
{
protected:
    void TearDown() override { TDWDateUtils::setMidnightOffset(0); }
    PinnedZoneAndLocale pinned{"Europe/Berlin", "en_US"};
};

} // namespace

TEST_F(TDWDateUtilsTest, DayArithmetic)
{
    using Op = QDateTime (*)(const QDateTime &);
    struct Case
    {
        const char *label;
        Op op;
        QDateTime input;
        QDateTime expected;
    };
    const Case cases[] = {
        {"midnight on a 23-hour day", &TDWDateUtils::midnight, localAt(2024, 3, 31, 10), localAt(2024, 3, 31)},
        {"midnight late on a 25-hour day", &TDWDateUtils::midnight, localAt(2024, 10, 27, 23, 30), localAt(2024, 10, 27)},
        {"midnight of a UTC date is the local day's", &TDWDateUtils::midnight, QDateTime(QDate(2024, 3, 30), QTime(23, 30), Qt::UTC), localAt(2024, 3, 31)},
        {"justBeforeMidnight", &TDWDateUtils::justBeforeMidnight, localAt(2024, 3, 31, 10), localAt(2024, 3, 30, 23, 59)},
        {"noon on a 23-hour day", &TDWDateUtils::noon, localAt(2024, 3, 31, 1), localAt(2024, 3, 31, 12)},
        {"noon on a 25-hour day", &TDWDateUtils::noon, localAt(2024, 10, 27, 20), localAt(2024, 10, 27, 12)},
        {"addDays keeps the time across spring", [](const QDateTime &d) { return TDWDateUtils::addDays(d, 1); }, localAt(2024, 3, 30, 10), localAt(2024, 3, 31, 10)},
        {"addDays backwards across autumn", [](const QDateTime &d) { return TDWDateUtils::addDays(d, -2); }, localAt(2024, 10, 28, 10), localAt(2024, 10, 26, 10)},
        {"addDays into the skipped hour lands on that day", [](const QDateTime &d) { return TDWDateUtils::addDays(d, 1); }, localAt(2024, 3, 30, 2, 30), localAt(2024, 3, 31, 3, 30)},
        {"tomorrow in a leap February", &TDWDateUtils::tomorrow, localAt(2024, 2, 28, 8), localAt(2024, 2, 29, 8)},
        {"yesterday is 86400 seconds back", &TDWDateUtils::yesterday, localAt(2024, 3, 31, 12), localAt(2024, 3, 30, 11)},
        {"friday from a friday is a week on", &TDWDateUtils::friday, localAt(2024, 3, 29, 15), localAt(2024, 4, 5)},
        {"friday from the 31st rolls into the next month", &TDWDateUtils::friday, localAt(2024, 1, 31, 9), localAt(2024, 2, 2)},
        {"saturday from a saturday", &TDWDateUtils::saturday, localAt(2024, 3, 30, 23), localAt(2024, 4, 6)},
        {"nextDay sunday from a sunday", [](const QDateTime &d) { return TDWDateUtils::nextDay(d, 1); }, localAt(2024, 3, 31, 12), localAt(2024, 4, 7)},
        {"nextDay monday from a sunday", [](const QDateTime &d) { return TDWDateUtils::nextDay(d, 2); }, localAt(2024, 3, 31, 12), localAt(2024, 4, 1)},
        {"nextDay weekday 0 is invalid", [](const QDateTime &d) { return TDWDateUtils::nextDay(d, 0); }, localAt(2024, 3, 31), QDateTime()},
        {"nextDay weekday 8 is invalid", [](const QDateTime &d) { return TDWDateUtils::nextDay(d, 8); }, localAt(2024, 3, 31), QDateTime()},
        {"nextWeekday from a friday", &TDWDateUtils::nextWeekday, localAt(2024, 3, 29, 18), localAt(2024, 4, 1, 12)},
        {"nextWeekday from a saturday", &TDWDateUtils::nextWeekday, localAt(2024, 3, 30, 9), localAt(2024, 4, 1, 12)},
        {"nextWeekday from a sunday", &TDWDateUtils::nextWeekday, localAt(2024, 3, 31, 23), localAt(2024, 4, 1, 12)},
        {"nextWeekday from a thursday", &TDWDateUtils::nextWeekday, localAt(2024, 3, 28, 1), localAt(2024, 3, 29, 12)},
        {"addSeconds", [](const QDateTime &d) { return TDWDateUtils::addSeconds(d, -1.5); }, localAt(2024, 3, 31, 3), localAt(2024, 3, 31, 1, 59, 58).addMSecs(500)},
        {"invalid in, invalid out", &TDWDateUtils::midnight, QDateTime(), QDateTime()},
    };
    for (const Case &c : cases) {
        const QDateTime result = c.op(c.input);
        EXPECT_EQ(result, c.expected) << c.label;
        EXPECT_EQ(result.isValid(), c.expected.isValid()) << c.label;
    }
}

TEST_F(TDWDateUtilsTest, DaysTillCountsCalendarDays)
{
    struct Case
    {
        QDateTime from, to;
        qint64 days;
    };
    const Case cases[] = {
        {localAt(2024, 1, 10, 23), localAt(2024, 1, 11, 1), 1},
        {localAt(2024, 3, 30, 23), localAt(2024, 3, 31, 1), 1},  // into the 23-hour day
        {localAt(2024, 3, 31, 12), localAt(2024, 4, 1, 12), 1},  // out of it
        {localAt(2024, 10, 27, 1), localAt(2024, 10, 28, 1), 1}, // out of the 25-hour day
        {localAt(2024, 3, 31, 0), localAt(2024, 3, 31, 23, 59), 0},
        {localAt(2024, 4, 1, 12), localAt(2024, 3, 31, 12), -1},
        {localAt(2024, 3, 1), localAt(2024, 4, 1), 31},
        {localAt(2024, 1, 1, 12), localAt(2025, 1, 1, 11), 366},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TDWDateUtils::daysTill(c.from, c.to), c.days) << c.from.toString(Qt::ISODate).toStdString() << " -> " << c.to.toString(Qt::ISODate).toStdString();
}

TEST_F(TDWDateUtilsTest, FormsWithoutADateApplyToNow)
{
    using Op = QDateTime (*)(const QDateTime &);
    using NowOp = QDateTime (*)();
    struct Case
    {
        const char *label;
        NowOp onNow;
        Op onDate;
    };
    const Case cases[] = {
        {"midnight", &TDWDateUtils::midnight, &TDWDateUtils::midnight},
        {"justBeforeMidnight", &TDWDateUtils::justBeforeMidnight, &TDWDateUtils::justBeforeMidnight},
        {"tomorrow", &TDWDateUtils::tomorrow, &TDWDateUtils::tomorrow},
        {"yesterday", &TDWDateUtils::yesterday, &TDWDateUtils::yesterday},
        {"friday", &TDWDateUtils::friday, &TDWDateUtils::friday},
        {"saturday", &TDWDateUtils::saturday, &TDWDateUtils::saturday},
        {"nextWeekday", &TDWDateUtils::nextWeekday, &TDWDateUtils::nextWeekday},
        {"noon", &TDWDateUtils::noon, &TDWDateUtils::noon},
    };
    const QDateTime fixed = localAt(2024, 3, 30, 22, 15);
    PinnedNow now(fixed.toUTC());
    for (const Case &c : cases)
        EXPECT_EQ(c.onNow(), c.onDate(fixed)) << c.label;
    EXPECT_EQ(TDWDateUtils::addDays(3), TDWDateUtils::addDays(fixed, 3));
    EXPECT_EQ(TDWDateUtils::midnight(), localAt(2024, 3, 30));
}

TEST_F(TDWDateUtilsTest, MidnightOffsetMovesTheStartOfTheDay)
{
    TDWDateUtils::setMidnightOffset(4);
    EXPECT_EQ(TDWDateUtils::midnight(localAt(2024, 3, 15, 3)), localAt(2024, 3, 14, 4));
    EXPECT_EQ(TDWDateUtils::midnight(localAt(2024, 3, 15, 5)), localAt(2024, 3, 15, 4));
    EXPECT_EQ(TDWDateUtils::midnight(localAt(2024, 3, 15, 4)), localAt(2024, 3, 15, 4));
    EXPECT_EQ(TDWDateUtils::daysTill(localAt(2024, 3, 15, 3), localAt(2024, 3, 15, 5)), 1);

    // An hour outside the day would never begin a day.
    TDWDateUtils::setMidnightOffset(30);
    EXPECT_EQ(TDWDateUtils::midnightOffset(), 23);
    TDWDateUtils::setMidnightOffset(-5);
    EXPECT_EQ(TDWDateUtils::midnightOffset(), 0);
}

TEST_F(TDWDateUtilsTest, PrettyTexts)
{
    struct Case
    {
        QDateTime date, now;
        bool withYear, yesterdaySupport, longFormat;
        QString expected;
    };
    // Just after the 23-hour day: 86400 seconds back is two calendar days back.
    const QDateTime afterShortDay = localAt(2024, 4, 1, 0, 30);
    const Case cases[] = {
        {localAt(2024, 4, 1, 0, 5), afterShortDay, false, true, false, QStringLiteral("Today")},
        {localAt(2024, 3, 31, 10), afterShortDay, false, true, false, QStringLiteral("Yesterday")},
        {localAt(2024, 3, 31, 10), afterShortDay, false, false, false, QStringLiteral("Mar 31")},
        {localAt(2024, 3, 30, 23, 59), afterShortDay, false, true, false, QStringLiteral("Mar 30")},
        {localAt(2024, 3, 29, 8), afterShortDay, false, true, false, QStringLiteral("Mar 29")},
        {localAt(2024, 3, 29, 8), afterShortDay, true, true, false, QStringLiteral("Mar 29, 2024")},
        {localAt(2023, 12, 5, 8), afterShortDay, true, true, false, QStringLiteral("Dec 5, 2023")},
        {localAt(2024, 3, 29, 8), afterShortDay, false, true, true, QStringLiteral("Friday, March 29, 2024")},
        {localAt(2024, 3, 31, 23, 59), localAt(2024, 3, 31, 0, 0), false, true, true, QStringLiteral("Today")},
    };
    for (const Case &c : cases) {
        PinnedNow now(c.now);
        EXPECT_EQ(TDWDateUtils::prettyWithYear(c.date, c.withYear, c.yesterdaySupport, c.longFormat), c.expected) << c.date.toString(Qt::ISODate);
    }
    PinnedNow now(afterShortDay);
    EXPECT_EQ(TDWDateUtils::pretty(localAt(2024, 3, 31, 23)), QStringLiteral("Yesterday"));
    EXPECT_EQ(TDWDateUtils::pretty(localAt(2024, 3, 20, 23)), QStringLiteral("Mar 20"));
    EXPECT_EQ(TDWDateUtils::pretty(QDateTime()), QString());
}

TEST(TDWDateUtils, DescriptionIsTheLocalTimeUnpaddedWithTheZoneOffset)
{
    struct Case
    {
        const char *zone;
        QDateTime date; // in UTC, so each row means one instant whatever the zone
        QString expected;
    };
    const Case cases[] = {
        {"Europe/Berlin", QDateTime(QDate(2024, 3, 5), QTime(8, 7, 3), Qt::UTC), QStringLiteral("2024-3-5 9:7:3+0100")},
        {"Europe/Berlin", QDateTime(QDate(2024, 7, 5), QTime(21, 59, 59), Qt::UTC), QStringLiteral("2024-7-5 23:59:59+0200")},
        {"Europe/Berlin", QDateTime(QDate(2024, 12, 31), QTime(23, 0, 0), Qt::UTC), QStringLiteral("2025-1-1 0:0:0+0100")},
        {"America/New_York", QDateTime(QDate(2024, 3, 5), QTime(8, 7, 3), Qt::UTC), QStringLiteral("2024-3-5 3:7:3-0500")},
        {"America/New_York", QDateTime(QDate(2024, 7, 5), QTime(3, 0, 0), Qt::UTC), QStringLiteral("2024-7-4 23:0:0-0400")},
        {"Asia/Kolkata", QDateTime(QDate(2024, 3, 5), QTime(8, 7, 3), Qt::UTC), QStringLiteral("2024-3-5 13:37:3+0530")},
        {"UTC", QDateTime(QDate(2024, 3, 5), QTime(8, 7, 3), Qt::UTC), QStringLiteral("2024-3-5 8:7:3+0000")},
    };
    for (const Case &c : cases) {
        PinnedZoneAndLocale pinned(c.zone, "de_DE");
        EXPECT_EQ(TDWDateUtils::description(c.date), c.expected) << c.zone;
    }
    EXPECT_EQ(TDWDateUtils::description(QDateTime()), QStringLiteral("(null)"));
}
