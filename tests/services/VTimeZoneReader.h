#pragma once

// Reads back a VTIMEZONE as the program writes it (explicit changes, no
// rules) the way a calendar reader would, for the time zone tests and the
// time zone fuzzer: every line a reader would refuse is a problem, and the
// component resolves instants to offsets to compare with Qt's.

#include <QDateTime>
#include <QList>
#include <QRegularExpression>
#include <QStringList>
#include <QTimeZone>

#include <optional>

namespace tztest {

// One STANDARD or DAYLIGHT sub-component.
struct ZoneChange
{
    QDateTime onsetUtc;
    int offsetFrom = 0;
    int offsetTo = 0;
};

// An RFC 5545 UTC offset ("+HHMM" or "+HHMMSS", never "-0000") in seconds; nothing when malformed.
inline std::optional<int> offsetSeconds(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^([+-])([0-9]{2})([0-5][0-9])([0-5][0-9])?$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch() || match.captured(2).toInt() > 23)
        return std::nullopt;
    const int magnitude = match.captured(2).toInt() * 3600 + match.captured(3).toInt() * 60 + match.captured(4).toInt();
    if (match.captured(1) == QLatin1String("-") && magnitude == 0)
        return std::nullopt;
    return match.captured(1) == QLatin1String("-") ? -magnitude : magnitude;
}

// The component's changes in file order, each later than the one before and starting from the
// offset it ended; nothing, with the first problem in `problem`, when a reader would refuse it.
inline std::optional<QList<ZoneChange>> readComponent(const QStringList &lines, const QByteArray &id, QString *problem)
{
    const auto refuse = [problem](const QString &what) {
        *problem = what;
        return std::nullopt;
    };
    if (lines.size() < 8 || lines.first() != QLatin1String("BEGIN:VTIMEZONE") || lines.last() != QLatin1String("END:VTIMEZONE"))
        return refuse(QStringLiteral("not one VTIMEZONE: ") + lines.join(u'|').left(200));
    if (lines[1] != QStringLiteral("TZID:") + QString::fromUtf8(id))
        return refuse(QStringLiteral("TZID line ") + lines[1]);
    static const QRegularExpression name(QStringLiteral("^TZNAME:[A-Za-z0-9+-]+$"));
    QList<ZoneChange> changes;
    for (qsizetype i = 2; i + 1 < lines.size();) {
        if (lines[i] != QLatin1String("BEGIN:STANDARD") && lines[i] != QLatin1String("BEGIN:DAYLIGHT"))
            return refuse(QStringLiteral("sub-component ") + lines[i]);
        const QString kind = lines[i].mid(6);
        // Read as a UTC wall time: the start is a local time in the offset before the change.
        const QString start = lines.value(i + 1).mid(8);
        const QDateTime startWall(QDate::fromString(start.left(8), QStringLiteral("yyyyMMdd")),
                                  QTime::fromString(start.mid(8), QStringLiteral("'T'HHmmss")), QTimeZone::utc());
        if (!lines.value(i + 1).startsWith(QLatin1String("DTSTART:")) || start.size() != 15 || !startWall.isValid())
            return refuse(QStringLiteral("start ") + lines.value(i + 1));
        const std::optional<int> from = lines.value(i + 2).startsWith(QLatin1String("TZOFFSETFROM:"))
            ? offsetSeconds(lines.value(i + 2).mid(13)) : std::nullopt;
        const std::optional<int> to = lines.value(i + 3).startsWith(QLatin1String("TZOFFSETTO:"))
            ? offsetSeconds(lines.value(i + 3).mid(11)) : std::nullopt;
        if (!from || !to)
            return refuse(QStringLiteral("offsets ") + lines.value(i + 2) + u' ' + lines.value(i + 3));
        i += 4;
        if (lines.value(i).startsWith(QLatin1String("TZNAME:")) && !name.match(lines[i]).hasMatch())
            return refuse(QStringLiteral("name ") + lines[i]);
        if (lines.value(i).startsWith(QLatin1String("TZNAME:")))
            ++i;
        if (lines.value(i) != QStringLiteral("END:") + kind)
            return refuse(QStringLiteral("unclosed ") + kind);
        ++i;
        const ZoneChange change{startWall.addSecs(-*from), *from, *to};
        if (!changes.isEmpty() && (change.offsetFrom != changes.last().offsetTo || change.onsetUtc <= changes.last().onsetUtc))
            return refuse(QStringLiteral("change %1 does not follow the one before").arg(changes.size()));
        changes << change;
    }
    return changes;
}

// The offset the component gives an instant: the one set by the last change before it.
inline int resolvedOffset(const QList<ZoneChange> &changes, const QDateTime &instant)
{
    int offset = changes.first().offsetFrom;
    for (const ZoneChange &change : changes) {
        if (change.onsetUtc > instant)
            break;
        offset = change.offsetTo;
    }
    return offset;
}

// Where the component and Qt disagree on an instant, described; empty when they agree on all.
inline QString disagreement(const QTimeZone &zone, const QList<ZoneChange> &changes, const QList<QDateTime> &instants)
{
    for (const QDateTime &instant : instants) {
        const int offset = resolvedOffset(changes, instant);
        if (offset != zone.offsetFromUtc(instant))
            return QStringLiteral("at %1 the component gives %2, Qt %3").arg(instant.toString(Qt::ISODate)).arg(offset).arg(zone.offsetFromUtc(instant));
    }
    return {};
}

} // namespace tztest
