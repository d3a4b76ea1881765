#include "restore/TDWRecoveryRelay.h"

#include "platform/foundation/TDWMainThread.h"
#include "platform/foundation/TDWOperationQueue.h"

TDWRecoveryRelay::TDWRecoveryRelay(TDWOperationQueue *queue, std::shared_ptr<TDWRecoveryProgress> progress)
    : m_queue(queue)
    , m_progress(std::move(progress))
{
}

bool TDWRecoveryRelay::addOperation(const std::shared_ptr<TDWOperation> &operation)
{
    // Under the lock: a stop() that has begun is never followed by a new step.
    const std::lock_guard lock(m_mutex);
    return !m_stopped && m_queue && m_queue->addOperation(operation);
}

void TDWRecoveryRelay::stop()
{
    const std::lock_guard lock(m_mutex);
    m_stopped = true;
    if (m_queue)
        m_queue->cancelAllOperations();
}

bool TDWRecoveryRelay::isStopped() const
{
    const std::lock_guard lock(m_mutex);
    return m_stopped;
}

void TDWRecoveryRelay::detachQueue()
{
    const std::lock_guard lock(m_mutex);
    m_queue = nullptr;
}

void TDWRecoveryRelay::setPlan(const TDWRecoveryProgress::Plan &plan)
{
    // Posted from this thread before any step is queued, so it reaches the
    // main thread ahead of every step's report.
    TDWMainThread::post(m_progress.get(), [progress = m_progress, plan] {
        progress->setPlan(plan);
        progress->updateProgress();
    });
}

void TDWRecoveryRelay::docRecoverySuccessful(qint64 bytes)
{
    TDWMainThread::post(m_progress.get(), [progress = m_progress, bytes] { progress->docRecoverySuccessful(bytes); });
}

void TDWRecoveryRelay::dirRecoverySuccessful()
{
    TDWMainThread::post(m_progress.get(), [progress = m_progress] { progress->dirRecoverySuccessful(); });
}

void TDWRecoveryRelay::recoveryFailure(const TDWError &error)
{
    stop();
    TDWMainThread::post(m_progress.get(), [progress = m_progress, error] { progress->recoveryFailure(error); });
}

void TDWRecoveryRelay::recoveryCancelled()
{
    stop();
    TDWMainThread::post(m_progress.get(), [progress = m_progress] { progress->recoveryCancelled(); });
}
