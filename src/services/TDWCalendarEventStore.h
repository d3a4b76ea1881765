#pragma once

#include "dataobjects/TDWDoc.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "platform/store/TDWManagedObjectModel.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QString>

#include <memory>
#include <mutex>

// One calendar's event store, as one operation holds it open. The stores lie
// outside the metadata store, in the application-support folder under
// "calendarevents/<databaseFilePath>", where databaseFilePath (kept on the
// calendar's item) is the account's directory name and a name unique to the
// store. The coordinator made by the first getCalendarEventMoc() is the only
// owner of the open store and is kept until close() or the end of the holder.
class TDWCalendarEventStore
{
public:
    static inline const QString FolderName = QStringLiteral("calendarevents");
    // Metadata saved with the events (the start of the pass, ISO 8601 in UTC):
    // the last pass that stored its last page, and the last that changed an
    // event. The calendar's item keeps its own last-update time in another
    // store; a marker later than it tells of a pass stopped between the two saves.
    static inline const QString LastStoredPassKey = QStringLiteral("lastStoredPass");
    static inline const QString LastChangingPassKey = QStringLiteral("lastChangingPass");

    explicit TDWCalendarEventStore(const QString &accountUsername);

    // A new context on the calendar's event store, owned by the caller and used
    // on its thread only; the first call opens the store (making its path and
    // file when the item has none). Null when the store cannot be opened.
    std::unique_ptr<TDWManagedObjectContext> getCalendarEventMoc(const TDWDoc::Ptr &calendarDoc);
    // The opened event store itself (for its metadata); null when it cannot be opened.
    TDWPersistentStorePtr store(const TDWDoc::Ptr &calendarDoc);
    static std::shared_ptr<const TDWManagedObjectModel> getEventModel();
    // Drops the coordinator, which closes the store file.
    void close();

    // The store file of a databaseFilePath.
    static QString absolutePath(const QString &databaseFilePath);

private:
    bool openCoordinator(const TDWDoc::Ptr &calendarDoc);
    QString newDatabaseFilePath(const TDWDoc::Ptr &calendarDoc) const;

    QString m_accountUsername;
    std::shared_ptr<TDWPersistentStoreCoordinator> m_psc;
    // Several operations of one account may make the account's folder at once.
    static std::mutex s_folderMutex;
};
