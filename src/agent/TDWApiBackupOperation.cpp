#include "agent/TDWApiBackupOperation.h"

#include "agent/TDWDownloadCountUpdateOperation.h"
#include "agent/TDWItemDownload.h"
#include "agent/TDWRuleUpdateOperation.h"

#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "status/TDWActivityMonitor.h"

namespace {

int exportWidthForService(const QString &service)
{
    if (service != TDWServiceIds::Docs)
        return TDWApiBackupOperation::DefaultExportWidth;
    // A width of 0 or less would stop the downloads or lift every limit.
    return int(std::max<qint64>(1, TDWUserDefaults::standard()->integerForKey(TDWSettingsKeys::GoogleDriveSimultaneous)));
}

} // namespace

TDWApiBackupOperation::TDWApiBackupOperation(const QString &username, const QString &service)
    : m_username(username)
    , m_service(service)
    , m_queue(std::make_shared<TDWOperationQueue>())
    , m_enabledWatch(std::make_unique<TDWBackupEnabledWatch>(username, service, [this] { cancel(); }))
{
    m_queue->setMaxConcurrentOperationCount(exportWidthForService(service));
}

TDWApiBackupOperation::~TDWApiBackupOperation() = default;

void TDWApiBackupOperation::cancel()
{
    // Marked first, so that whatever main() queues after the queues below were
    // cancelled sees the flag (main() checks it under the same lock).
    TDWOperation::cancel();
    std::shared_ptr<TDWOperationQueue> list;
    {
        std::lock_guard lock(m_queueMutex);
        list = m_listOpQueue;
    }
    m_queue->cancelAllOperations();
    if (list)
        list->cancelAllOperations();
}

void TDWApiBackupOperation::checkDisabled(const TDWNotification &notification)
{
    m_enabledWatch->checkDisabled(notification);
}

void TDWApiBackupOperation::checkBackupEnabled()
{
    m_enabledWatch->checkBackupEnabled();
}

void TDWApiBackupOperation::main()
{
    m_monitor = TDWActivityMonitor::shared();
    {
        std::lock_guard lock(m_queueMutex);
        m_listOpQueue = std::make_shared<TDWOperationQueue>();
    }
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    m_accountServiceStore = storeMgr ? storeMgr->storeForAccountUsername(m_username, m_service) : nullptr;
    if (!m_accountServiceStore) {
        tdwLog(QStringLiteral("ERROR: Unable to find account/service store."));
        return;
    }
    const TDWManagedObjectID backupIterationId = latestBackupIterationId();
    if (backupIterationId.isNull()) {
        tdwLog(QStringLiteral("ERROR: Unable to find backup iteration in TDWApiBackupOperation."));
        cancel();
        return;
    }
    try {
        mainPhase(backupIterationId);
    } catch (...) {
        closingSteps();
        throw;
    }
    closingSteps();
}

TDWManagedObjectID TDWApiBackupOperation::latestBackupIterationId()
{
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc)
        return {};
    const TDWBackupIteration::Ptr iteration = TDWBackupIteration::latestBackupIteration(*moc, nullptr);
    const TDWManagedObjectID id = iteration ? iteration->objectID() : TDWManagedObjectID();
    moc->reset();
    return id;
}

void TDWApiBackupOperation::mainPhase(const TDWManagedObjectID &backupIterationId)
{
    if (isCancelled())
        return;
    const bool listEndedRun = stopDownloadsFor(listWithBackupIterationId(backupIterationId));
    // Reader items are never downloaded.
    if (isCancelled() || m_service == TDWServiceIds::Reader) {
        if (m_monitor)
            m_monitor->doneBackingUpAccountUsername(m_username, m_service);
        return;
    }
    if (!listEndedRun && !TDWUserDefaults::standard()->boolForKey(TDWSettingsKeys::DontDoExports))
        queueExports();
    const int queued = m_queue->operationCount();
    if (queued > 0 && m_monitor)
        m_monitor->queuedIndividualItemBackupsForAccountUsername(m_username, m_service, queued, false);
    m_queue->waitUntilAllOperationsAreFinished();
}

void TDWApiBackupOperation::closingSteps()
{
    // On this thread and after every download has ended, so both see the final export statuses.
    TDWRuleUpdateOperation(QStringList{m_username}, QStringList{m_service}).main();
    TDWDownloadCountUpdateOperation(m_username, m_service).main();
    if (m_monitor)
        m_monitor->doneBackingUpAccountUsername(m_username, m_service);
}

TDWError TDWApiBackupOperation::listWithBackupIterationId(const TDWManagedObjectID &backupIterationId)
{
    std::unique_ptr<TDWListRetrievalOperation> made =
        TDWListRetrievalClasses::shared().create(ListRetrievalClass, m_username, m_service, backupIterationId, m_queue.get());
    if (!made) {
        // Handled as a list retrieval that failed: the downloads go on over what the store holds.
        tdwLog(QStringLiteral("ERROR: No list retrieval class \"%1\"").arg(ListRetrievalClass));
        return {};
    }
    const std::shared_ptr<TDWListRetrievalOperation> retrieval(std::move(made));
    std::shared_ptr<TDWOperationQueue> list = std::make_shared<TDWOperationQueue>();
    {
        std::lock_guard lock(m_queueMutex);
        m_listOpQueue = list;
        list->addOperation(retrieval);
        if (isCancelled())
            retrieval->cancel();
    }
    list->waitUntilAllOperationsAreFinished();
    return retrieval->failureCause();
}

void TDWApiBackupOperation::queueExports()
{
    if (m_monitor)
        m_monitor->queueingIndividualItemBackupsForAccountUsername(m_username, m_service);
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    TDWError error;
    if (!moc || !TDWAccount::byUsername(m_username, *moc, &error)) {
        tdwLog(QStringLiteral("ERROR: Unable to find account in TDWApiBackupOperation doExports."));
        if (moc)
            moc->reset();
        return;
    }
    const QList<TDWManagedObjectID> ids =
        TDWDocRev::idsNeedingRetrievalByService(m_service, m_accountServiceStore, TDWDocRev::NoLimit, *moc, &error).value_or(QList<TDWManagedObjectID>());
    moc->reset();
    const QString className = TDWServiceTable::shared().serviceConfig(m_service).exportOperationClass;
    if (className.isEmpty()) {
        tdwLog(QStringLiteral("ERROR: No exportOperationClass defined."));
        return;
    }
    for (const TDWManagedObjectID &id : ids) {
        std::unique_ptr<TDWOperation> made = TDWExportOperationClasses::shared().create(className, id, m_username);
        if (!made) {
            tdwLog(QStringLiteral("ERROR: No export operation class \"%1\"").arg(className));
            return;
        }
        const std::shared_ptr<TDWOperation> download(std::move(made));
        TDWOperation *ended = download.get();
        download->setCompletionCallback([this, ended] { downloadEnded(*ended); });
        std::lock_guard lock(m_queueMutex);
        // A cancel (the service disabled) or a download that ended the run
        // stops the queueing as well as the queued downloads.
        if (isCancelled() || !m_downloadStop.isNull())
            return;
        m_queue->addOperation(download);
    }
}

void TDWApiBackupOperation::downloadEnded(const TDWOperation &download)
{
    if (const auto *item = dynamic_cast<const TDWItemDownload *>(&download))
        stopDownloadsFor(item->failureCause());
}

bool TDWApiBackupOperation::stopDownloadsFor(const TDWError &failure)
{
    // An item's failure leaves the others to try; a cancel was asked for.
    if (!failure.endsRun() || failure.scope() == TDWError::Scope::Cancelled)
        return false;
    {
        std::lock_guard lock(m_queueMutex);
        if (!m_downloadStop.isNull())
            return true;
        m_downloadStop = failure;
    }
    // Told once; what was not asked for stays to fetch in the next run.
    tdwLog(QStringLiteral("ERROR: Stopped downloading %1 items of %2: %3").arg(m_service, m_username, failure.localizedDescription()));
    m_queue->cancelAllOperations();
    return true;
}
