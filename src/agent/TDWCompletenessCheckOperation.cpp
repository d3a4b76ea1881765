#include "agent/TDWCompletenessCheckOperation.h"

#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWLog.h"

TDWCompletenessCheckOperation::TDWCompletenessCheckOperation(QString accountUsername, QString service, QDateTime snapshotDate)
    : m_accountUsername(std::move(accountUsername))
    , m_service(std::move(service))
    , m_snapshotDate(std::move(snapshotDate))
{
}

void TDWCompletenessCheckOperation::main()
{
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc)
        return;
    if (!m_snapshotDate.isValid()) {
        const TDWAccountServiceSetting::Ptr setting = TDWAccountServiceSetting::byAccountUsername(m_accountUsername, m_service, *moc);
        if (setting && setting->downloadCountsUpToDate()) {
            m_complete = setting->numDownloadsPending() == 0 && setting->numDownloadsFailed() == 0 && setting->numDownloadsMissing() == 0;
            return;
        }
    }
    if (!TDWAccount::byUsername(m_accountUsername, *moc, nullptr)) {
        tdwLog(QStringLiteral("ERROR: Unable to find account in TDWCompletenessCheckOperation."));
        return;
    }
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    const TDWPersistentStorePtr store = storeMgr ? storeMgr->storeForAccountUsername(m_accountUsername, m_service) : nullptr;
    TDWError error;
    const qint64 count = TDWDocRev::countNeedingRetrievalByStore(store, *moc, &error);
    if (count == TDWManagedObjectContext::NotFound) {
        tdwLog(QStringLiteral("ERROR: Unable to determine number of objects needing retrieval: %1").arg(error.description()));
        return;
    }
    m_complete = count == 0;
}
