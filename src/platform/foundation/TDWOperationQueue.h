#pragma once

#include "platform/foundation/TDWOperation.h"

#include <QList>
#include <QObject>

#include <functional>
#include <memory>

// Runs operations on worker threads, at most
// maxConcurrentOperationCount() executing at once, in the order they were added.
// Workers are threads of the worker pool (TDWWorkerPool), taken as needed
// and handed back once no operation has been ready for a moment.
//
// The count of operations (waiting or executing) rises in addOperation() and
// falls inside the finishing operation's finish(), after its completion
// callback. operationCountChanged() is emitted in the thread that made the
// change, one emission at a time and in order, so a direct connection sees
// every value exactly as it happened. Such an observer may call back into the
// queue, but must not block on other threads that use this queue.
//
// Nothing here depends on the main thread's event loop: operations may post
// to the main thread while it waits in waitUntilAllOperationsAreFinished().
// An operation that posts to the main thread and blocks until the post has
// run (a blocking queued call) deadlocks a main thread that waits for it:
// callers must not combine the two.
class TDWOperationQueue : public QObject
{
    Q_OBJECT

public:
    // -1: as many as the machine has cores.
    static constexpr int DefaultMaxConcurrentOperationCount = -1;

    explicit TDWOperationQueue(QObject *parent = nullptr);
    // Cancels every operation and waits for running main() calls to return.
    // A concurrent operation still waiting to finish() finishes later on its own.
    // Never destroy a queue from one of its own operations.
    ~TDWOperationQueue() override;

    void setMaxConcurrentOperationCount(int count);
    int maxConcurrentOperationCount() const;

    // False (and nothing queued) for an operation that already started or
    // belongs to a queue.
    bool addOperation(const std::shared_ptr<TDWOperation> &operation);
    std::shared_ptr<TDWOperation> addOperation(std::function<void()> block);

    // The operations not yet finished, in the order they were added.
    QList<std::shared_ptr<TDWOperation>> operations() const;
    int operationCount() const;

    // Cancels every operation; those not yet started finish at once.
    void cancelAllOperations();

    // Blocks until the queue holds no operation (including ones added while
    // waiting). Never call it from one of this queue's operations.
    void waitUntilAllOperationsAreFinished();

signals:
    void operationCountChanged(int count);

private:
    struct Core;

    std::shared_ptr<Core> m_core;
};
