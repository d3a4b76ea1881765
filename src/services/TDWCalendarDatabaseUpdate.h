#pragma once

#include "platform/foundation/TDWClassRegistry.h"
#include "platform/foundation/TDWOperation.h"
#include "platform/store/TDWManagedObjectID.h"

#include <QDateTime>
#include <QString>

// What the list retrieval needs of the operation that brings one calendar's
// event store up to date after a full calendar listing: made by name from the
// calendar's current revision, the user name and the iteration's start time,
// run on a queue, and asked afterwards whether it succeeded.
class TDWCalendarDatabaseUpdate : public TDWOperation
{
    Q_OBJECT

public:
    static inline const QString ClassName = QStringLiteral("TDWCalendarDatabaseUpdateOperation");

    virtual bool successful() const = 0;
};

using TDWCalendarUpdateClasses = TDWClassRegistry<TDWCalendarDatabaseUpdate, const TDWManagedObjectID &, const QString &, const QDateTime &>;
