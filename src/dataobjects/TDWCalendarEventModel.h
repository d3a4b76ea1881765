#pragma once

#include "platform/store/TDWManagedObjectModel.h"

#include <QString>

#include <memory>

// The model of a calendar's event store (one store file per backed-up
// calendar): the entity "Event". Built once per process.
class TDWCalendarEventModel
{
public:
    static inline const QString VersionIdentifier = QStringLiteral("CalendarEventModel");
    static inline const QString Configuration = QStringLiteral("calendarevents");

    static std::shared_ptr<const TDWManagedObjectModel> model();
};
