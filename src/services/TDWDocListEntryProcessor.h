#pragma once

#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "platform/store/TDWManagedObjectID.h"
#include "platform/store/TDWPersistentStore.h"
#include "services/TDWDocEntry.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

class TDWServiceDelegate;

// Turns the parsed entries of one list page into items, revisions and parent
// links of the account-and-service store, saved as one unit per page. Owned by
// the list retrieval, used on its thread only.
class TDWDocListEntryProcessor
{
public:
    TDWDocListEntryProcessor(const QString &accountUsername, const QString &service, const TDWManagedObjectID &backupIterationObjectID,
                             TDWPersistentStorePtr accountServiceStore, const QString &serviceFolderType,
                             TDWServiceDelegate *serviceDelegate /* may be null */);

    // Lower-cased item folder names in use; the operation fills it at start.
    QSet<QString> &currentDocDirNames() { return m_currentDocDirNames; }
    // One parsed page: true when processed and saved; false = nothing of the page stored.
    bool processEntries(const QList<TDWDocEntry> &entries);
    // Marks an item deleted as of the date (also used by the completion for unseen items).
    void obsoleteDoc(const TDWDoc::Ptr &doc, const TDWDocRev::Ptr &latestRev, const QDateTime &obsoletedDate);

private:
    const QString m_accountUsername;
    const QString m_service;
    const TDWManagedObjectID m_backupIterationObjectID;
    const TDWPersistentStorePtr m_accountServiceStore;
    const QString m_serviceFolderType;
    TDWServiceDelegate *const m_serviceDelegate;
    QSet<QString> m_currentDocDirNames;
};
