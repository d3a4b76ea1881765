#include "mail/TDWMailBackupOperation.h"

#include "agent/TDWCheckForMissingOperation.h"
#include "agent/TDWDownloadCountUpdateOperation.h"
#include "agent/TDWRuleUpdateOperation.h"
#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "mail/TDWMailListRetrievalOperation.h"
#include "mail/TDWMultiMessageExportOperation.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/store/TDWContextReset.h"
#include "status/TDWActivityMonitor.h"

#include <exception>

namespace {


} // namespace

TDWMailBackupOperation::TDWMailBackupOperation(const QString &username, const QString &service)
    : m_username(username)
    , m_service(service)
    , m_enabledWatch(std::make_unique<TDWBackupEnabledWatch>(username, TDWServiceIds::Mail, [this] { cancel(); }))
{
    m_queue.setMaxConcurrentOperationCount(1);
}

TDWMailBackupOperation::~TDWMailBackupOperation() = default;

void TDWMailBackupOperation::cancel()
{
    std::lock_guard lock(m_queueMutex);
    TDWOperation::cancel();
    m_queue.cancelAllOperations();
}

void TDWMailBackupOperation::main()
{
    m_monitor = TDWActivityMonitor::shared();
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    m_accountServiceStore = storeMgr ? storeMgr->storeForAccountUsername(m_username, TDWServiceIds::Mail) : nullptr;
    if (!m_accountServiceStore) {
        tdwLog(QStringLiteral("ERROR: Unable to find account/service store."));
        return;
    }
    try {
        backUp();
    } catch (const std::exception &e) {
        tdwLog(QStringLiteral("ERROR: Unexpected exception in MailBackupOperation: %1").arg(QString::fromLocal8Bit(e.what())));
    } catch (...) {
        closingSteps();
        throw;
    }
    closingSteps();
}

void TDWMailBackupOperation::backUp()
{
    m_enabledWatch->checkBackupEnabled();
    if (isCancelled())
        return;
    TDWCheckForMissingOperation(m_username, TDWServiceIds::Mail).main();
    if (isCancelled())
        return;
    list();
    if (m_monitor)
        m_monitor->doneBackingUpAccountUsername(m_username, m_service);
    if (isCancelled())
        return;
    if (!TDWUserDefaults::standard()->boolForKey(TDWSettingsKeys::DontDoExports))
        doExports();
}

void TDWMailBackupOperation::closingSteps()
{
    // After every download has ended, so both see the final export statuses.
    TDWRuleUpdateOperation(QStringList{m_username}, QStringList{m_service}).main();
    TDWDownloadCountUpdateOperation(m_username, m_service).main();
    if (m_monitor)
        m_monitor->doneBackingUpAccountUsername(m_username, m_service);
}

void TDWMailBackupOperation::list()
{
    TDWManagedObjectID iterationId;
    if (const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc()) {
        const TDWContextReset resetOnExit{moc.get()};
        TDWError error;
        if (const TDWBackupIteration::Ptr iteration = TDWBackupIteration::latestBackupIteration(*moc, &error))
            iterationId = iteration->objectID();
    }
    if (iterationId.isNull()) {
        tdwLog(QStringLiteral("ERROR: Unable to find backup iteration in TDWMailBackupOperation."));
        cancel();
        return;
    }
    // Its outcome reaches the activity monitor; the downloads go on over what the store holds.
    runOnQueue(std::make_shared<TDWMailListRetrievalOperation>(m_username, iterationId));
}

void TDWMailBackupOperation::doExports()
{
    if (!setAllQueuedExportsBackedUpLast(false))
        return;
    const qint64 limit = TDWServiceTable::shared().getThrottleLevel().value(QStringLiteral("messagesperiteration")).toLongLong();
    if (m_monitor)
        m_monitor->queueingIndividualItemBackupsForAccountUsername(m_username, TDWServiceIds::Mail);

    std::optional<QList<TDWManagedObjectID>> ids;
    bool moreBatches = false;
    if (const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc()) {
        const TDWContextReset resetOnExit{moc.get()};
        // One more than the limit tells whether another pass is needed; it is never downloaded in this one.
        const quint64 maxResults = limit < 0 ? TDWDocRev::NoLimit : quint64(limit) + 1;
        ids = TDWDocRev::idsNeedingRetrievalByService(TDWServiceIds::Mail, m_accountServiceStore, maxResults, *moc, nullptr);
        if (ids && limit >= 0 && ids->size() == qsizetype(maxResults)) {
            ids->resize(qsizetype(limit));
            moreBatches = true;
        }
    }
    if (!ids) {
        tdwLog(QStringLiteral("ERROR: Unable to determine ids needing retrieval for mail in BackupOperation."));
        return;
    }

    std::shared_ptr<TDWMultiMessageExportOperation> download;
    if (!ids->isEmpty()) {
        // The monitor hears how many are queued before the first download can end.
        if (m_monitor)
            m_monitor->queuedIndividualItemBackupsForAccountUsername(m_username, m_service, ids->size(), moreBatches);
        download = std::make_shared<TDWMultiMessageExportOperation>(m_username, std::move(*ids));
        runOnQueue(download);
    }
    setAllQueuedExportsBackedUpLast(!download || (download->isFinished() && download->completeSuccess()));
}

void TDWMailBackupOperation::runOnQueue(const std::shared_ptr<TDWOperation> &operation)
{
    {
        std::lock_guard lock(m_queueMutex);
        if (isCancelled())
            return;
        m_queue.addOperation(operation);
    }
    m_queue.waitUntilAllOperationsAreFinished();
}

bool TDWMailBackupOperation::setAllQueuedExportsBackedUpLast(bool backedUp)
{
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const TDWContextReset resetOnExit{moc.get()};
    const TDWAccount::Ptr account = moc ? TDWAccount::byUsername(m_username, *moc, nullptr) : nullptr;
    const auto setting = account ? account->settingForService(TDWServiceIds::Mail) : nullptr;
    if (!setting) {
        tdwLog(QStringLiteral("ERROR: Unable to find account while doing exports in TDWMailBackupOperation."));
        return false;
    }
    setting->setAllQueuedExportsBackedUpLast(backedUp);
    TDWError error;
    if (!moc->save(&error))
        tdwLog(QStringLiteral("ERROR: Unable to save in TDWMailBackupOperation doExports: %1").arg(error.localizedDescription()));
    return true;
}
