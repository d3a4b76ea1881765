#pragma once

#include "dataobjects/TDWDoc.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "services/TDWCalendarEventStore.h"
#include "services/TDWExportOperation.h"

#include <memory>

// The download of the calendar service: writes one calendar revision's
// iCalendar file from the calendar's event store, which the calendar event
// synchronisation filled during the list retrieval. It makes no request of
// its own. Its outcome is recorded on the revision: backed up, or failed with
// the reason, so that a file that cannot be written is seen at once and
// written again by the next backup.
class TDWCalendarExportOperation : public TDWExportOperation
{
    Q_OBJECT

public:
    static inline const QString NoEventStoreMessage = QStringLiteral("Unable to find or create the calendar event database file.");

    TDWCalendarExportOperation(const TDWManagedObjectID &docRevObjectID, const QString &accountUsername);

    // Opens the calendar's event store (see TDWCalendarEventStore).
    std::unique_ptr<TDWManagedObjectContext> getCalendarEventMoc(const TDWDoc::Ptr &calendarDoc);

protected:
    void main() override;

private:
    TDWCalendarEventStore m_eventStore;
};
