#pragma once

#include "agent/TDWBackupEnabledWatch.h"
#include "platform/foundation/TDWOperation.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/store/TDWPersistentStore.h"

#include <QString>

#include <memory>
#include <mutex>

class TDWActivityMonitor;

// The Gmail backup of one account in one backup run, made by name
// ("TDWMailBackupOperation", the mail service's backup class) from the user
// name and the service id. In main(), on the backup run's thread: checks that
// the account still backs up mail, marks missing message files, runs the mail
// list retrieval, downloads one batch of the messages still missing (at most
// the throttle level's "messagesperiteration"; -1 for all), then re-applies
// the exclusion rules and recounts the downloads, which also happens after a
// cancellation or an exception. The list retrieval and the download run one
// after the other on the operation's own queue, which cancel() cancels too.
//
// The account's mail setting records whether the last pass downloaded
// everything it queued (allQueuedExportsBackedUpLast): false while a pass
// runs and after one whose download did not succeed completely.
class TDWMailBackupOperation : public TDWOperation
{
    Q_OBJECT

public:
    TDWMailBackupOperation(const QString &username, const QString &service);
    ~TDWMailBackupOperation() override;

    const QString &username() const { return m_username; }
    const QString &service() const { return m_service; }

    void cancel() override;

protected:
    void main() override;

private:
    void backUp();
    void closingSteps();
    void list();
    void doExports();
    // Queues `operation` on the private queue unless the backup was cancelled, and waits for the queue.
    void runOnQueue(const std::shared_ptr<TDWOperation> &operation);
    bool setAllQueuedExportsBackedUpLast(bool backedUp);

    const QString m_username;
    const QString m_service;
    TDWActivityMonitor *m_monitor = nullptr; // the shared one, taken when main() starts
    TDWPersistentStorePtr m_accountServiceStore;
    TDWOperationQueue m_queue;
    // Orders every addition to the queue against cancel().
    std::mutex m_queueMutex;
    // Last, so it is gone before anything its cancel() reaches.
    const std::unique_ptr<TDWBackupEnabledWatch> m_enabledWatch;
};
