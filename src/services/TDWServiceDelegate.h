#pragma once

#include "common/TDWServiceConfig.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDocRev.h"
#include "platform/foundation/TDWClassRegistry.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "platform/store/TDWPersistentStore.h"
#include "services/TDWDocEntry.h"

#include <QList>

#include <optional>

// What one API service adds to the generic list retrieval: refusing entries
// before they are stored, finishing a revision at once instead of leaving it
// to a download, and further list URLs once the configured ones are done. The
// list operation makes one per run, by the service table's
// "serviceDelegateClass", and calls it on its own thread only.
class TDWServiceDelegate
{
public:
    virtual ~TDWServiceDelegate() = default;

    // Offered a revision still to fetch (export status 1, 2 or 4) of an item
    // that is not a grouping, its folder made; a delegate that finishes it sets
    // the status (3 written, 0 nothing to fetch).
    virtual void docRevFound(const TDWDocRev::Ptr &docRev) = 0;
    // Whether the entry is stored at all; by default every entry is.
    virtual bool useEntry(const TDWDocEntry &entry, const TDWAccount::Ptr &account);
    // Further list URLs, fetched with their parser (the default one when
    // none is named); empty = nothing more (the default); std::nullopt on failure.
    virtual std::optional<QList<TDWServiceConfig::ListUrl>> moreLinksForBackupIteration(const TDWBackupIteration::Ptr &iteration,
                                                                                        const TDWPersistentStorePtr &store,
                                                                                        TDWManagedObjectContext &moc);
};

// The delegates by the names the service table gives under "serviceDelegateClass".
using TDWServiceDelegateClasses = TDWClassRegistry<TDWServiceDelegate>;
