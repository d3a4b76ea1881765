#pragma once

#include "platform/store/TDWManagedObject.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

// One event of a calendar's event store, kept up to date by the calendar
// backup and written out as iCalendar from here. A plain stored object: no
// stamps, no extensible values; its store is reached through a context on it.
class TDWEvent : public TDWManagedObject
{
public:
    using Ptr = std::shared_ptr<TDWEvent>;

    QString eventId() const { return stringValue(QStringLiteral("eventId")); }
    void setEventId(const QString &id) { setValue(QStringLiteral("eventId"), id); }
    QString etag() const { return stringValue(QStringLiteral("etag")); }
    void setEtag(const QString &etag) { setValue(QStringLiteral("etag"), etag); }
    QDateTime createdDate() const { return dateValue(QStringLiteral("createdDate")); }
    void setCreatedDate(const QDateTime &date) { setValue(QStringLiteral("createdDate"), date); }
    QDateTime updatedDate() const { return dateValue(QStringLiteral("updatedDate")); }
    void setUpdatedDate(const QDateTime &date) { setValue(QStringLiteral("updatedDate"), date); }
    QString title() const { return stringValue(QStringLiteral("title")); }
    void setTitle(const QString &title) { setValue(QStringLiteral("title"), title); }
    // The zone for dates that name none.
    QString defaultTimeZone() const { return stringValue(QStringLiteral("defaultTimeZone")); }
    void setDefaultTimeZone(const QString &zone) { setValue(QStringLiteral("defaultTimeZone"), zone); }
    // Null for a top-level event; for a changed instance of a series, the series' eventId.
    QString recurringEventId() const { return stringValue(QStringLiteral("recurringEventId")); }
    void setRecurringEventId(const QString &id) { setValue(QStringLiteral("recurringEventId"), id); }
    QByteArray eventJsonData() const { return dataValue(QStringLiteral("eventJsonData")); }
    QByteArray otherAttributeData() const { return dataValue(QStringLiteral("otherAttributeData")); }

    // The event's parsed JSON object, archived into eventJsonData; null when none.
    QVariant eventJson() const;
    void setEventJson(const QVariant &json);

    // "event with id <eventId>"
    QString description() const;

    // The first event with that id, or null.
    static Ptr byEventId(const QString &eventId, TDWManagedObjectContext &moc);
    // Single events and series masters.
    static std::optional<QList<Ptr>> topLevelEvents(TDWManagedObjectContext &moc);
    // The changed instances of a series.
    static std::optional<QList<Ptr>> customizedRecurrencesOf(const QString &eventId, TDWManagedObjectContext &moc);
};
