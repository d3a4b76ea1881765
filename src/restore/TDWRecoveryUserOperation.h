#pragma once

#include "platform/foundation/TDWOperation.h"
#include "restore/TDWQueuedRecovery.h"

#include <QList>
#include <QString>

#include <memory>

class TDWOperationQueue;
class TDWRecoveryProgress;
class TDWRecoveryRelay;

// One restore request: copies the backed-up revisions the user picked into a
// destination, as files and folders or as mailbox folders. Runs on the
// application's restore queue; on a serial queue of its own it plans the
// items (TDWRecoverySchedulingOperation) and then runs their steps one after
// another. Its progress is what the status window shows.
//
// `dest`: with several top-level items (or in mailbox mode, the root mailbox
// folder) the folder that receives them; with one, the path that item takes.
class TDWRecoveryUserOperation : public TDWOperation
{
    Q_OBJECT

public:
    // On the main thread: the progress lives there. The store is read only
    // by the planning, on the request's own queue.
    TDWRecoveryUserOperation(QList<TDWQueuedRecovery> queuedRecoveries, const QString &dest, bool multipleTopLevel, const QString &title,
                             bool asMailbox, const QString &rootUUID);
    ~TDWRecoveryUserOperation() override;

    // Stops the request: the planning stops at its next item and no step not
    // yet begun runs. Safe from any thread.
    void cancel() override;
    bool mustNotBlockMainThread() const override { return true; }

    bool asMailbox() const { return m_asMailbox; }
    bool multipleTopLevel() const { return m_multipleTopLevel; }
    const QString &title() const { return m_title; }
    const QString &dest() const { return m_dest; }
    const std::shared_ptr<TDWRecoveryProgress> &progress() const;

protected:
    void main() override;

private:
    const QList<TDWQueuedRecovery> m_queuedRecoveries;
    const QString m_dest;
    const bool m_multipleTopLevel;
    const QString m_title;
    const bool m_asMailbox;
    const QString m_rootUUID;
    std::unique_ptr<TDWOperationQueue> m_opQueue;
    std::shared_ptr<TDWRecoveryRelay> m_relay;
};
