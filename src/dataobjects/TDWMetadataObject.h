#pragma once

#include "dataobjects/KSExtensibleManagedObject.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QDateTime>
#include <QList>

// The base of every metadata entity class but the calendar event: stamps
// "insertDate" when the object is inserted and "modifiedDate" whenever it is
// saved. (The store's own object class already carries the name this base has
// in the design documents, TDWManagedObject, hence this one.)
class TDWMetadataObject : public KSExtensibleManagedObject
{
public:
    QDateTime insertDate() const { return dateValue(QStringLiteral("insertDate")); }
    QDateTime modifiedDate() const { return dateValue(QStringLiteral("modifiedDate")); }

    // Whether both are the same stored object (their identifier URIs are equal).
    // Both must have been saved: an unsaved object names no stored object, which
    // is logged as a broken precondition and answered NO.
    bool isSameObject(const TDWManagedObject &other) const;

    // Whether every object is marked deleted in its context; YES for none.
    static bool allDeleted(const QList<TDWManagedObjectPtr> &objects);
    template<class T>
    static bool allDeleted(const QList<std::shared_ptr<T>> &objects)
    {
        return allDeleted(QList<TDWManagedObjectPtr>(objects.begin(), objects.end()));
    }

protected:
    // A new object of the entity assigned to the store at once. Null (logged)
    // without a store that holds the entity: the object would otherwise land in whichever store holds
    // its entity first, i.e. under another account.
    template<class T>
    static std::shared_ptr<T> insertIntoStore(TDWManagedObjectContext &moc, const QString &entityName, const TDWPersistentStorePtr &store)
    {
        if (!store) {
            logMissingStore(entityName);
            return nullptr;
        }
        std::shared_ptr<T> object = moc.insertNew<T>(entityName, store);
        if (object && !object->persistentStore()) {
            // The store does not hold the entity (logged by the context).
            moc.deleteObject(object);
            return nullptr;
        }
        return object;
    }

    void awakeFromInsert() override;
    void willSave() override;

private:
    static void logMissingStore(const QString &entityName);
};
