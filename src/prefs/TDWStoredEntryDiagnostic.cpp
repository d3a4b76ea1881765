#include "prefs/TDWStoredEntryDiagnostic.h"

#include "dataobjects/TDWMasterStore.h"
#include "prefs/TDWItemDiagnosticReport.h"

void TDWStoredEntryDiagnostic::run()
{
    QString text = RevisionMissingMessage;
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
        if (const TDWDocRev::Ptr docRev = moc ? revision(*moc) : nullptr)
            text = reformattedEntry(docRev->xmlString());
    }
    report()->addOutputString(text);
    report()->done();
}
