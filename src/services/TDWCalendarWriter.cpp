#include "services/TDWCalendarWriter.h"

#include "common/TDWFileMgr.h"
#include "common/TDWServiceIds.h"
#include "dataobjects/TDWDoc.h"
#include "platform/foundation/TDWLog.h"
#include "services/GDataDateTime.h"
#include "services/TDWCalendarTimeZone.h"

#include <QDir>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>

namespace {

// Added after every reminder's alarm, as calendar files have always carried it.
const QStringList FixedAlarmLines{QStringLiteral("BEGIN:VALARM"),
                                  QStringLiteral("X-WR-ALARMUID:72E9909C-533D-42BA-A6E4-2BC23FED178C"),
                                  QStringLiteral("UID:72E9909C-533D-42BA-A6E4-2BC23FED178C"),
                                  QStringLiteral("TRIGGER;VALUE=DATE-TIME:19760401T005545Z"),
                                  QStringLiteral("X-APPLE-LOCAL-DEFAULT-ALARM:TRUE"),
                                  QStringLiteral("ACTION:NONE"),
                                  QStringLiteral("END:VALARM")};
const QString ReminderDescription = QStringLiteral("DESCRIPTION:This is an event reminder");
// An all-day event's reminders count from 17:00 of the day before, not from midnight.
constexpr qint64 AllDayReminderShiftMinutes = 420;

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

QString participationStatus(const QString &responseStatus)
{
    if (responseStatus == QLatin1String("accepted"))
        return QStringLiteral("ACCEPTED");
    if (responseStatus == QLatin1String("tentative"))
        return QStringLiteral("TENTATIVE");
    if (responseStatus == QLatin1String("declined"))
        return QStringLiteral("DECLINED");
    return QStringLiteral("NEEDS-ACTION");
}

QString eventStatus(const QString &status)
{
    if (status == QLatin1String("tentative"))
        return QStringLiteral("TENTATIVE");
    if (status == QLatin1String("cancelled"))
        return QStringLiteral("CANCELLED");
    return QStringLiteral("CONFIRMED");
}

// Whether a recurrence line from the server is one a reader can take: a rule (RRULE, EXRULE) of
// known parts with values of their form, or a list of dates (RDATE, EXDATE). Anything else would
// make readers refuse the rule or the whole file, so it is left out.
bool isReadableRecurrence(const QString &line)
{
    static const QRegularExpression dates(QStringLiteral("^(RDATE|EXDATE)(;VALUE=(DATE|DATE-TIME))?(;TZID=[^;:\"]+)?:"
                                                         "[0-9]{8}(T[0-9]{6}Z?)?(,[0-9]{8}(T[0-9]{6}Z?)?)*$"));
    if (dates.match(line).hasMatch())
        return true;
    static const QRegularExpression rule(QStringLiteral("^(RRULE|EXRULE):(.+)$"));
    const QRegularExpressionMatch match = rule.match(line);
    if (!match.hasMatch())
        return false;
    const QString number = QStringLiteral("[+-]?[0-9]{1,3}");
    const QString day = QStringLiteral("(SU|MO|TU|WE|TH|FR|SA)");
    const QMap<QString, QRegularExpression> parts{
        {QStringLiteral("FREQ"), QRegularExpression(QStringLiteral("^(SECONDLY|MINUTELY|HOURLY|DAILY|WEEKLY|MONTHLY|YEARLY)$"))},
        {QStringLiteral("UNTIL"), QRegularExpression(QStringLiteral("^[0-9]{8}(T[0-9]{6}Z?)?$"))},
        {QStringLiteral("COUNT"), QRegularExpression(QStringLiteral("^[0-9]{1,9}$"))},
        {QStringLiteral("INTERVAL"), QRegularExpression(QStringLiteral("^[0-9]{1,9}$"))},
        {QStringLiteral("BYDAY"), QRegularExpression(QStringLiteral("^(%1)?%2(,(%1)?%2)*$").arg(number, day))},
        {QStringLiteral("WKST"), QRegularExpression(QStringLiteral("^%1$").arg(day))},
    };
    static const QRegularExpression numbers(QStringLiteral("^[+-]?[0-9]{1,3}(,[+-]?[0-9]{1,3})*$"));
    bool hasFrequency = false;
    for (const QString &part : match.captured(2).split(u';')) {
        const QString name = part.section(u'=', 0, 0);
        const QString value = part.section(u'=', 1);
        const auto form = parts.constFind(name);
        if (form != parts.cend() ? !form->match(value).hasMatch() : !(name.startsWith(QLatin1String("BY")) && numbers.match(value).hasMatch()))
            return false;
        hasFrequency = hasFrequency || name == QLatin1String("FREQ");
    }
    return hasFrequency;
}

} // namespace

TDWCalendarWriter::TDWCalendarWriter(const TDWDocRev::Ptr &docRev, TDWManagedObjectContext *calendarEventMoc)
    : m_docRev(docRev)
    , m_calendarEventMoc(calendarEventMoc)
    , m_defaultReminders(docRev ? docRev->defaultReminders().toList() : QVariantList())
{
}

TDWCalendarWriter::TDWCalendarWriter(const TDWCalendarWriter &parent)
    : m_docRev(parent.m_docRev)
    , m_calendarEventMoc(parent.m_calendarEventMoc)
    , m_defaultReminders(parent.m_defaultReminders)
{
}

bool TDWCalendarWriter::writeCalendarFile()
{
    const QString itemsPath = TDWFileMgr::backedUpItemsPathForService(TDWServiceIds::Calendar);
    if (itemsPath.isEmpty() || !m_docRev || m_docRev->filePath().isEmpty()) {
        fail(QStringLiteral("ERROR: No place to write the calendar file."));
        return false;
    }
    const QString path = QDir(itemsPath).filePath(m_docRev->filePath());
    if (!addEvents())
        return false;
    addICalendarHeader();
    addTimeZones();
    for (const QString &component : std::as_const(m_components))
        appendUnfolded(component);
    addLine(QStringLiteral("END:VCALENDAR"));
    TDWError error;
    if (!replaceBackupFile(path, &error)) {
        fail(QStringLiteral("ERROR: Unable to write to calendar file: %1: %2").arg(path, error.description()));
        return false;
    }
    return true;
}

bool TDWCalendarWriter::addEvents()
{
    if (!m_calendarEventMoc) {
        fail(QStringLiteral("ERROR: No calendar event store to write the calendar from."));
        return false;
    }
    const std::optional<QList<TDWEvent::Ptr>> events = TDWEvent::topLevelEvents(*m_calendarEventMoc);
    if (!events) {
        fail(QStringLiteral("ERROR: Unable to fetch the calendar's events."));
        return false;
    }
    const TDWDoc::Ptr doc = m_docRev->doc();
    const QString username = doc ? doc->accountUsername() : QString();
    for (const TDWEvent::Ptr &event : *events) {
        if (!writeEvent(event, username, QString(), *m_calendarEventMoc))
            return false;
    }
    return true;
}

bool TDWCalendarWriter::writeEvent(const TDWEvent::Ptr &event, const QString &accountUsername, const QString &parentEventICalUUID,
                                   TDWManagedObjectContext &calendarEventMoc)
{
    const std::optional<QList<TDWEvent::Ptr>> instances = TDWEvent::customizedRecurrencesOf(event->eventId(), calendarEventMoc);
    if (!instances) {
        fail(QStringLiteral("ERROR: Unable to fetch the changed instances of %1.").arg(event->description()));
        return false;
    }
    const QVariantMap json = event->eventJson().toMap();
    TDWCalendarWriter component(*this);
    if (!component.renderEvent(json, event->defaultTimeZone(), *instances, accountUsername, parentEventICalUUID)) {
        // Nothing of a component that failed midway reaches the file, and the file fails with it.
        fail(QStringLiteral("ERROR: Unable to write %1: %2").arg(event->description(), component.lastError()));
        return false;
    }
    m_components << component.contents();
    for (auto it = component.m_zoneYears.cbegin(); it != component.m_zoneYears.cend(); ++it) {
        auto &years = m_zoneYears[it.key()];
        years = years.first == 0 ? it.value() : qMakePair(qMin(years.first, it.value().first), qMax(years.second, it.value().second));
    }
    for (const TDWEvent::Ptr &instance : *instances) {
        if (instance->eventJson().toMap().value(key("status")).toString() == QLatin1String("cancelled"))
            continue;
        if (!writeEvent(instance, accountUsername, json.value(key("iCalUID")).toString(), calendarEventMoc))
            return false;
    }
    return true;
}

bool TDWCalendarWriter::renderEvent(const QVariantMap &json, const QString &defaultTimeZone, const QList<TDWEvent::Ptr> &instances,
                                    const QString &accountUsername, const QString &parentEventICalUUID)
{
    addLine(QStringLiteral("BEGIN:VEVENT"));
    if (!addDateLineWithLabel(QStringLiteral("DTSTART"), json.value(key("start")), defaultTimeZone))
        return false;
    if (!json.value(key("endTimeUnspecified")).toBool() && !addDateLineWithLabel(QStringLiteral("DTEND"), json.value(key("end")), defaultTimeZone))
        return false;
    // The server's own rule and date lines, each on a line of its own.
    for (const QVariant &line : json.value(key("recurrence")).toList()) {
        if (isReadableRecurrence(line.toString()))
            addLine(line.toString());
    }
    if (!addMetaDateWithLabel(QStringLiteral("DTSTAMP"), json.value(key("updated")).toString()))
        return false;

    const QVariantMap organizer = json.value(key("organizer")).toMap();
    const QString organizerEmail = organizer.value(key("email")).toString();
    if (!organizerEmail.isEmpty() && organizerEmail != accountUsername && !organizer.value(key("self")).toBool()) {
        const QString name = organizer.value(key("displayName")).toString();
        addLine(QStringLiteral("ORGANIZER;CN=%1:mailto:%2").arg(parameterValue(name.isEmpty() ? organizerEmail : name), escape(organizerEmail)));
    }
    if (json.contains(key("recurringEventId"))
        && !addDateLineWithLabel(QStringLiteral("RECURRENCE-ID"), json.value(key("originalStartTime")), defaultTimeZone))
        return false;
    addLine(QStringLiteral("UID:") + escape(parentEventICalUUID.isEmpty() ? json.value(key("iCalUID")).toString() : parentEventICalUUID));

    for (const QVariant &value : json.value(key("attendees")).toList()) {
        const QVariantMap attendee = value.toMap();
        const QString email = attendee.value(key("email")).toString();
        const QString name = attendee.value(key("displayName")).toString();
        addLine(QStringLiteral("ATTENDEE;CUTYPE=INDIVIDUAL;ROLE=%1;PARTSTAT=%2;CN=%3;X-NUM-GUESTS=0:mailto:%4")
                    .arg(attendee.value(key("optional")).toBool() ? QStringLiteral("OPT-PARTICIPANT") : QStringLiteral("REQ-PARTICIPANT"),
                         participationStatus(attendee.value(key("responseStatus")).toString()), parameterValue(name.isEmpty() ? email : name),
                         escape(email)));
    }
    if (json.contains(key("created")) && !addMetaDateWithLabel(QStringLiteral("CREATED"), json.value(key("created")).toString()))
        return false;
    addLine(QStringLiteral("DESCRIPTION:") + escape(json.value(key("description")).toString()));
    if (!addMetaDateWithLabel(QStringLiteral("LAST-MODIFIED"), json.value(key("updated")).toString()))
        return false;
    addLine(QStringLiteral("LOCATION:") + escape(json.value(key("location")).toString()));
    addLine(json.contains(key("sequence")) ? QStringLiteral("SEQUENCE:%1").arg(json.value(key("sequence")).toLongLong()) : QStringLiteral("SEQUENCE:1"));
    addLine(QStringLiteral("STATUS:") + eventStatus(json.value(key("status")).toString()));
    addLine(json.contains(key("summary")) ? QStringLiteral("SUMMARY:") + escape(json.value(key("summary")).toString()) : QStringLiteral("SUMMARY:Busy"));

    for (const TDWEvent::Ptr &instance : instances) {
        const QVariantMap instanceJson = instance->eventJson().toMap();
        if (instanceJson.value(key("status")).toString() == QLatin1String("cancelled")
            && !addDateLineWithLabel(QStringLiteral("EXDATE"), instanceJson.value(key("originalStartTime")), instance->defaultTimeZone()))
            return false;
    }
    const QVariantMap reminders = json.value(key("reminders")).toMap();
    const QVariantMap start = json.value(key("start")).toMap();
    if (!m_defaultReminders.isEmpty() && reminders.value(key("useDefault")).toBool())
        addRemindersFrom(m_defaultReminders, start, accountUsername);
    addRemindersFrom(reminders.value(key("overrides")).toList(), start, accountUsername);

    addLine(json.value(key("transparency")).toString() == QLatin1String("transparent") ? QStringLiteral("TRANSP:TRANSPARENT")
                                                                                      : QStringLiteral("TRANSP:OPAQUE"));
    const QString visibility = json.value(key("visibility")).toString();
    if (visibility == QLatin1String("public") || visibility == QLatin1String("private") || visibility == QLatin1String("confidential"))
        addLine(QStringLiteral("CLASS:") + visibility.toUpper());
    if (json.contains(key("hangoutLink")))
        addLine(QStringLiteral("URL;VALUE=URI:") + withoutLineBreaks(json.value(key("hangoutLink")).toString()));
    addLine(QStringLiteral("END:VEVENT"));
    return true;
}

bool TDWCalendarWriter::addRemindersFrom(const QVariantList &reminders, const QVariantMap &start, const QString &accountUsername)
{
    for (const QVariant &value : reminders) {
        const QVariantMap reminder = value.toMap();
        qint64 minutes = reminder.value(key("minutes")).toLongLong();
        addLine(QStringLiteral("BEGIN:VALARM"));
        if (reminder.value(key("method")).toString() == QLatin1String("email")) {
            addLine(QStringLiteral("ACTION:EMAIL"));
            addLine(ReminderDescription);
            addLine(QStringLiteral("SUMMARY:Alarm notification"));
            addLine(QStringLiteral("ATTENDEE:mailto:") + escape(accountUsername));
        } else {
            addLine(QStringLiteral("ACTION:DISPLAY"));
            // A display alarm needs its text (RFC 5545): readers refuse one without.
            addLine(ReminderDescription);
        }
        if (start.contains(key("date")))
            minutes += AllDayReminderShiftMinutes;
        qint64 hours = 0;
        if (minutes >= 60) {
            hours = minutes / 60;
            minutes %= 60;
        }
        QString days;
        if (hours > 24) {
            days = QStringLiteral("%1D").arg(hours / 24);
            hours %= 24;
        }
        addLine(QStringLiteral("TRIGGER:-P%1T%2H%3M").arg(days).arg(hours).arg(minutes));
        addLine(QStringLiteral("END:VALARM"));
        for (const QString &line : FixedAlarmLines)
            addLine(line);
    }
    return true;
}

bool TDWCalendarWriter::addDateLineWithLabel(const QString &label, const QVariant &dateObj, const QString &defaultTimeZone)
{
    const QVariantMap date = dateObj.toMap();
    if (date.contains(key("dateTime"))) {
        const QString zoneName = date.value(key("timeZone"), defaultTimeZone).toString();
        const QTimeZone zone(zoneName.toUtf8());
        if (zoneName.isEmpty() || !zone.isValid()) {
            tdwLog(QStringLiteral("Unknown time zone: %1").arg(zoneName));
            fail(QStringLiteral("Unknown time zone: %1").arg(zoneName));
            return false;
        }
        const QDateTime instant = GDataDateTime(date.value(key("dateTime")).toString()).date();
        if (!instant.isValid()) {
            fail(QStringLiteral("ERROR: Unable to read the date-time %1").arg(withoutLineBreaks(date.value(key("dateTime")).toString())));
            return false;
        }
        if (TDWCalendarTimeZone::isUtc(zone)) {
            addLine(QStringLiteral("%1:%2").arg(label, instant.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"))));
            return true;
        }
        QString local = GDataDateTime(instant, zone).RFC3339String();
        if (local.size() > 18)
            local.truncate(19);
        local.remove(QLatin1Char('-')).remove(QLatin1Char(':'));
        // The zone's own name: readers look it up in the VTIMEZONE of that TZID. Quoted where it
        // holds a ":" ("UTC+01:00"), which would otherwise end the parameters.
        const QString zoneId = QString::fromUtf8(zone.id());
        addLine(QStringLiteral("%1;TZID=%2:%3").arg(label, parameterValue(zoneId), local));
        const int year = instant.toTimeZone(zone).date().year();
        auto &years = m_zoneYears[zoneId];
        years = years.first == 0 ? qMakePair(year, year) : qMakePair(qMin(years.first, year), qMax(years.second, year));
        return true;
    }
    if (date.contains(key("date"))) {
        addLine(QStringLiteral("%1;VALUE=DATE:%2").arg(label, withoutLineBreaks(date.value(key("date")).toString().remove(QLatin1Char('-')))));
        return true;
    }
    fail(QStringLiteral("ERROR: No date for %1").arg(label));
    return false;
}

bool TDWCalendarWriter::addMetaDateWithLabel(const QString &label, const QString &dateStr)
{
    QString text = withoutLineBreaks(dateStr);
    text.remove(QLatin1Char(':')).remove(QLatin1Char('-'));
    const qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) {
        tdwLog(QStringLiteral("ERROR: Unable to find last dot in %1").arg(text));
        fail(QStringLiteral("ERROR: Unable to find last dot in %1").arg(text));
        return false;
    }
    qsizetype zoneStart = dot + 1;
    while (zoneStart < text.size() && !text.at(zoneStart).isLetter())
        ++zoneStart;
    if (zoneStart >= text.size()) {
        tdwLog(QStringLiteral("ERROR: Unable to find tzStart in %1").arg(text));
        fail(QStringLiteral("ERROR: Unable to find tzStart in %1").arg(text));
        return false;
    }
    addLine(QStringLiteral("%1:%2%3").arg(label, text.left(dot), text.mid(zoneStart)));
    return true;
}

void TDWCalendarWriter::addTimeZones()
{
    // Ten years past the last local time written, so that a repeating event keeps its zone's changes;
    // a date from remote data far outside the zone rules' own span adds nothing but length.
    constexpr int YearsAhead = 10;
    constexpr int EarliestYear = 1900;
    constexpr int LatestYear = 2200;
    for (auto it = m_zoneYears.cbegin(); it != m_zoneYears.cend(); ++it) {
        const int first = std::clamp(it.value().first, EarliestYear, LatestYear);
        const int last = std::clamp(it.value().second + YearsAhead, first, LatestYear);
        for (const QString &line : TDWCalendarTimeZone::componentLines(QTimeZone(it.key().toUtf8()), first, last))
            addLine(line);
    }
}

void TDWCalendarWriter::fail(const QString &message)
{
    if (m_lastError.isEmpty())
        m_lastError = message;
}
