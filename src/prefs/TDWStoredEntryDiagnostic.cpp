#include "prefs/TDWStoredEntryDiagnostic.h"

#include "prefs/TDWItemDiagnosticReport.h"

void TDWStoredEntryDiagnostic::run()
{
    if (const std::optional<Stored> stored = storedOrFinish()) {
        report()->addOutputString(reformattedEntry(stored->xmlString));
        report()->done();
    }
}
