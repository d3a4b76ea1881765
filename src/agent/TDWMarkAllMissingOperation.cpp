#include "agent/TDWMarkAllMissingOperation.h"

#include "agent/TDWBackupScheduler.h"
#include "common/BKSNotUtils.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWLog.h"

namespace {

const QString SaveFailure = QStringLiteral("ERROR: Unable to save in TDWMarkAllMissingOperation: %1");

// Marks one batch and saves it; the context is left empty for the next.
void markBatch(const QList<TDWManagedObjectID> &docRevIds, TDWManagedObjectContext &moc)
{
    TDWError error;
    const auto revs = moc.existingObjectsWithIDs(docRevIds, &error);
    if (revs) {
        for (const TDWManagedObjectPtr &object : *revs) {
            const auto rev = std::static_pointer_cast<TDWDocRev>(object);
            // Another context may have changed it since the identifiers were fetched.
            if (rev->exportStatus() == TDWDocRev::BackedUp)
                rev->setExportStatus(TDWDocRev::FileMissing);
        }
    }
    if (!revs || !moc.save(&error))
        tdwLog(SaveFailure.arg(error.description()));
    moc.reset();
}

} // namespace

TDWMarkAllMissingOperation::TDWMarkAllMissingOperation(TDWBackupScheduler &scheduler)
    : m_scheduler(scheduler)
{
}

void TDWMarkAllMissingOperation::main()
{
    markAllMissing();
    // Also after a failure: the item lists show what did change, and the
    // backup fetches what was marked.
    BKSNotUtils::postNotificationName(QStringLiteral("allmissing"), this);
    m_scheduler.userRequestedImmediateBackup();
}

void TDWMarkAllMissingOperation::markAllMissing()
{
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!storeMgr || !moc)
        return;
    const auto stores = storeMgr->allAccountServiceStores();
    if (!stores) {
        tdwLog(SaveFailure.arg(QStringLiteral("the account stores could not be listed")));
        return;
    }
    // Identifiers first, then the revisions in batches, so that memory stays
    // flat however many revisions the stores hold.
    const TDWPredicate backedUp = TDWPredicate::parse(QStringLiteral("exportStatus = %@"), {qlonglong(TDWDocRev::BackedUp)});
    for (const TDWPersistentStorePtr &store : *stores) {
        const auto docRevIds = TDWDocRev::idsWithPredicate(backedUp, store, *moc, nullptr);
        if (!docRevIds)
            continue;
        for (qsizetype first = 0; first < docRevIds->size(); first += BatchSize)
            markBatch(docRevIds->mid(first, BatchSize), *moc);
    }
}
