#include "dataobjects/TDWMetadataObject.h"

#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"

bool TDWMetadataObject::isSameObject(const TDWManagedObject &other) const
{
    if (objectID().isTemporaryID()) {
        tdwLog(QStringLiteral("ERROR: self objectid temporary in isSameObject"));
        return false;
    }
    if (other.objectID().isTemporaryID()) {
        tdwLog(QStringLiteral("ERROR: argOther objectid temporary in isSameObject"));
        return false;
    }
    return objectID().uriRepresentation().toString() == other.objectID().uriRepresentation().toString();
}

bool TDWMetadataObject::allDeleted(const QList<TDWManagedObjectPtr> &objects)
{
    for (const TDWManagedObjectPtr &object : objects)
        if (!object || !object->isDeleted())
            return false;
    return true;
}

void TDWMetadataObject::awakeFromInsert()
{
    setValue(QStringLiteral("insertDate"), TDWClock::now());
}

void TDWMetadataObject::willSave()
{
    // A deleted row is not written, so stamping it would change nothing.
    if (!isDeleted())
        setValue(QStringLiteral("modifiedDate"), TDWClock::now());
}

void TDWMetadataObject::logMissingStore(const QString &entityName)
{
    tdwLog(QStringLiteral("ERROR: No store given for a new %1").arg(entityName));
}
