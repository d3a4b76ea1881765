#include "dataobjects/TDWEvent.h"

#include "dataobjects/TDWEntityFetch.h"
#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWJsonArchive.h"

namespace {

const QString EntityName = QStringLiteral("Event");

std::optional<QList<TDWEvent::Ptr>> events(TDWEntityFetch &fetch)
{
    TDWError error;
    auto found = fetch.objects<TDWEvent>(&error);
    if (!found)
        tdwLog(QStringLiteral("ERROR: Unable to execute fetch request for event: %1").arg(error.description()));
    return found;
}

} // namespace

QVariant TDWEvent::eventJson() const
{
    const QByteArray data = eventJsonData();
    if (data.isNull())
        return {};
    TDWError error;
    const QVariant json = TDWJsonArchive::unarchive(data, &error);
    if (!error.isNull())
        tdwLog(QStringLiteral("ERROR: Unable to read the stored JSON of %1: %2").arg(description(), error.description()));
    return json;
}

void TDWEvent::setEventJson(const QVariant &json)
{
    setValue(QStringLiteral("eventJsonData"), json.isNull() ? QVariant() : QVariant(TDWJsonArchive::archive(json)));
}

QString TDWEvent::description() const
{
    return QStringLiteral("event with id %1").arg(eventId());
}

TDWEvent::Ptr TDWEvent::byEventId(const QString &eventId, TDWManagedObjectContext &moc)
{
    const auto found = events(TDWEntityFetch(moc, EntityName).where(QStringLiteral("eventId = %@"), {eventId}).limit(1));
    return found && !found->isEmpty() ? found->first() : nullptr;
}

std::optional<QList<TDWEvent::Ptr>> TDWEvent::topLevelEvents(TDWManagedObjectContext &moc)
{
    return events(TDWEntityFetch(moc, EntityName).where(QStringLiteral("recurringEventId = nil")));
}

std::optional<QList<TDWEvent::Ptr>> TDWEvent::customizedRecurrencesOf(const QString &eventId, TDWManagedObjectContext &moc)
{
    return events(TDWEntityFetch(moc, EntityName).where(QStringLiteral("recurringEventId = %@"), {eventId}));
}
