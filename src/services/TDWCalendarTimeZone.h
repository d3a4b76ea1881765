#pragma once

#include <QStringList>
#include <QTimeZone>

// The VTIMEZONE component of a named zone, so that readers of a calendar file
// can resolve its TZID parameters without knowing the zone themselves. It
// lists the zone's offset changes over a span of years, each as a STANDARD or
// DAYLIGHT sub-component with its local start, the offsets before and after
// and its abbreviation; a zone without changes in the span gets one STANDARD
// component with its fixed offset.
class TDWCalendarTimeZone
{
public:
    // The component's content lines, "BEGIN:VTIMEZONE" to "END:VTIMEZONE",
    // for local times from the start of firstYear to the end of lastYear.
    static QStringList componentLines(const QTimeZone &zone, int firstYear, int lastYear);
    // Whether the zone is UTC at all times and known by no other name than
    // Qt's own ("UTC", "UTC+00:00"): its times are written in UTC with no
    // VTIMEZONE, as readers resolve a TZID with a zero offset only by its name.
    static bool isUtc(const QTimeZone &zone);
};
