#pragma once

#include "platform/foundation/TDWOperation.h"
#include "restore/TDWQueuedRecovery.h"
#include "restore/TDWRecoveryProgress.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

class TDWManagedObjectContext;
class TDWRecoveryRelay;

// Plans one restore request on its serial queue: walks the items once,
// decides where each goes and under which name, makes folders, and then
// queues one step per file or mailbox. The counts of the plan reach the
// progress before any step is queued, so the window knows the whole of the
// request from its first report, and a plan with no step at all is reported
// as finished at once.
class TDWRecoverySchedulingOperation : public TDWOperation
{
    Q_OBJECT

public:
    // `dest`: the destination as the request resolved it (see
    // TDWRecoveryUserOperation); `rootUUID`: the root mailbox's in mailbox mode.
    TDWRecoverySchedulingOperation(std::shared_ptr<TDWRecoveryRelay> relay, QList<TDWQueuedRecovery> queuedRecoveries, const QString &dest,
                                   bool multipleTopLevel, bool asMailbox, const QString &rootUUID);

    const TDWRecoveryProgress::Plan &plan() const { return m_plan; }
    // Relative path of each mailbox folder made by the request -> its UUID.
    const QHash<QString, QString> &mailboxUUIDs() const { return m_mailboxUUIDs; }

protected:
    void main() override;

private:
    struct Item;
    // Plans one item: false when it has no backed-up revision.
    bool schedule(const TDWQueuedRecovery &recovery, TDWManagedObjectContext &moc);
    // The item's name, made unique in its folder within the request.
    QString uniqueName(const QString &prefixKey, const QString &name, const QString &extension);
    void scheduleFile(const Item &item);
    void scheduleMailbox(const Item &item);
    void scheduleMessage(const Item &item);

    const std::shared_ptr<TDWRecoveryRelay> m_relay;
    const QList<TDWQueuedRecovery> m_queuedRecoveries;
    const bool m_multipleTopLevel;
    const bool m_asMailbox;
    QString m_root;              // the folder every target lies in
    QStringList m_rootComponents; // the destination below m_root (its own name, for a single item)
    QString m_rootUUID;
    QHash<QString, QString> m_mailboxUUIDs;

    // Working values of the run.
    QSet<QString> m_usedKeys;
    TDWRecoveryProgress::Plan m_plan;
    qint64 m_messageNumber = 1;
    QList<std::shared_ptr<TDWOperation>> m_steps;
};
