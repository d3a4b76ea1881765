#pragma once

#include "platform/store/TDWManagedObjectID.h"

#include <QList>
#include <QMetaType>

// What one successful save changed, posted by the coordinator so other contexts can
// merge it (TDWManagedObjectContext::mergeChangesFromSaveNotification). A plain value
// of identifiers, so it can be queued to any thread.
struct TDWSaveNotification
{
    const void *sender = nullptr; // the saving context, so it can skip its own notifications
    QList<TDWManagedObjectID> inserted;
    QList<TDWManagedObjectID> updated;
    QList<TDWManagedObjectID> deleted;
};

Q_DECLARE_METATYPE(TDWSaveNotification)
