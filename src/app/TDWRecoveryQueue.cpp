#include "app/TDWRecoveryQueue.h"

#include "common/BKSNotUtils.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "restore/TDWRecoveringStatusWindowController.h"
#include "restore/TDWRecoveryUserOperation.h"

#include <QEventLoop>

namespace {

// How many restores run at once.
constexpr int MaxConcurrentRecoveryOperations = 4;

} // namespace

TDWRecoveryQueue::TDWRecoveryQueue(QObject *parent)
    : QObject(parent)
    , m_queue(std::make_unique<TDWOperationQueue>())
{
    m_queue->setMaxConcurrentOperationCount(MaxConcurrentRecoveryOperations);
    // Direct: the count is seen in order on the thread that changed it.
    connect(m_queue.get(), &TDWOperationQueue::operationCountChanged, this, &TDWRecoveryQueue::countChanged, Qt::DirectConnection);
}

// Restores hold no pointer to this object once their queue is gone.
TDWRecoveryQueue::~TDWRecoveryQueue() = default;

void TDWRecoveryQueue::addOperation(const std::shared_ptr<TDWOperation> &operation)
{
    m_queue->addOperation(operation);
}

void TDWRecoveryQueue::addRecoveryOperation(const std::shared_ptr<TDWRecoveryUserOperation> &request)
{
    // The window ends itself once it has closed; this object keeps it until then.
    new TDWRecoveringStatusWindowController(request, this);
    m_queue->addOperation(request);
}

void TDWRecoveryQueue::addOperationWithBlock(std::function<void()> block)
{
    m_queue->addOperation(std::move(block));
}

void TDWRecoveryQueue::countChanged(int count)
{
    const bool busy = count != 0;
    if (busy == m_inProgress.exchange(busy))
        return;
    // Not waiting: the main thread may itself be waiting for this queue.
    BKSNotUtils::postNotificationName(busy ? QStringLiteral("recovery_in_progress") : QStringLiteral("recovery_complete"), this, {}, false);
}

void TDWRecoveryQueue::waitUntilAllOperationsAreFinished()
{
    // The event loop keeps running meanwhile: a restore may need the main
    // thread (an alert, a blocking post) before it can finish.
    QEventLoop loop;
    connect(m_queue.get(), &TDWOperationQueue::operationCountChanged, &loop,
            [this, &loop] {
                if (m_queue->operationCount() == 0)
                    loop.quit();
            },
            Qt::QueuedConnection);
    if (m_queue->operationCount() != 0)
        loop.exec();
}
