#pragma once

#include "prefs/TDWItemDiagnostic.h"

// The diagnostic of contacts, Reader items and Picasa Web items: the entry
// stored for the item's latest revision, one tag a line, and nothing asked of
// the network. The table names it "TDWDiagnosticContacts",
// "TDWDiagnosticReader" and "TDWDiagnosticPicasaWeb".
class TDWStoredEntryDiagnostic : public TDWItemDiagnostic
{
public:
    using TDWItemDiagnostic::TDWItemDiagnostic;

    void run() override;
};
