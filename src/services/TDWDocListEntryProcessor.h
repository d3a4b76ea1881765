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
// links of the account-and-service store, saved as one unit per page. An item's
// latest revision is reused while it still describes the entry; otherwise a new
// revision, with its own numbered folder, replaces it. Every validity date a
// page writes is the iteration's start time. Owned by the list retrieval and
// used on its thread only.
class TDWDocListEntryProcessor
{
public:
    TDWDocListEntryProcessor(const QString &accountUsername, const QString &service, const TDWManagedObjectID &backupIterationObjectID,
                             TDWPersistentStorePtr accountServiceStore, const QString &serviceFolderType,
                             TDWServiceDelegate *serviceDelegate /* may be null */);

    // Lower-cased item folder names in use; the operation fills it at start.
    QSet<QString> &currentDocDirNames() { return m_currentDocDirNames; }
    // One parsed page: true when processed and saved; false = nothing of the page stored.
    // An entry that fails is logged and leaves no change; the others are saved.
    bool processEntries(const QList<TDWDocEntry> &entries);
    // Marks an item deleted as of the date (also used by the completion for unseen items).
    void obsoleteDoc(const TDWDoc::Ptr &doc, const TDWDocRev::Ptr &latestRev, const QDateTime &obsoletedDate);

    // Equal when both are missing, unequal when one is.
    static bool dateIsEqualTo(const QDateTime &date, const QDateTime &other);

private:
    struct Page;
    // Failed: the entry cannot be processed (the error says why); the others still are.
    enum class Outcome { Done, Failed, DropPage };

    Outcome processEntry(Page &page, TDWDocEntry entry, TDWError *error);
    // Whether the candidate still stands for the entry; DropPage when a stale
    // calendar event store could not be removed.
    Outcome decideReuse(const TDWDocEntry &entry, const TDWDoc::Ptr &doc, const TDWDocRev::Ptr &candidate, bool reappeared,
                        bool *reuse);
    TDWDoc::Ptr newDocForEntry(Page &page, const TDWDocEntry &entry);
    TDWDocRev::Ptr newDocRevForEntry(Page &page, const TDWDocEntry &entry, const TDWDoc::Ptr &doc);
    void updateDocRev(Page &page, const TDWDocRev::Ptr &docRev, const TDWDocEntry &entry);
    void linkToParents(Page &page, const TDWDoc::Ptr &doc, const TDWDocEntry &entry);
    TDWDoc::Ptr newPlaceholderParent(Page &page, const QString &docId, const TDWDocEntry &entry);
    void confirmLink(Page &page, const TDWDoc::Ptr &child, const TDWDoc::Ptr &parent);
    // The first free item folder name based on the title, made on disk.
    QString newItemFolderName(const QString &accountDirPath, const QString &title);
    void offerToDelegate(Page &page, const TDWDocRev::Ptr &docRev, const TDWDoc::Ptr &doc);
    // False when the do-not-back-up rule cannot be read or evaluated.
    bool applyExclusionRule(Page &page, const TDWDocRev::Ptr &docRev, TDWError *error);

    const QString m_accountUsername;
    const QString m_service;
    const TDWManagedObjectID m_backupIterationObjectID;
    const TDWPersistentStorePtr m_accountServiceStore;
    const QString m_serviceFolderType;
    TDWServiceDelegate *const m_serviceDelegate;
    QSet<QString> m_currentDocDirNames;
};
