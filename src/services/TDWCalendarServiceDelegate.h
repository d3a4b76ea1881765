#pragma once

#include "services/TDWServiceDelegate.h"

// Calendars: which ones are kept follows the user default "calendarAccessLevel"
// (3 or unset: all; 2: all but free/busy-only ones; 1: only owned ones).
class TDWCalendarServiceDelegate : public TDWServiceDelegate
{
public:
    // Calendars are stored through their event stores and exported elsewhere.
    void docRevFound(const TDWDocRev::Ptr &docRev) override;
    bool useEntry(const TDWDocEntry &entry, const TDWAccount::Ptr &account) override;
};
