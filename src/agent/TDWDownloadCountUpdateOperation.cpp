#include "agent/TDWDownloadCountUpdateOperation.h"

#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWStoreError.h"

TDWDownloadCountUpdateOperation::TDWDownloadCountUpdateOperation(QString accountUsername, QString service)
    : m_accountUsername(std::move(accountUsername))
    , m_service(std::move(service))
{
}

void TDWDownloadCountUpdateOperation::main()
{
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    const TDWPersistentStorePtr store = storeMgr ? storeMgr->storeForAccountUsername(m_accountUsername, m_service) : nullptr;
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const TDWAccountServiceSetting::Ptr setting = moc ? TDWAccountServiceSetting::byAccountUsername(m_accountUsername, m_service, *moc) : nullptr;
    if (!setting)
        return;

    TDWError error;
    std::optional<QHash<qint64, qint64>> counts;
    if (store) {
        const TDWPredicate counted = TDWPredicate::parse(QStringLiteral("latest = 1 and doc.deleted = 0 and doc.includeInStatus = 1"));
        counts = TDWDocRev::countsByExportStatus(counted, store, *moc, &error);
    } else {
        // Counting without a store would count every store's revisions.
        error = TDWStoreError::make(TDWStoreError::StoreNotFound,
                                    QStringLiteral("No store for account %1 and service %2").arg(m_accountUsername, m_service));
    }
    if (!counts) {
        tdwLog(QStringLiteral("ERROR: Unable to retrieve download counts: %1").arg(error.description()));
        return;
    }

    setting->setNumDownloadsPending(counts->value(TDWDocRev::DownloadPending));
    setting->setNumDownloadsFailed(counts->value(TDWDocRev::DownloadFailed));
    setting->setNumDownloadsDone(counts->value(TDWDocRev::BackedUp));
    setting->setNumDownloadsMissing(counts->value(TDWDocRev::FileMissing));
    setting->setNumDownloadsNoBackup(counts->value(TDWDocRev::ExcludedByRule));
    setting->setDownloadCountsUpToDate(true);
    if (!moc->save(&error))
        tdwLog(QStringLiteral("ERROR: Unable to save download counts: %1").arg(error.description()));
}
