#include "services/TDWCalendarExportOperation.h"

#include "dataobjects/TDWDocRev.h"
#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWContextReset.h"
#include "services/TDWCalendarWriter.h"

TDWCalendarExportOperation::TDWCalendarExportOperation(const TDWManagedObjectID &docRevObjectID, const QString &accountUsername)
    : TDWExportOperation(docRevObjectID, accountUsername)
    , m_eventStore(accountUsername)
{
}

std::unique_ptr<TDWManagedObjectContext> TDWCalendarExportOperation::getCalendarEventMoc(const TDWDoc::Ptr &calendarDoc)
{
    return m_eventStore.getCalendarEventMoc(calendarDoc);
}

void TDWCalendarExportOperation::main()
{
    std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
    if (!moc)
        return;
    TDWContextReset reset(moc.get());
    QString failure;
    const TDWDocRev::Ptr docRev = fetchDocRev(*moc, &failure);
    if (!docRev || !docRev->doc()) {
        tdwLog(QStringLiteral("ERROR: Unable to find the calendar revision to write: %1").arg(failure));
        return;
    }
    std::unique_ptr<TDWManagedObjectContext> eventMoc = getCalendarEventMoc(docRev->doc());
    if (!eventMoc) {
        handleUnableToRetrieveDoc(NoEventStoreMessage);
        return;
    }
    TDWContextReset resetEvents(eventMoc.get());
    TDWCalendarWriter writer(docRev, eventMoc.get());
    if (writer.writeCalendarFile())
        handleSuccessfulRetrieval();
    else
        handleUnableToRetrieveDoc(writer.lastError());
}
