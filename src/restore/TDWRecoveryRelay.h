#pragma once

#include "platform/foundation/TDWError.h"
#include "restore/TDWRecoveryProgress.h"

#include <memory>
#include <mutex>

class TDWOperation;
class TDWOperationQueue;

// The link between one restore request's worker-side operations (its
// scheduling and its steps) and the rest: it queues steps on the request's
// serial queue, stops the request (a cancel, the first failure) so that no
// later step runs, and hands outcomes to the progress on the main thread, in
// the order they happen.
//
// Shared by the request and its operations; the request detaches the queue
// before destroying it, so an operation that outlives the request finds
// nothing to cancel.
class TDWRecoveryRelay
{
public:
    TDWRecoveryRelay(TDWOperationQueue *queue, std::shared_ptr<TDWRecoveryProgress> progress);

    // Queues `operation` unless the request has been stopped; whether it was queued.
    bool addOperation(const std::shared_ptr<TDWOperation> &operation);
    // Cancels everything queued or running; nothing is queued afterwards.
    void stop();
    bool isStopped() const;
    void detachQueue();

    const std::shared_ptr<TDWRecoveryProgress> &progress() const { return m_progress; }

    // From the scheduling, before its steps may run.
    void setPlan(const TDWRecoveryProgress::Plan &plan);
    // From the steps.
    void docRecoverySuccessful(qint64 bytes);
    void dirRecoverySuccessful();
    // Stops the request first, so a step queued behind the failing one never runs.
    void recoveryFailure(const TDWError &error);
    // Stops the request and tells the progress.
    void recoveryCancelled();

private:
    mutable std::mutex m_mutex;
    TDWOperationQueue *m_queue;
    bool m_stopped = false;
    const std::shared_ptr<TDWRecoveryProgress> m_progress;
};
