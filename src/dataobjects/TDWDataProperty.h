#pragma once

#include "dataobjects/TDWMetadataObject.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QString>

#include <memory>

// A named string value kept in one account-and-service store, for bookkeeping
// that belongs to that store and goes with it (e.g. the last Drive change id).
// None of the operations saves: the caller does.
class TDWDataProperty : public TDWMetadataObject
{
public:
    using Ptr = std::shared_ptr<TDWDataProperty>;

    QString tdwPropertyName() const { return stringValue(QStringLiteral("tdwPropertyName")); }
    void setTdwPropertyName(const QString &name) { setValue(QStringLiteral("tdwPropertyName"), name); }
    QString tdwPropertyValue() const { return stringValue(QStringLiteral("tdwPropertyValue")); }
    void setTdwPropertyValue(const QString &value) { setValue(QStringLiteral("tdwPropertyValue"), value); }

    // A new property with placeholder name and value, in the store.
    static Ptr newWithMoc(TDWManagedObjectContext &moc, const TDWPersistentStorePtr &store);
    // Null when there is none, several (logged) or the fetch fails (logged).
    static QString propertyValueForName(const QString &name, const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc);
    // Leaves exactly one property of that name in the store (duplicates are
    // logged and replaced). A failed fetch is logged and changes nothing.
    static void setPropertyValue(const QString &value, const QString &name, const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc);
    // Deletes every property of that name in the store.
    static void removePropertyForName(const QString &name, const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc);
};
