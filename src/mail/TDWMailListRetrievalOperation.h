#pragma once

#include "agent/TDWListRetrievalOperation.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/store/TDWPersistentStore.h"

#include <QByteArray>

// Brings one account's mail store up to date with the server in one backup
// run, before any message is downloaded: once per account it repairs message
// files that an old version left empty, then updates the folder and label
// list, synchronises All Mail (marking what vanished and purging what
// expired), records the run as the account's last mail list iteration and
// drops expired folders, label links and iterations. Each stage runs only
// when the one before succeeded and the operation is not cancelled. The
// activity monitor hears of the start and of the outcome (0 done,
// 1 cancelled, 2 failed).
//
// Runs synchronously on a worker thread (the mail backup's queue), waiting
// for the folder list update and the All Mail update on a private queue.
class TDWMailListRetrievalOperation : public TDWListRetrievalOperation
{
public:
    TDWMailListRetrievalOperation(const QString &accountUsername, const TDWManagedObjectID &backupIterationObjectID);
    ~TDWMailListRetrievalOperation() override;

    // Cancels the running stage first.
    void cancel() override;

    // Whether a message file's first bytes show an empty or truncated
    // message: 10 bytes or fewer, or a byte-count line of 0. Bytes only: a
    // message's 8-bit content never makes it broken.
    static bool messageFileLooksEmpty(const QByteArray &firstBytes);

protected:
    void main() override;

private:
    bool fixNullMessageBug();
    bool updateFolderList();
    bool processAllMail();
    bool updateLastListIteration();
    bool deleteExpiredMailItemsAndFolders();
    // Runs the operation on the private queue, waits, and answers its success.
    template <class Operation>
    bool runStage();

    TDWOperationQueue m_opQueue;
    TDWPersistentStorePtr m_accountServiceStore;
};
