#include "services/GDataDateTime.h"

#include "platform/foundation/TDWWallTime.h"

#include <cmath>
#include <cstdlib>

namespace {

constexpr qint64 kMinInt = std::numeric_limits<qint64>::min();
constexpr qint64 kSecondsPerDay = 86400;
// Fixed-offset zones exist for offsets up to 14 hours either way.
constexpr qint64 kLargestZoneOffset = 14 * 3600;
// Fields beyond these bounds name no instant that QDateTime can hold.
constexpr qint64 kLargestYear = 1000000;
constexpr qint64 kLargestField = 1000000000;

// Reads the text left to right the way the format's loose grammar allows:
// white space before every item is skipped, an item that does not match stops the scan.
class Scanner
{
public:
    explicit Scanner(const QString &text) : m_text(text) {}

    bool scanInteger(qint64 *out)
    {
        skipSpace();
        qsizetype pos = m_pos;
        bool negative = false;
        if (pos < m_text.size() && (m_text[pos] == u'+' || m_text[pos] == u'-'))
            negative = m_text[pos++] == u'-';
        const qsizetype digitsStart = pos;
        qint64 value = 0;
        bool saturated = false;
        for (; pos < m_text.size() && isDigit(m_text[pos]); ++pos) {
            const int digit = m_text[pos].unicode() - u'0';
            if (!saturated && (__builtin_mul_overflow(value, 10, &value) || __builtin_add_overflow(value, digit, &value)))
                saturated = true;
        }
        if (pos == digitsStart)
            return false;
        m_pos = pos;
        // Like the platform scanner, an integer too large for 64 bits saturates.
        *out = saturated ? (negative ? kMinInt : GDataDateTime::Undefined) : (negative ? -value : value);
        return true;
    }

    bool scanDecimal(double *out)
    {
        skipSpace();
        qsizetype pos = m_pos;
        QByteArray number;
        if (pos < m_text.size() && (m_text[pos] == u'+' || m_text[pos] == u'-'))
            number += char(m_text[pos++].unicode());
        bool anyDigit = false;
        for (; pos < m_text.size() && isDigit(m_text[pos]); ++pos, anyDigit = true)
            number += char(m_text[pos].unicode());
        if (pos < m_text.size() && m_text[pos] == u'.') {
            number += '.';
            for (++pos; pos < m_text.size() && isDigit(m_text[pos]); ++pos, anyDigit = true)
                number += char(m_text[pos].unicode());
        }
        if (!anyDigit)
            return false;
        m_pos = pos;
        *out = number.toDouble(); // C locale whatever the user's locale is
        return true;
    }

    // One or more characters of `set`, taken as one run. A set that holds a
    // blank takes the blanks itself, so "2013-05-01 10:20:30" keeps its time.
    bool scanRun(QStringView set, QString *out = nullptr)
    {
        if (!set.contains(u' '))
            skipSpace();
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() && set.contains(m_text[m_pos]))
            ++m_pos;
        if (out)
            *out = m_text.mid(start, m_pos - start);
        return m_pos > start;
    }

private:
    static bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }
    void skipSpace()
    {
        while (m_pos < m_text.size() && m_text[m_pos].isSpace())
            ++m_pos;
    }

    const QString &m_text;
    qsizetype m_pos = 0;
};

bool isDefined(qint64 value)
{
    return value != GDataDateTime::Undefined;
}

// Days from 1970-01-01 to the first of the given month of the proleptic Gregorian calendar.
qint64 daysFromCivil(qint64 year, qint64 month)
{
    year -= month <= 2;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const qint64 yearOfEra = year - era * 400;
    const qint64 dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The fields read as if they were UTC, in seconds since 1970; months, days and
// times out of their ranges carry over as a lenient calendar does.
bool civilSeconds(const GDataDateTime::DateComponents &c, qint64 *out)
{
    if (!isDefined(c.year) || std::llabs(c.year) > kLargestYear)
        return false;
    const auto field = [](qint64 value, qint64 fallback) { return isDefined(value) ? value : fallback; };
    const qint64 month = field(c.month, 1), day = field(c.day, 1);
    const qint64 hour = field(c.hour, 0), minute = field(c.minute, 0), second = field(c.second, 0);
    for (qint64 value : {month, day, hour, minute, second})
        if (value < -kLargestField || value > kLargestField)
            return false;
    const qint64 monthIndex = c.year * 12 + (month - 1);
    const qint64 year = monthIndex >= 0 ? monthIndex / 12 : -((-monthIndex + 11) / 12);
    const qint64 days = daysFromCivil(year, monthIndex - year * 12 + 1) + (day - 1);
    *out = days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    return true;
}

const QTimeZone &universalZone()
{
    // Without the zone database the built-in UTC zone stands in for it.
    static const QTimeZone zone = [] {
        QTimeZone named(QByteArrayLiteral("Universal"));
        return named.isValid() ? named : QTimeZone::utc();
    }();
    return zone;
}

const QTimeZone &utcZone()
{
    static const QTimeZone zone(QByteArrayLiteral("UTC"));
    return zone;
}

QString twoDigits(qint64 value)
{
    return QString::asprintf("%02lld", static_cast<long long>(isDefined(value) ? value : 0));
}

} // namespace

GDataDateTime::GDataDateTime(const QString &rfc3339)
{
    setFromRFC3339String(rfc3339);
}

GDataDateTime::GDataDateTime(const QDateTime &instant, const QTimeZone &zone)
{
    setFromDate(instant, zone);
}

GDataDateTime::GDataDateTime(const GDataDateTime &other)
    : m_components(other.m_components), m_offsetSeconds(other.m_offsetSeconds), m_universal(other.m_universal),
      m_zone(other.timeZone())
{
}

GDataDateTime &GDataDateTime::operator=(const GDataDateTime &other)
{
    if (this != &other) {
        m_components = other.m_components;
        m_offsetSeconds = other.m_offsetSeconds;
        m_universal = other.m_universal;
        m_zone = other.timeZone();
    }
    return *this;
}

void GDataDateTime::setFromRFC3339String(const QString &rfc3339)
{
    qint64 year = Undefined, month = Undefined, day = Undefined, hour = Undefined, minute = Undefined;
    double seconds = -1.0;
    qint64 offsetHours = 0, offsetMinutes = 0;
    QString sign;

    // Each step needs the ones before it; what was read before a mismatch stays.
    Scanner s(rfc3339);
    [[maybe_unused]] const bool complete = s.scanInteger(&year) && s.scanRun(u"-") && s.scanInteger(&month) && s.scanRun(u"-")
        && s.scanInteger(&day) && s.scanRun(u"Tt ") && s.scanInteger(&hour) && s.scanRun(u":")
        && s.scanInteger(&minute) && s.scanRun(u":") && s.scanDecimal(&seconds) && s.scanRun(u"+-zZ", &sign)
        && s.scanInteger(&offsetHours) && s.scanRun(u":") && s.scanInteger(&offsetMinutes);

    // The written seconds are kept to single precision and their fraction dropped.
    const float secondsNumber = static_cast<float>(seconds);
    qint64 second = Undefined;
    if (secondsNumber != -1.0f)
        second = std::isfinite(secondsNumber) && std::fabs(secondsNumber) < 9.0e18f ? static_cast<qint64>(secondsNumber) : Undefined;

    m_components = DateComponents();
    m_components.year = year;
    m_components.month = month;
    m_components.day = day;
    m_components.hour = hour;
    m_components.minute = minute;
    m_components.second = second;
    m_zone = QTimeZone();
    m_universal = false;

    if (sign.isEmpty() || sign.compare(QLatin1String("Z"), Qt::CaseInsensitive) == 0) {
        m_universal = true;
        m_offsetSeconds = 0;
        return;
    }
    qint64 hoursPart = 0, minutesPart = 0, offset = 0;
    if (__builtin_mul_overflow(offsetHours, 3600, &hoursPart) || __builtin_mul_overflow(offsetMinutes, 60, &minutesPart)
        || __builtin_add_overflow(hoursPart, minutesPart, &offset) || offset == kMinInt) {
        m_offsetSeconds = Undefined;
        return;
    }
    if (sign == QLatin1String("-"))
        offset = offset == 0 ? Undefined : -offset;
    m_offsetSeconds = offset;
}

void GDataDateTime::setFromDate(const QDateTime &instant, const QTimeZone &zone)
{
    m_components = DateComponents();
    m_universal = false;
    m_offsetSeconds = Undefined;
    m_zone = zone;
    if (!instant.isValid())
        return;
    const QDateTime local = zone.isValid() ? instant.toTimeZone(zone) : instant.toLocalTime();
    const QDate date = local.date();
    const QTime time = local.time();
    m_components.year = date.year();
    m_components.month = date.month();
    m_components.day = date.day();
    m_components.hour = time.hour();
    m_components.minute = time.minute();
    m_components.second = time.second();
    if (zone.isValid()) {
        m_offsetSeconds = zone.offsetFromUtc(instant);
        m_universal = m_offsetSeconds == 0 && zone == utcZone();
    }
}

QString GDataDateTime::RFC3339String() const
{
    const auto &c = m_components;
    QString text = QString::asprintf("%04lld", static_cast<long long>(isDefined(c.year) ? c.year : 0)) + u'-'
        + twoDigits(c.month) + u'-' + twoDigits(c.day);
    if (!hasTime())
        return text;
    text += u'T' + twoDigits(c.hour) + u':' + twoDigits(c.minute) + u':' + twoDigits(c.second);
    if (m_universal)
        return text + u'Z';
    if (!isDefined(m_offsetSeconds))
        return text + QLatin1String("-00:00");
    // Unsigned so that the most negative offset has a magnitude too.
    const quint64 magnitude = m_offsetSeconds < 0 ? 0 - static_cast<quint64>(m_offsetSeconds) : static_cast<quint64>(m_offsetSeconds);
    return text + (m_offsetSeconds < 0 ? u'-' : u'+') + twoDigits(qint64(magnitude / 3600 % 24)) + u':'
        + twoDigits(qint64(magnitude / 60 % 60));
}

QDateTime GDataDateTime::date() const
{
    qint64 civil = 0;
    if (!civilSeconds(m_components, &civil))
        return {};
    if (m_zone.isValid() || (!m_universal && !isDefined(m_offsetSeconds))) {
        // Named and local zones decide their own offset for the written wall-clock time.
        const QDateTime wall = QDateTime::fromSecsSinceEpoch(civil, Qt::UTC);
        const QDateTime inZone = m_zone.isValid() ? TDWWallTime::instantInZone(wall.date(), wall.time(), m_zone)
                                                  : TDWWallTime::localInstant(wall.date(), wall.time());
        return inZone.toUTC();
    }
    const qint64 offset = m_universal ? 0 : m_offsetSeconds;
    qint64 instant = 0;
    if (__builtin_sub_overflow(civil, offset, &instant))
        return {};
    return QDateTime::fromSecsSinceEpoch(instant, Qt::UTC);
}

QTimeZone GDataDateTime::timeZone() const
{
    if (m_zone.isValid())
        return m_zone;
    if (m_universal)
        return universalZone();
    if (isDefined(m_offsetSeconds) && std::llabs(m_offsetSeconds) <= kLargestZoneOffset)
        return QTimeZone(static_cast<int>(m_offsetSeconds));
    return {};
}

void GDataDateTime::setTimeZone(const QTimeZone &zone)
{
    m_zone = zone;
    const QDateTime instant = zone.isValid() ? date() : QDateTime();
    qint64 civil = 0;
    // The offset the fields were read at, which for a time that a gap skips is
    // the one before the gap, not the one at the instant.
    m_offsetSeconds = instant.isValid() && civilSeconds(m_components, &civil) ? civil - instant.toSecsSinceEpoch() : Undefined;
}

void GDataDateTime::setTimeZone(const QTimeZone &zone, qint64 offsetSeconds)
{
    m_zone = zone;
    m_offsetSeconds = offsetSeconds;
}

bool GDataDateTime::hasTime() const
{
    return isDefined(m_components.hour) && isDefined(m_components.minute);
}

void GDataDateTime::setHasTime(bool wanted)
{
    if (wanted == hasTime())
        return;
    m_offsetSeconds = Undefined;
    m_universal = false;
    if (wanted) {
        m_components.hour = m_components.minute = m_components.second = 0;
    } else {
        m_components.hour = m_components.minute = m_components.second = Undefined;
        m_zone = QTimeZone();
    }
}

bool GDataDateTime::operator==(const GDataDateTime &other) const
{
    if (this == &other)
        return true;
    return m_offsetSeconds == other.m_offsetSeconds && m_universal == other.m_universal
        && timeZone() == other.timeZone() && m_components == other.m_components;
}
