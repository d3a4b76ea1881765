#pragma once

#include "prefs/TDWDiagnosticCurlRun.h"
#include "prefs/TDWItemDiagnostic.h"

// The diagnostic of a calendar: the entry stored for it, then the calendar's
// events as the Calendar API answers them now, fetched with curl (command,
// time, headers, body and its size). Redirects are shown, not followed.
class TDWDiagnosticCal : public TDWItemDiagnostic
{
public:
    TDWDiagnosticCal(const TDWManagedObjectID &docRevObjectId, TDWItemDiagnosticReport *report);

    void run() override;

    // The URL of the calendar's events.
    static QString eventsUrl(const QString &calendarId);

private:
    void curlDone(const std::optional<TDWDiagnosticCurlRun::Output> &output);

    TDWDiagnosticCurlRun m_curl;
};
