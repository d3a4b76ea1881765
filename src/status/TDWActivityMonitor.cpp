#include "status/TDWActivityMonitor.h"

#include "common/BKSNotUtils.h"
#include "common/TDWServiceIds.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWContextReset.h"
#include "platform/store/TDWStoreError.h"

#include <atomic>
#include <memory>

namespace {

std::atomic<TDWActivityMonitor *> g_shared = nullptr;

const QString GlobalKey = QStringLiteral("global");
const QString StatusChangeName = QStringLiteral("indexretrievalstatuschange");
const QString GlobalStatusChangeName = QStringLiteral("NOTIFICATION_GLOBAL_BACKUP_OPERATION_STATUS_CHANGE");

QVariantMap downloadUserInfo(const TDWDoc &doc, const TDWManagedObjectID &docRevId)
{
    return {{QStringLiteral("docrev_docid"), doc.docId()},
            {QStringLiteral("accountUsername"), doc.accountUsername()},
            {QStringLiteral("service"), doc.service()},
            {QStringLiteral("docrevobjectid"), QVariant::fromValue(docRevId)}};
}

} // namespace

TDWActivityMonitor::TDWActivityMonitor() = default;

TDWActivityMonitor::~TDWActivityMonitor() = default;

TDWActivityMonitor *TDWActivityMonitor::shared()
{
    return g_shared.load();
}

void TDWActivityMonitor::setShared(TDWActivityMonitor *monitor)
{
    g_shared = monitor;
}

void TDWActivityMonitor::beganBackupCycle()
{
    std::lock_guard lock(m_mutex);
    m_indexRetrievalStatusValues.clear();
    m_orderedAccountServiceKeys.clear();
    BKSNotUtils::postNotificationName(QStringLiteral("backupInProgress"), this, {}, false);
}

void TDWActivityMonitor::endedBackupCycle()
{
    std::lock_guard lock(m_mutex);
    BKSNotUtils::postNotificationName(QStringLiteral("failedBackup"), this, {}, false);
}

void TDWActivityMonitor::startedCheckingRules()
{
    setGlobalStatus(CheckingRules);
}

void TDWActivityMonitor::startedStatusCache()
{
    setGlobalStatus(UpdatingStatusCache);
}

void TDWActivityMonitor::doneGlobal()
{
    std::lock_guard lock(m_mutex);
    removeKey(GlobalKey);
    notifyGlobal();
}

void TDWActivityMonitor::done()
{
    doneGlobal();
}

void TDWActivityMonitor::startedRetrievingMailListForAccountUsername(const QString &username, bool initial)
{
    std::lock_guard lock(m_mutex);
    TDWActivityMonitorBackupStatus &record = recordCreatingIfNecessary(username, TDWServiceIds::Mail);
    record.status = RetrievingList;
    record.initial = initial;
    notifyWithAccountUsername(username, TDWServiceIds::Mail);
}

void TDWActivityMonitor::updateRetrievingAllMailListForAccountUsername(const QString &username, qint64 startIndex, qint64 messageCount,
                                                                       qint64 currentIndex)
{
    std::lock_guard lock(m_mutex);
    TDWActivityMonitorBackupStatus &record = recordCreatingIfNecessary(username, TDWServiceIds::Mail);
    record.status = RetrievingList;
    record.pctComplete = getPctWithNumerator(currentIndex - startIndex, messageCount - startIndex);
    notifyWithAccountUsername(username, TDWServiceIds::Mail);
}

void TDWActivityMonitor::startedRetrievingApiListForAccountUsername(const QString &username, const QString &service, bool initial)
{
    std::lock_guard lock(m_mutex);
    TDWActivityMonitorBackupStatus &record = recordCreatingIfNecessary(username, service);
    record.status = RetrievingList;
    record.numItemsRetrieved = 0;
    record.initial = initial;
    notifyWithAccountUsername(username, service);
}

void TDWActivityMonitor::updateApiListForAccountUsername(const QString &username, const QString &service, qint64 numItemsRetrieved)
{
    std::lock_guard lock(m_mutex);
    recordCreatingIfNecessary(username, service).numItemsRetrieved = numItemsRetrieved;
    notifyWithAccountUsername(username, service);
}

void TDWActivityMonitor::doneRetrievingListForAccountUsername(const QString &username, const QString &service, qint32 reason)
{
    std::lock_guard lock(m_mutex);
    if (reason == 0) {
        BKSNotUtils::postNotificationName(QStringLiteral("NOTIFICATION_INDEXRETRIEVAL_SUCCEEDED"), this,
                                          {{QStringLiteral("accountUsername"), username}, {QStringLiteral("service"), service}},
                                          false);
        return;
    }
    recordCreatingIfNecessary(username, service).status = ListRetrievalFailed;
    notifyWithAccountUsername(username, service);
}

void TDWActivityMonitor::startedValidatingBackupsForAccountUsername(const QString &username, const QString &service)
{
    std::lock_guard lock(m_mutex);
    TDWActivityMonitorBackupStatus &record = recordCreatingIfNecessary(username, service);
    record.status = ValidatingBackups;
    record.initial = false;
    notifyWithAccountUsername(username, service);
}

void TDWActivityMonitor::queueingIndividualItemBackupsForAccountUsername(const QString &username, const QString &service)
{
    std::lock_guard lock(m_mutex);
    recordCreatingIfNecessary(username, service).status = QueueingDownloads;
    notifyWithAccountUsername(username, service);
}

void TDWActivityMonitor::queuedIndividualItemBackupsForAccountUsername(const QString &username, const QString &service,
                                                                       qint64 numItems, bool moreBatches)
{
    std::lock_guard lock(m_mutex);
    TDWActivityMonitorBackupStatus &record = recordCreatingIfNecessary(username, service);
    record.status = Downloading;
    record.numQueuedItems = numItems;
    record.numQueuedItemsProcessed = 0;
    record.moreBatches = moreBatches;
    notifyWithAccountUsername(username, service);
}

void TDWActivityMonitor::doneBackingUpAccountUsername(const QString &username, const QString &service)
{
    std::lock_guard lock(m_mutex);
    removeKey(keyFor(username, service));
    notifyWithAccountUsername(username, service);
}

void TDWActivityMonitor::downloadBeganForDocRevObjectId(const TDWManagedObjectID &docRevId)
{
    std::lock_guard lock(m_mutex);
    m_currentDownloads.insert(docRevId);

    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc) {
        tdwLog(QStringLiteral("ERROR: Unable to execute fetch request in downloadBeganForDocRevObjectId: %1")
                   .arg(QStringLiteral("no store is open")));
        return;
    }
    const TDWContextReset resetOnExit{moc.get()};
    TDWError error;
    const auto docRev = std::dynamic_pointer_cast<TDWDocRev>(moc->existingObjectWithID(docRevId, &error));
    const auto doc = docRev ? docRev->doc() : nullptr;
    if (!doc) {
        if (!docRev && error.domain() == TDWStoreError::Domain && error.code() != TDWStoreError::ObjectNotFound)
            tdwLog(QStringLiteral("ERROR: Unable to execute fetch request in downloadBeganForDocRevObjectId: %1")
                       .arg(error.localizedDescription()));
        else
            tdwLog(QStringLiteral("ERROR: Unexpected number of results for fetch request in downloadBeganForDocRevObjectId: %1").arg(0));
        return;
    }
    BKSNotUtils::postNotificationName(QStringLiteral("retrievalstarted"), this, downloadUserInfo(*doc, docRevId), false);
}

void TDWActivityMonitor::downloadBeganForDocRevObjectIds(const QList<TDWManagedObjectID> &docRevIds)
{
    {
        std::lock_guard lock(m_mutex);
        for (const TDWManagedObjectID &docRevId : docRevIds)
            m_currentDownloads.insert(docRevId);
    }
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const TDWContextReset resetOnExit{moc.get()};
    for (const TDWManagedObjectID &docRevId : docRevIds) {
        const auto docRev = moc ? std::dynamic_pointer_cast<TDWDocRev>(moc->existingObjectWithID(docRevId, nullptr)) : nullptr;
        const auto doc = docRev ? docRev->doc() : nullptr;
        if (!doc) {
            tdwLog(QStringLiteral("ERROR: Called TDWActivityMonitor downloadBeganForDocRevObjectId with Object ID that could not be found."));
            return;
        }
        BKSNotUtils::postNotificationName(QStringLiteral("retrievalstarted"), this, downloadUserInfo(*doc, docRevId), false);
    }
}

void TDWActivityMonitor::downloadStoppedForDocRevObjectId(const TDWManagedObjectID &docRevId, qint32 /*reason*/, bool willRetry)
{
    std::lock_guard lock(m_mutex);
    m_currentDownloads.remove(docRevId);

    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const TDWContextReset resetOnExit{moc.get()};
    const auto docRev = moc ? std::dynamic_pointer_cast<TDWDocRev>(moc->existingObjectWithID(docRevId, nullptr)) : nullptr;
    const auto doc = docRev ? docRev->doc() : nullptr;
    if (!doc) {
        tdwLog(QStringLiteral("ERROR: Called TDWActivityMonitor downloadStoppedForDocRevObjectId with Object ID that could not be found."));
        return;
    }
    const auto record = m_indexRetrievalStatusValues.find(keyFor(doc->accountUsername(), doc->service()));
    if (!willRetry && record != m_indexRetrievalStatusValues.end())
        ++record->numQueuedItemsProcessed;
    QVariantMap userInfo = downloadUserInfo(*doc, docRevId);
    userInfo.insert(QStringLiteral("docrev_status"), docRev->exportStatus());
    BKSNotUtils::postNotificationName(QStringLiteral("retrievalattempted"), this, userInfo, false);
}

std::optional<TDWActivityMonitorBackupStatus> TDWActivityMonitor::indexRetrievalStatusForUsername(const QString &username,
                                                                                                  const QString &service) const
{
    std::lock_guard lock(m_mutex);
    const auto record = m_indexRetrievalStatusValues.constFind(keyFor(username, service));
    if (record == m_indexRetrievalStatusValues.cend())
        return std::nullopt;
    return *record;
}

std::optional<TDWActivityMonitorBackupStatus> TDWActivityMonitor::globalOperationStatus() const
{
    std::lock_guard lock(m_mutex);
    const auto record = m_indexRetrievalStatusValues.constFind(GlobalKey);
    if (record == m_indexRetrievalStatusValues.cend())
        return std::nullopt;
    return *record;
}

QList<TDWActivityMonitorBackupStatus> TDWActivityMonitor::currentStatusValues() const
{
    std::lock_guard lock(m_mutex);
    QList<TDWActivityMonitorBackupStatus> values;
    values.reserve(m_orderedAccountServiceKeys.size());
    for (const QString &key : m_orderedAccountServiceKeys)
        values.append(m_indexRetrievalStatusValues.value(key));
    return values;
}

bool TDWActivityMonitor::docRevExportRetrievalInProgress(const TDWManagedObjectID &docRevId) const
{
    std::lock_guard lock(m_mutex);
    return m_currentDownloads.contains(docRevId);
}

double TDWActivityMonitor::getPctWithNumerator(qint64 numerator, qint64 denominator)
{
    if (numerator == 0)
        return 0.0;
    if (denominator == 0)
        return 1.0;
    return double(numerator) / double(denominator);
}

QString TDWActivityMonitor::keyFor(const QString &username, const QString &service)
{
    return QStringLiteral("%1, %2").arg(username, service);
}

TDWActivityMonitorBackupStatus &TDWActivityMonitor::recordCreatingIfNecessary(const QString &username, const QString &service)
{
    const QString key = keyFor(username, service);
    auto record = m_indexRetrievalStatusValues.find(key);
    if (record == m_indexRetrievalStatusValues.end()) {
        TDWActivityMonitorBackupStatus created;
        created.accountUsername = username;
        created.service = service;
        record = m_indexRetrievalStatusValues.insert(key, created);
        m_orderedAccountServiceKeys.append(key);
    }
    return *record;
}

TDWActivityMonitorBackupStatus &TDWActivityMonitor::globalRecordCreatingIfNecessary()
{
    auto record = m_indexRetrievalStatusValues.find(GlobalKey);
    if (record == m_indexRetrievalStatusValues.end()) {
        record = m_indexRetrievalStatusValues.insert(GlobalKey, TDWActivityMonitorBackupStatus());
        m_orderedAccountServiceKeys.append(GlobalKey);
    }
    return *record;
}

void TDWActivityMonitor::setGlobalStatus(qint64 status)
{
    std::lock_guard lock(m_mutex);
    globalRecordCreatingIfNecessary().status = status;
    notifyGlobal();
}

void TDWActivityMonitor::removeKey(const QString &key)
{
    m_indexRetrievalStatusValues.remove(key);
    m_orderedAccountServiceKeys.removeOne(key);
}

void TDWActivityMonitor::notifyWithAccountUsername(const QString &username, const QString &service)
{
    BKSNotUtils::postNotificationName(StatusChangeName, this,
                                      {{QStringLiteral("accountUsername"), username}, {QStringLiteral("service"), service}}, false);
}

void TDWActivityMonitor::notifyGlobal()
{
    BKSNotUtils::postNotificationName(GlobalStatusChangeName, this, {}, false);
}
