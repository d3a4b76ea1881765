#pragma once

#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWEvent.h"
#include "platform/foundation/TDWError.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "services/TDWCardCalWriter.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

// Writes one calendar revision as an iCalendar file at the revision's path in
// the backup folder, from the events of the calendar's event store: one VEVENT
// per single event or series, each changed instance of a series as a VEVENT of
// its own after the series (its cancelled instances as EXDATE lines), alarms
// from the event's reminders and, where the event uses them, from the
// calendar's default reminders kept on the revision.
//
// Date-times are written as local times with a TZID; the file carries a
// VTIMEZONE for every zone it names and a PRODID, so that any reader can take
// it. Each event is rendered into a buffer of its own and the file is made
// only when every event was rendered whole; it then replaces the old file
// through a temporary file, so a failure leaves the old file as it was.
class TDWCalendarWriter : public TDWCardCalWriter
{
public:
    // Takes the revision's default reminders; the context is one on the
    // calendar's event store, used on this thread only.
    TDWCalendarWriter(const TDWDocRev::Ptr &docRev, TDWManagedObjectContext *calendarEventMoc);

    // True when the file was written; the reason of a failure is in lastError().
    bool writeCalendarFile();
    const QString &lastError() const { return m_lastError; }

    // Renders every top-level event with its changed instances; true when all were rendered.
    bool addEvents();
    // Renders the event's component and then those of its changed instances,
    // which carry the parent's UID when one is given.
    bool writeEvent(const TDWEvent::Ptr &event, const QString &accountUsername, const QString &parentEventICalUUID,
                    TDWManagedObjectContext &calendarEventMoc);
    bool addRemindersFrom(const QVariantList &reminders, const QVariantMap &start, const QString &accountUsername);
    bool addDateLineWithLabel(const QString &label, const QVariant &dateObj, const QString &defaultTimeZone);
    bool addMetaDateWithLabel(const QString &label, const QString &dateStr);

private:
    // A writer that renders one component for `parent`.
    explicit TDWCalendarWriter(const TDWCalendarWriter &parent);
    bool renderEvent(const QVariantMap &json, const QString &defaultTimeZone, const QList<TDWEvent::Ptr> &instances,
                     const QString &accountUsername, const QString &parentEventICalUUID);
    void addTimeZones();
    void fail(const QString &message);

    TDWDocRev::Ptr m_docRev;
    TDWManagedObjectContext *m_calendarEventMoc = nullptr;
    QVariantList m_defaultReminders;
    // The rendered VEVENT components, in file order.
    QStringList m_components;
    // Each zone named by a TZID, with the first and last year of its local times.
    QMap<QString, QPair<int, int>> m_zoneYears;
    QString m_lastError;
};
