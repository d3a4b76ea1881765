#pragma once

#include "platform/foundation/TDWClassRegistry.h"
#include "platform/foundation/TDWError.h"
#include "platform/foundation/TDWOperation.h"
#include "platform/store/TDWManagedObjectID.h"

#include <QString>

#include <mutex>

class TDWOperationQueue;

// The common base of the operations that fetch the list of one account's
// items for one service within one backup iteration. It keeps what names
// such a retrieval and posts the notifications that tell the rest of the
// program how a list retrieval goes. The posting calls may come from any
// thread: each notification is handed to the main thread, with the operation
// as its sender, and the caller goes on at once.
class TDWListRetrievalOperation : public TDWOperation
{
    Q_OBJECT

public:
    static inline const QString IndexRetrievalFailedNotification = QStringLiteral("NOTIFICATION_INDEXRETRIEVAL_FAILED");
    static inline const QString IndexRetrievalStartedNotification = QStringLiteral("NOTIFICATION_INDEXRETRIEVAL_STARTED");

    // The backup iteration is an object of the master store.
    TDWListRetrievalOperation(const QString &accountUsername, const TDWManagedObjectID &backupIterationObjectID, const QString &service);

    const QString &accountUsername() const { return m_accountUsername; }
    const TDWManagedObjectID &backupIterationObjectID() const { return m_backupIterationObjectID; }
    const QString &service() const { return m_service; }

    // Logs the failure and posts NOTIFICATION_INDEXRETRIEVAL_FAILED; a null
    // message gives no "errormessage".
    void postFailureNotification(const QString &message);
    // NOTIFICATION_INDEXRETRIEVAL_STARTED with the number of items so far,
    // and with the percentage done when it is known.
    void postListRetrievalStartedWithNumObjectsRetrieved(qint64 numObjectsRetrieved);
    void postListRetrievalStartedWithNumObjectsRetrieved(qint64 numObjectsRetrieved, double pctComplete);
    // Called once a retrieval has recorded its outcome; posts nothing here.
    virtual void postAccountUpdate();

    // The protocol layer's error when the retrieval failed because of it,
    // whose scope says whether the item downloads may still succeed; null
    // otherwise. Read once the retrieval has finished.
    TDWError failureCause() const;

protected:
    void setFailureCause(const TDWError &error);

private:
    void postStarted(QVariantMap userInfo, qint64 numObjectsRetrieved);

    const QString m_accountUsername;
    const TDWManagedObjectID m_backupIterationObjectID;
    const QString m_service;
    mutable std::mutex m_failureMutex; // guards m_failureCause
    TDWError m_failureCause;
};

// The list retrieval classes by name, made from the user name, the service
// id, the backup iteration and the queue its downloads go to.
using TDWListRetrievalClasses = TDWClassRegistry<TDWListRetrievalOperation, const QString &, const QString &, const TDWManagedObjectID &,
                                                 TDWOperationQueue *>;
