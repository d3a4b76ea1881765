#pragma once

#include "agent/TDWBackupEnabledWatch.h"
#include "agent/TDWListRetrievalOperation.h"
#include "platform/foundation/TDWClassRegistry.h"
#include "platform/foundation/TDWError.h"
#include "platform/foundation/TDWOperation.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "platform/store/TDWManagedObjectID.h"
#include "platform/store/TDWPersistentStore.h"

#include <QString>

#include <memory>
#include <mutex>

class TDWActivityMonitor;
class TDWOperationQueue;

// The download classes by the names the service table gives under
// "exportOperationClass", made from the revision to fetch and the user name.
using TDWExportOperationClasses = TDWClassRegistry<TDWOperation, const TDWManagedObjectID &, const QString &>;

// The backup of one service of one account over Google's HTTP APIs within
// one backup run: the service's list retrieval, then one download per
// current revision still to fetch (stopped at the first failure of the
// connection or the sign-in), then the exclusion rules and the download
// counts, every stage reported to the activity monitor. The work runs in
// main() on the backup run's thread, which blocks while the list and the
// downloads run on the operation's own queues.
//
// The operation cancels itself when an "accountUpdate" or "deletedAccount"
// notification about its account shows that the service was disabled or the
// account deleted; cancel() may thus come from the main thread while main()
// runs elsewhere.
class TDWApiBackupOperation : public TDWOperation
{
    Q_OBJECT

public:
    // Made by the list step through TDWListRetrievalClasses.
    static inline const QString ListRetrievalClass = QStringLiteral("TDWDocListRetrievalOperation");
    static constexpr int DefaultExportWidth = 4;

    // The export queue's width is read here: "googleDriveSimultaneous" for
    // "docs", 4 for every other service.
    TDWApiBackupOperation(const QString &username, const QString &service);
    ~TDWApiBackupOperation() override;

    const QString &username() const { return m_username; }
    const QString &service() const { return m_service; }

    // Cancels the downloads, then the list retrieval, then the operation.
    void cancel() override;

    void checkDisabled(const TDWNotification &notification);
    void checkBackupEnabled();
    // Runs the list retrieval and waits for it; the error that made it fail, if a protocol layer gave one.
    TDWError listWithBackupIterationId(const TDWManagedObjectID &backupIterationId);
    // Fills the export queue.
    void queueExports();
    // After each download: one whose failure reaches past its item (the
    // connection, the sign-in) stops the downloads not yet begun.
    void downloadEnded(const TDWOperation &download);
    // Stops the downloads, once, with one log line, when `failure` reaches
    // past one item; true when they are stopped.
    bool stopDownloadsFor(const TDWError &failure);

protected:
    void main() override;

private:
    void mainPhase(const TDWManagedObjectID &backupIterationId);
    void closingSteps();
    TDWManagedObjectID latestBackupIterationId();

    const QString m_username;
    const QString m_service;
    TDWActivityMonitor *m_monitor = nullptr; // the shared one, taken when main() starts; none: nothing is reported
    TDWPersistentStorePtr m_accountServiceStore;

    const std::shared_ptr<TDWOperationQueue> m_queue;
    // Guards m_listOpQueue, which cancel() reaches from the main thread, and
    // orders every addition to a queue against cancel().
    std::mutex m_queueMutex;
    std::shared_ptr<TDWOperationQueue> m_listOpQueue;
    TDWError m_downloadStop; // the failure that stopped the downloads; guarded by m_queueMutex

    // Last, so it is gone before anything its cancel() reaches.
    const std::unique_ptr<TDWBackupEnabledWatch> m_enabledWatch;
};
