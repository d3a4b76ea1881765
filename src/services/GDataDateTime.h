#pragma once

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <limits>

// An RFC 3339 date-time that keeps what its text says: the calendar fields as
// written (with or without a time of day) and the kind of zone designator
// ("Z", a numeric offset, or "-00:00" for an unknown local offset).
// A time zone is absent when its QTimeZone is invalid.
class GDataDateTime
{
public:
    // Marks an undefined calendar field and an unspecified offset.
    static constexpr qint64 Undefined = std::numeric_limits<qint64>::max();

    struct DateComponents
    {
        qint64 era = Undefined;
        qint64 year = Undefined;
        qint64 month = Undefined;
        qint64 day = Undefined;
        qint64 hour = Undefined;
        qint64 minute = Undefined;
        qint64 second = Undefined;
        qint64 weekday = Undefined;
        qint64 weekdayOrdinal = Undefined;

        bool operator==(const DateComponents &) const = default;
    };

    GDataDateTime() = default;
    explicit GDataDateTime(const QString &rfc3339);
    GDataDateTime(const QDateTime &instant, const QTimeZone &zone);
    static GDataDateTime dateTimeWithRFC3339String(const QString &rfc3339) { return GDataDateTime(rfc3339); }
    static GDataDateTime dateTimeWithDate(const QDateTime &instant, const QTimeZone &zone) { return GDataDateTime(instant, zone); }

    // A copy takes the zone that the source reports, so a derived zone becomes explicit.
    GDataDateTime(const GDataDateTime &other);
    GDataDateTime &operator=(const GDataDateTime &other);

    void setFromRFC3339String(const QString &rfc3339);
    void setFromDate(const QDateTime &instant, const QTimeZone &zone);

    QString RFC3339String() const;
    QString stringValue() const { return RFC3339String(); }

    // The instant the fields denote in timeZone(), or in the system zone when
    // there is none; null when the fields cannot name an instant (no year, or
    // values far outside any calendar).
    QDateTime date() const;

    // The explicit zone; else "Universal" for universal values; else a fixed
    // zone of the offset (when the offset is defined and within 14 hours); else invalid.
    QTimeZone timeZone() const;
    // Sets the explicit zone and the offset at which that zone reads the fields
    // (for a time that a daylight-saving gap skips, the offset before the gap).
    void setTimeZone(const QTimeZone &zone);
    void setTimeZone(const QTimeZone &zone, qint64 offsetSeconds);

    bool hasTime() const;
    void setHasTime(bool hasTime);

    qint64 offsetSeconds() const { return m_offsetSeconds; }
    void setOffsetSeconds(qint64 offsetSeconds) { m_offsetSeconds = offsetSeconds; }
    bool isUniversalTime() const { return m_universal; }
    void setIsUniversalTime(bool universal) { m_universal = universal; }
    const DateComponents &dateComponents() const { return m_components; }
    void setDateComponents(const DateComponents &components) { m_components = components; }

    bool operator==(const GDataDateTime &other) const;

private:
    DateComponents m_components;
    qint64 m_offsetSeconds = Undefined;
    bool m_universal = false;
    QTimeZone m_zone;
};
