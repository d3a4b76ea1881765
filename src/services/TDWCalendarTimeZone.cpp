#include "services/TDWCalendarTimeZone.h"

#include <QDateTime>
#include <QRegularExpression>

namespace {

QString offsetText(int seconds)
{
    const int magnitude = seconds < 0 ? -seconds : seconds;
    QString text = QString::asprintf("%c%02d%02d", seconds < 0 ? '-' : '+', magnitude / 3600, magnitude / 60 % 60);
    if (magnitude % 60)
        text += QString::asprintf("%02d", magnitude % 60);
    return text;
}

// The local wall time at which the change happens, read in the offset before it, in basic form.
QString localStart(const QDateTime &atUtc, int offsetBefore)
{
    return atUtc.toUTC().addSecs(offsetBefore).toString(QStringLiteral("yyyyMMdd'T'HHmmss"));
}

QStringList subComponent(bool daylight, const QString &start, int offsetFrom, int offsetTo, const QString &abbreviation)
{
    const QString kind = daylight ? QStringLiteral("DAYLIGHT") : QStringLiteral("STANDARD");
    QStringList lines{QStringLiteral("BEGIN:") + kind, QStringLiteral("DTSTART:") + start,
                      QStringLiteral("TZOFFSETFROM:") + offsetText(offsetFrom), QStringLiteral("TZOFFSETTO:") + offsetText(offsetTo)};
    // Abbreviations are letters, digits and signs; anything else is left out rather than escaped.
    if (!abbreviation.isEmpty() && !abbreviation.contains(QRegularExpression(QStringLiteral("[^A-Za-z0-9+-]"))))
        lines << QStringLiteral("TZNAME:") + abbreviation;
    lines << QStringLiteral("END:") + kind;
    return lines;
}

} // namespace

QStringList TDWCalendarTimeZone::componentLines(const QTimeZone &zone, int firstYear, int lastYear)
{
    QStringList lines{QStringLiteral("BEGIN:VTIMEZONE"), QStringLiteral("TZID:") + QString::fromUtf8(zone.id())};
    // A day of margin on either side covers every offset a local time in the span can have.
    const QDateTime from = QDateTime(QDate(firstYear, 1, 1), QTime(0, 0), Qt::UTC).addDays(-1);
    const QDateTime to = QDateTime(QDate(lastYear, 12, 31), QTime(0, 0), Qt::UTC).addDays(2);

    // The change in force at the start of the span, then every change within it.
    QTimeZone::OffsetDataList changes;
    const QTimeZone::OffsetData before = zone.previousTransition(from);
    if (before.atUtc.isValid())
        changes << before;
    changes += zone.transitions(from, to);

    if (changes.isEmpty()) {
        const QTimeZone::OffsetData fixed = zone.offsetData(from);
        lines += subComponent(false, QStringLiteral("19700101T000000"), fixed.offsetFromUtc, fixed.offsetFromUtc, fixed.abbreviation);
    } else {
        int offsetBefore = zone.offsetFromUtc(changes.first().atUtc.addSecs(-1));
        for (const QTimeZone::OffsetData &change : changes) {
            lines += subComponent(change.daylightTimeOffset != 0, localStart(change.atUtc, offsetBefore), offsetBefore, change.offsetFromUtc,
                                  change.abbreviation);
            offsetBefore = change.offsetFromUtc;
        }
    }
    lines << QStringLiteral("END:VTIMEZONE");
    return lines;
}
