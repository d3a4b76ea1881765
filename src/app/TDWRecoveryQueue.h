#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

class TDWOperation;
class TDWOperationQueue;
class TDWRecoveryUserOperation;

// The restores of the whole run: at most 4 at once, in a queue made with the
// application so that restores can be added at any time. "recovery_in_progress"
// and "recovery_complete" are posted as it becomes busy and idle again.
class TDWRecoveryQueue : public QObject
{
    Q_OBJECT

public:
    explicit TDWRecoveryQueue(QObject *parent = nullptr);
    ~TDWRecoveryQueue() override;

    void addOperation(const std::shared_ptr<TDWOperation> &operation);
    // A restore request with its status window; on the main thread.
    void addRecoveryOperation(const std::shared_ptr<TDWRecoveryUserOperation> &request);
    void addOperationWithBlock(std::function<void()> block);
    bool inProgress() const { return m_inProgress; }
    // Returns once every restore has ended; the event loop runs meanwhile.
    void waitUntilAllOperationsAreFinished();

private:
    void countChanged(int count);

    std::unique_ptr<TDWOperationQueue> m_queue;
    std::atomic<bool> m_inProgress = false;
};
