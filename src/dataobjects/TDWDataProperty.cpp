#include "dataobjects/TDWDataProperty.h"

#include "dataobjects/TDWEntityFetch.h"
#include "platform/foundation/TDWLog.h"

namespace {

const QString EntityName = QStringLiteral("DataProperty");

std::optional<QList<TDWDataProperty::Ptr>> byName(const QString &name, const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc,
                                                  TDWError *error)
{
    return TDWEntityFetch(moc, EntityName).where(QStringLiteral("tdwPropertyName = %@"), {name}).in(store).objects<TDWDataProperty>(error);
}

} // namespace

TDWDataProperty::Ptr TDWDataProperty::newWithMoc(TDWManagedObjectContext &moc, const TDWPersistentStorePtr &store)
{
    Ptr property = insertIntoStore<TDWDataProperty>(moc, EntityName, store);
    if (property) {
        property->setTdwPropertyName(QStringLiteral("x"));
        property->setTdwPropertyValue(QStringLiteral("x"));
    }
    return property;
}

QString TDWDataProperty::propertyValueForName(const QString &name, const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc)
{
    TDWError error;
    const auto found = byName(name, store, moc, &error);
    if (!found) {
        tdwLog(QStringLiteral("ERROR: Unable to find property value for %1: %2").arg(name, error.description()));
        return {};
    }
    if (found->size() > 1) {
        tdwLog(QStringLiteral("ERROR: Multiple property values for property %1").arg(name));
        return {};
    }
    return found->isEmpty() ? QString() : found->first()->tdwPropertyValue();
}

void TDWDataProperty::setPropertyValue(const QString &value, const QString &name, const TDWPersistentStorePtr &store,
                                       TDWManagedObjectContext &moc)
{
    TDWError error;
    const auto found = byName(name, store, moc, &error);
    if (!found) {
        tdwLog(QStringLiteral("ERROR: Unable to find property value for %1: %2").arg(name, error.description()));
        return;
    }
    if (found->size() == 1) {
        found->first()->setTdwPropertyValue(value);
        return;
    }
    if (found->size() > 1) {
        tdwLog(QStringLiteral("ERROR: Multiple property values with name %1").arg(name));
        for (const Ptr &duplicate : *found)
            moc.deleteObject(duplicate);
    }
    Ptr property = newWithMoc(moc, store);
    if (!property)
        return;
    property->setTdwPropertyName(name);
    property->setTdwPropertyValue(value);
}

void TDWDataProperty::removePropertyForName(const QString &name, const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc)
{
    TDWError error;
    const auto found = byName(name, store, moc, &error);
    if (!found) {
        // Nothing is removed; say so, since the caller cannot tell.
        tdwLog(QStringLiteral("ERROR: Unable to remove property %1: %2").arg(name, error.description()));
        return;
    }
    for (const Ptr &property : *found)
        moc.deleteObject(property);
}
