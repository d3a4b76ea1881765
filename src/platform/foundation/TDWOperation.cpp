#include "platform/foundation/TDWOperation.h"

#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWMainThread.h"
#include "platform/foundation/TDWUncaughtException.h"
#include "platform/foundation/TDWWorkerPool.h"

TDWOperation::TDWOperation() = default;

TDWOperation::~TDWOperation() = default;

void TDWOperation::main()
{
}

bool TDWOperation::isConcurrent() const
{
    return false;
}

bool TDWOperation::mustNotBlockMainThread() const
{
    return false;
}

void TDWOperation::start()
{
    bool run;
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::Pending)
            return;
        run = !m_cancelled;
        if (run)
            m_state = State::Executing;
    }
    if (!run) {
        finish();
        return;
    }
    emit executingChanged(true);
    if (mustNotBlockMainThread() && TDWMainThread::isCurrent())
        TDWWorkerPool::shared().run([self = shared_from_this()] { self->runMain(); });
    else
        runMain();
}

void TDWOperation::runMain()
{
    bool threw = false;
    try {
        main();
    } catch (...) {
        threw = true;
        TDWUncaughtException::logCurrent(QStringLiteral("operation %1").arg(QString::fromLatin1(metaObject()->className())));
    }
    // An operation that threw can never finish itself; its waiters must not hang.
    if (threw || !isConcurrent())
        finish();
}

void TDWOperation::finish()
{
    // Removing the operation from its queue may drop the last other reference.
    const std::shared_ptr<TDWOperation> keepAlive = weak_from_this().lock();
    bool wasExecuting;
    std::function<void()> completion;
    std::function<void(TDWOperation *)> onFinish;
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::Finished)
            return;
        wasExecuting = m_state == State::Executing;
        m_state = State::Finished;
        completion = std::move(m_completion);
        m_completion = nullptr;
        onFinish = m_onFinish;
    }
    if (wasExecuting)
        emit executingChanged(false);
    emit finishedChanged(true);
    if (completion)
        completion();
    if (onFinish)
        onFinish(this);
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
        m_onCancel = nullptr;
        m_onFinish = nullptr;
    }
    m_doneCondition.notify_all();
}

void TDWOperation::cancel()
{
    if (m_cancelled.exchange(true))
        return;
    std::function<void(TDWOperation *)> onCancel;
    {
        std::lock_guard lock(m_mutex);
        onCancel = m_onCancel;
    }
    if (onCancel)
        onCancel(this);
}

bool TDWOperation::isCancelled() const
{
    return m_cancelled;
}

bool TDWOperation::isExecuting() const
{
    std::lock_guard lock(m_mutex);
    return m_state == State::Executing;
}

bool TDWOperation::isFinished() const
{
    std::lock_guard lock(m_mutex);
    return m_state == State::Finished;
}

void TDWOperation::setCompletionCallback(std::function<void()> callback)
{
    std::lock_guard lock(m_mutex);
    m_completion = std::move(callback);
}

void TDWOperation::waitUntilFinished()
{
    std::unique_lock lock(m_mutex);
    while (!m_done)
        m_doneCondition.wait(lock);
}

bool TDWOperation::attachToQueue(std::function<void(TDWOperation *)> onCancel, std::function<void(TDWOperation *)> onFinish)
{
    std::lock_guard lock(m_mutex);
    if (m_queued || m_state != State::Pending)
        return false;
    m_queued = true;
    m_onCancel = std::move(onCancel);
    m_onFinish = std::move(onFinish);
    return true;
}
