#include "agent/TDWListRetrievalOperation.h"

#include "common/BKSNotUtils.h"
#include "platform/foundation/TDWLog.h"

TDWListRetrievalOperation::TDWListRetrievalOperation(const QString &accountUsername, const TDWManagedObjectID &backupIterationObjectID,
                                                     const QString &service)
    : m_accountUsername(accountUsername)
    , m_backupIterationObjectID(backupIterationObjectID)
    , m_service(service)
{
}

TDWError TDWListRetrievalOperation::failureCause() const
{
    std::lock_guard lock(m_failureMutex);
    return m_failureCause;
}

void TDWListRetrievalOperation::setFailureCause(const TDWError &error)
{
    std::lock_guard lock(m_failureMutex);
    m_failureCause = error;
}

void TDWListRetrievalOperation::postFailureNotification(const QString &message)
{
    tdwLog(QStringLiteral("ERROR: Unable to back up %1 for %2: %3").arg(m_service, m_accountUsername, message));
    QVariantMap userInfo{{QStringLiteral("accountUsername"), m_accountUsername}, {QStringLiteral("service"), m_service}};
    if (!message.isNull())
        userInfo.insert(QStringLiteral("errormessage"), message);
    BKSNotUtils::postNotificationName(IndexRetrievalFailedNotification, this, userInfo, false);
}

void TDWListRetrievalOperation::postListRetrievalStartedWithNumObjectsRetrieved(qint64 numObjectsRetrieved)
{
    postStarted({}, numObjectsRetrieved);
}

void TDWListRetrievalOperation::postListRetrievalStartedWithNumObjectsRetrieved(qint64 numObjectsRetrieved, double pctComplete)
{
    postStarted({{QStringLiteral("pctcomplete"), pctComplete}}, numObjectsRetrieved);
}

void TDWListRetrievalOperation::postAccountUpdate()
{
}

void TDWListRetrievalOperation::postStarted(QVariantMap userInfo, qint64 numObjectsRetrieved)
{
    userInfo.insert(QStringLiteral("accountUsername"), m_accountUsername);
    userInfo.insert(QStringLiteral("num_objects_retrieved"), numObjectsRetrieved);
    userInfo.insert(QStringLiteral("service"), m_service);
    BKSNotUtils::postNotificationName(IndexRetrievalStartedNotification, this, userInfo, false);
}
