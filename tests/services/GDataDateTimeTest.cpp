#include "services/GDataDateTime.h"

#include "ParserTestSupport.h"
#include "PinnedZoneAndLocale.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

constexpr qint64 U = GDataDateTime::Undefined;

struct ParseCase
{
    const char *text;
    qint64 year, month, day, hour, minute, second;
    qint64 offset;
    bool universal;
    const char *printed;
};

const ParseCase kParseCases[] = {
    {"2013-05-01T10:20:30Z", 2013, 5, 1, 10, 20, 30, 0, true, "2013-05-01T10:20:30Z"},
    {"2013-05-01t10:20:30z", 2013, 5, 1, 10, 20, 30, 0, true, "2013-05-01T10:20:30Z"},
    {"2013-05-01T10:20:30.987+05:30", 2013, 5, 1, 10, 20, 30, 19800, false, "2013-05-01T10:20:30+05:30"},
    {"2013-05-01T10:20:30-08:00", 2013, 5, 1, 10, 20, 30, -28800, false, "2013-05-01T10:20:30-08:00"},
    {"2013-05-01T10:20:30-00:00", 2013, 5, 1, 10, 20, 30, U, false, "2013-05-01T10:20:30-00:00"},
    {"2013-05-01T10:20:30+00:00", 2013, 5, 1, 10, 20, 30, 0, false, "2013-05-01T10:20:30+00:00"},
    {"2013-05-01", 2013, 5, 1, U, U, U, 0, true, "2013-05-01"},
    {"2013-05-01T10:20:30+25:00", 2013, 5, 1, 10, 20, 30, 90000, false, "2013-05-01T10:20:30+01:00"},
    {"2013-05-01 10:20:30Z", 2013, 5, 1, 10, 20, 30, 0, true, "2013-05-01T10:20:30Z"},
    {" 2013--05-01T10:20", 2013, 5, 1, 10, 20, U, 0, true, "2013-05-01T10:20:00Z"},
    {"2013-05-01T10:20:30+05", 2013, 5, 1, 10, 20, 30, 18000, false, "2013-05-01T10:20:30+05:00"},
    {"not a date", U, U, U, U, U, U, 0, true, "0000-00-00"},
};

TEST(GDataDateTime, ParsesTheWrittenFieldsAndZoneDesignator)
{
    for (const ParseCase &c : kParseCases) {
        SCOPED_TRACE(c.text);
        const GDataDateTime value(QString::fromLatin1(c.text));
        const GDataDateTime::DateComponents &d = value.dateComponents();
        EXPECT_EQ(d.year, c.year);
        EXPECT_EQ(d.month, c.month);
        EXPECT_EQ(d.day, c.day);
        EXPECT_EQ(d.hour, c.hour);
        EXPECT_EQ(d.minute, c.minute);
        EXPECT_EQ(d.second, c.second);
        EXPECT_EQ(d.era, U);
        EXPECT_EQ(value.offsetSeconds(), c.offset);
        EXPECT_EQ(value.isUniversalTime(), c.universal);
        EXPECT_EQ(value.hasTime(), c.hour != U);
        EXPECT_EQ(value.RFC3339String(), QString::fromLatin1(c.printed));
        EXPECT_EQ(value.stringValue(), value.RFC3339String());
    }
}

TEST(GDataDateTime, ReportsTheZoneItsDesignatorImplies)
{
    EXPECT_EQ(GDataDateTime(QStringLiteral("2013-05-01T10:20:30Z")).timeZone(), QTimeZone(QByteArrayLiteral("Universal")));
    EXPECT_EQ(GDataDateTime(QStringLiteral("2013-05-01T10:20:30+00:00")).timeZone(), QTimeZone(0));
    EXPECT_EQ(GDataDateTime(QStringLiteral("2013-05-01T10:20:30+05:30")).timeZone(), QTimeZone(19800));
    EXPECT_FALSE(GDataDateTime(QStringLiteral("2013-05-01T10:20:30-00:00")).timeZone().isValid());

    // Without a zone the written time is read in the system zone (pinned to Berlin, summer time).
    EXPECT_EQ(GDataDateTime(QStringLiteral("2013-05-01T10:20:30-00:00")).date(),
              QDateTime(QDate(2013, 5, 1), QTime(8, 20, 30), Qt::UTC));
    // A date alone is midnight UTC.
    EXPECT_EQ(GDataDateTime(QStringLiteral("2013-05-01")).date(), QDateTime(QDate(2013, 5, 1), QTime(0, 0), Qt::UTC));
    // Without a year there is no instant.
    EXPECT_TRUE(GDataDateTime(QStringLiteral("not a date")).date().isNull());
    EXPECT_TRUE(GDataDateTime(QStringLiteral("99999999999-01-01T00:00:00Z")).date().isNull());
}

TEST(GDataDateTime, EqualityComparesFieldsOffsetFlagAndZone)
{
    const GDataDateTime zulu(QStringLiteral("2013-05-01T10:20:30Z"));
    EXPECT_EQ(zulu, GDataDateTime(QStringLiteral("2013-05-01t10:20:30z")));
    // Same offset, but only one of them is universal.
    EXPECT_NE(zulu, GDataDateTime(QStringLiteral("2013-05-01T10:20:30+00:00")));
    EXPECT_NE(zulu, GDataDateTime(QStringLiteral("2013-05-01T10:20:31Z")));
    EXPECT_EQ(zulu.date(), GDataDateTime(QStringLiteral("2013-05-01T10:20:30+00:00")).date());

    // A copy makes the derived zone explicit and stays equal.
    const GDataDateTime indian(QStringLiteral("2013-05-01T10:20:30.5+05:30"));
    GDataDateTime copy = indian;
    EXPECT_EQ(copy, indian);
    copy.setOffsetSeconds(0);
    EXPECT_EQ(copy.timeZone(), QTimeZone(19800));
    EXPECT_NE(copy, indian);
}

TEST(GDataDateTime, BuildsTheTextOfAnInstantInAZone)
{
    const QDateTime instant(QDate(2013, 5, 1), QTime(10, 20, 30, 999), Qt::UTC);
    const struct
    {
        QTimeZone zone;
        const char *printed;
        bool universal;
    } cases[] = {
        {QTimeZone(QByteArrayLiteral("UTC")), "2013-05-01T10:20:30Z", true},
        {QTimeZone(QByteArrayLiteral("GMT")), "2013-05-01T10:20:30+00:00", false},
        {QTimeZone(QByteArrayLiteral("America/New_York")), "2013-05-01T06:20:30-04:00", false},
        {QTimeZone(QByteArrayLiteral("Asia/Kolkata")), "2013-05-01T15:50:30+05:30", false},
        {QTimeZone(), "2013-05-01T12:20:30-00:00", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.printed);
        const GDataDateTime value(instant, c.zone);
        EXPECT_EQ(value.RFC3339String(), QString::fromLatin1(c.printed));
        EXPECT_EQ(value.isUniversalTime(), c.universal);
        EXPECT_EQ(value.date(), instant.addMSecs(-999));
    }
}

TEST(GDataDateTime, TimeOfDayAndZoneCanBeChanged)
{
    GDataDateTime day(QStringLiteral("2013-05-01"));
    day.setHasTime(true);
    EXPECT_EQ(day.RFC3339String(), QStringLiteral("2013-05-01T00:00:00-00:00"));
    EXPECT_FALSE(day.isUniversalTime());

    GDataDateTime timed(QStringLiteral("2013-05-01T10:20:30+02:00"));
    timed.setTimeZone(QTimeZone(QByteArrayLiteral("Europe/Paris")));
    timed.setHasTime(false);
    EXPECT_EQ(timed.RFC3339String(), QStringLiteral("2013-05-01"));
    EXPECT_FALSE(timed.timeZone().isValid());
    EXPECT_EQ(timed.offsetSeconds(), U);

    // The new zone reads the written time, and the offset follows it.
    GDataDateTime moved(QStringLiteral("2013-01-15T10:00:00-00:00"));
    moved.setTimeZone(QTimeZone(QByteArrayLiteral("America/New_York")));
    EXPECT_EQ(moved.offsetSeconds(), -5 * 3600);
    EXPECT_EQ(moved.date(), QDateTime(QDate(2013, 1, 15), QTime(15, 0), Qt::UTC));
    EXPECT_EQ(moved.RFC3339String(), QStringLiteral("2013-01-15T10:00:00-05:00"));
    moved.setTimeZone(QTimeZone());
    EXPECT_EQ(moved.offsetSeconds(), U);
}

// A wall-clock time that a daylight-saving change skips is read at the offset in
// force before the change, as a clock that was not put forward would show it;
// a date alone in a zone whose midnight is skipped begins when that day begins.
TEST(GDataDateTime, ReadsATimeInADaylightSavingGapAtTheOffsetBeforeIt)
{
    const struct
    {
        const char *systemZone;
        const char *text;
        const char *zone; // the value's own zone; none reads it in the system zone
        bool dateOnly;
        const char *instant;
    } cases[] = {
        {"America/New_York", "2013-03-10T02:30:00-00:00", nullptr, false, "2013-03-10T07:30:00Z"},
        {"America/New_York", "2013-03-10T02:00:00-00:00", nullptr, false, "2013-03-10T07:00:00Z"},
        {"America/New_York", "2013-03-10T01:59:59-00:00", nullptr, false, "2013-03-10T06:59:59Z"},
        {"America/New_York", "2013-03-10T03:00:00-00:00", nullptr, false, "2013-03-10T07:00:00Z"},
        {"UTC", "2013-03-10T02:30:00-00:00", "America/New_York", false, "2013-03-10T07:30:00Z"},
        {"America/Havana", "2013-03-10T00:00:00-00:00", nullptr, true, "2013-03-10T05:00:00Z"},
        {"America/Havana", "2013-03-10T00:30:00-00:00", nullptr, false, "2013-03-10T05:30:00Z"},
        {"America/Havana", "2013-03-11T00:00:00-00:00", nullptr, true, "2013-03-11T04:00:00Z"},
        {"UTC", "2013-03-10T00:00:00-00:00", "America/Havana", true, "2013-03-10T05:00:00Z"},
        {"Europe/Berlin", "2013-03-31T02:30:00-00:00", nullptr, false, "2013-03-31T01:30:00Z"},
        // A half-hour gap (02:00 to 02:30 at +10:30).
        {"Australia/Lord_Howe", "2013-10-06T02:15:00-00:00", nullptr, false, "2013-10-05T15:45:00Z"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.systemZone) + " " + c.text + (c.zone ? std::string(" in ") + c.zone : std::string()));
        PinnedZoneAndLocale pinned(c.systemZone, "en_US");
        GDataDateTime value(QString::fromLatin1(c.text));
        if (c.dateOnly)
            value.setHasTime(false);
        if (c.zone)
            value.setTimeZone(QTimeZone(QByteArray(c.zone)));
        EXPECT_EQ(value.date().toString(Qt::ISODate), QString::fromLatin1(c.instant));
        // The offset a zone gives the value is the one its fields were read at, so its text names the same instant.
        if (c.zone && !c.dateOnly) {
            EXPECT_EQ(GDataDateTime(value.RFC3339String()).date().toString(Qt::ISODate), QString::fromLatin1(c.instant))
                << qPrintable(value.RFC3339String());
        }
    }
}

// Python's datetime is an independent reader of the same texts: each of our
// values must denote the instant and offset that Python reads, and our text of
// an instant in a named zone must be what Python prints for it.
TEST(GDataDateTime, AgreesWithPythonsDatetime)
{
    const struct
    {
        const char *ours;
        const char *python; // the same meaning in Python's ISO form
    } parsed[] = {
        {"2013-05-01T10:20:30Z", "2013-05-01T10:20:30+00:00"},
        {"2013-05-01t10:20:30z", "2013-05-01T10:20:30+00:00"},
        {"2013-05-01T10:20:30.987+05:30", "2013-05-01T10:20:30+05:30"},
        {"2013-05-01T10:20:30-08:00", "2013-05-01T10:20:30-08:00"},
        {"2013-05-01T10:20:30+00:00", "2013-05-01T10:20:30+00:00"},
        {"2013-05-01T10:20:30-00:00", "2013-05-01T10:20:30"},
        {"2013-01-15T23:59:59-00:00", "2013-01-15T23:59:59"},
        {"2013-05-01", "2013-05-01T00:00:00+00:00"},
        {"2013-05-01 10:20:30Z", "2013-05-01T10:20:30+00:00"},
        {"1969-12-31T23:59:59Z", "1969-12-31T23:59:59+00:00"},
        {"2024-02-29T23:59:59.999-12:00", "2024-02-29T23:59:59-12:00"},
        {"2038-01-19T03:14:08+14:00", "2038-01-19T03:14:08+14:00"},
        {"1900-03-01T00:00:00Z", "1900-03-01T00:00:00+00:00"},
    };
    const struct
    {
        qint64 epoch;
        const char *zone;
    } zoned[] = {
        {1367403630, "America/New_York"}, {1358208000, "America/New_York"}, {1367403630, "Asia/Kolkata"},
        {1358208000, "Europe/London"},    {1367403630, "America/St_Johns"}, {1367403630, "Pacific/Chatham"},
        {1372636800, "Australia/Lord_Howe"}, {0, "Europe/Berlin"},
    };

    QByteArray input;
    for (const auto &c : parsed)
        input += QByteArray("P ") + c.python + '\n';
    for (const auto &c : zoned)
        input += "Z " + QByteArray::number(c.epoch) + ' ' + c.zone + '\n';

    const char *script = R"(
import sys, datetime, zoneinfo
for line in sys.stdin:
    kind, rest = line.rstrip("\n").split(" ", 1)
    if kind == "P":
        d = datetime.datetime.fromisoformat(rest)
        off = d.utcoffset()
        print(int(d.timestamp()), "none" if off is None else int(off.total_seconds()))
    else:
        epoch, zone = rest.split(" ")
        print(datetime.datetime.fromtimestamp(int(epoch), zoneinfo.ZoneInfo(zone)).isoformat())
)";
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(script)});
    ASSERT_TRUE(python.waitForStarted(10000)) << "python3 is needed for this test";
    python.write(input);
    python.closeWriteChannel();
    ASSERT_TRUE(python.waitForFinished(30000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    const QStringList answers = QString::fromUtf8(python.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(answers.size(), qsizetype(std::size(parsed) + std::size(zoned)));

    qsizetype line = 0;
    for (const auto &c : parsed) {
        SCOPED_TRACE(c.ours);
        const GDataDateTime value(QString::fromLatin1(c.ours));
        const qint64 offset = value.offsetSeconds();
        const QString ours = QStringLiteral("%1 %2").arg(value.date().toSecsSinceEpoch()).arg(offset == U ? QStringLiteral("none") : QString::number(offset));
        EXPECT_EQ(ours, answers[line++]);
    }
    for (const auto &c : zoned) {
        SCOPED_TRACE(c.zone);
        const GDataDateTime value(QDateTime::fromSecsSinceEpoch(c.epoch, Qt::UTC), QTimeZone(QByteArray(c.zone)));
        EXPECT_EQ(value.RFC3339String(), answers[line++]);
        EXPECT_EQ(value.date().toSecsSinceEpoch(), c.epoch);
    }
}

} // namespace
