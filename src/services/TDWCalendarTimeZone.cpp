#include "services/TDWCalendarTimeZone.h"

#include <QDateTime>
#include <QRegularExpression>

#include <algorithm>

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

// Qt lists a zone's changes only as far as its zone file goes (to 2037 in most, not as far in slim
// ones); the changes after follow the zone's rule, which Qt applies to offsets alone. Those are
// found from the offsets, a week at a time (no rule keeps an offset for less) and then to the
// second, from the year before the span (for the change in force at its start) or the last listed
// change, whichever is later.
void addChangesByRule(const QTimeZone &zone, const QDateTime &from, const QDateTime &to, QTimeZone::OffsetDataList *changes)
{
    const QDateTime lastListed = changes->isEmpty() ? from : changes->last().atUtc;
    if (changes->isEmpty() || zone.nextTransition(lastListed).atUtc.isValid())
        return;
    QDateTime instant = std::max(lastListed, from.addYears(-1));
    int offset = zone.offsetFromUtc(instant);
    while (instant < to) {
        const QDateTime next = instant.addDays(7);
        if (zone.offsetFromUtc(next) != offset) {
            QDateTime before = instant;
            QDateTime after = next;
            while (before.secsTo(after) > 1) {
                const QDateTime middle = before.addSecs(before.secsTo(after) / 2);
                (zone.offsetFromUtc(middle) == offset ? before : after) = middle;
            }
            QTimeZone::OffsetData change;
            change.atUtc = after;
            change.offsetFromUtc = zone.offsetFromUtc(after);
            change.standardTimeOffset = zone.standardTimeOffset(after);
            change.daylightTimeOffset = zone.daylightTimeOffset(after);
            change.abbreviation = zone.abbreviation(after);
            *changes << change;
            offset = change.offsetFromUtc;
        }
        instant = next;
    }
    // Only the last change before the span is in force in it.
    while (changes->size() > 1 && changes->at(1).atUtc <= from)
        changes->removeFirst();
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
    addChangesByRule(zone, from, to, &changes);

    if (changes.isEmpty()) {
        // Qt's own fixed zones ("UTC", "UTC+05:30") give no offset data, only their offset and name.
        const int offset = zone.offsetFromUtc(from);
        lines += subComponent(false, QStringLiteral("19700101T000000"), offset, offset, zone.abbreviation(from));
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

bool TDWCalendarTimeZone::isUtc(const QTimeZone &zone)
{
    return !zone.hasTransitions() && zone.offsetFromUtc(QDateTime::currentDateTimeUtc()) == 0;
}
