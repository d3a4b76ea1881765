#pragma once

#include "platform/store/TDWPersistentStore.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

class TDWManagedObjectContext;

// Removes what one account and service no longer needs to keep after a
// successful list retrieval: revisions, items and folder links whose validity
// ended before the cut-off ("DeleteReferenceDeltaSeconds"), with their files,
// folders and calendar event stores; backup iterations before the cut-off are
// marked outdated; list-page folders older than seven days go.
//
// The store changes are saved in one change before any file is touched, so a
// crash in between leaves unreferenced files, never references to missing ones.
class TDWListRetrievalPruner
{
public:
    static constexpr qint64 DefaultKeepSeconds = 7776000; // 90 days
    static constexpr qint64 ListPageKeepSeconds = 604800; // 7 days

    TDWListRetrievalPruner(const QString &accountUsername, const QString &service, TDWPersistentStorePtr accountServiceStore);

    // The cut-off of the user default at `now`; none when everything is kept.
    static std::optional<QDateTime> cutOff(const QDateTime &now);

    // `limitedFullRun`: a Drive account limited to Google's own document
    // types after a full run, whose items of every other type go too.
    void deleteOldBackups(bool limitedFullRun);
    void deleteOldDocListFiles();

private:
    struct Removals
    {
        QStringList paths;       // relative to the service's backed-up items folder, in order
        QStringList eventStores; // relative to the calendar event stores folder
    };
    bool pruneStore(const QDateTime &cutOff, bool limitedFullRun, TDWManagedObjectContext &moc, Removals *removals);
    bool removeOtherThanGoogleDocs(TDWManagedObjectContext &moc, Removals *removals);
    void removeFromDisk(const Removals &removals) const;

    const QString m_accountUsername;
    const QString m_service;
    const TDWPersistentStorePtr m_store;
};
