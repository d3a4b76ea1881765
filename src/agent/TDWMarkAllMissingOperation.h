#pragma once

#include "platform/foundation/TDWOperation.h"

class TDWBackupScheduler;

// Starting over with a new, empty backup folder: every backed-up revision of
// every account and service is marked missing (export status 4) without
// looking, "allmissing" is posted for the item lists, and a backup is asked
// for at once to fetch the latest revisions again. Queued on the restore queue.
class TDWMarkAllMissingOperation : public TDWOperation
{
    Q_OBJECT

public:
    // Revisions are changed this many at a time, each batch in a fresh context.
    static constexpr qsizetype BatchSize = 1000;

    explicit TDWMarkAllMissingOperation(TDWBackupScheduler &scheduler);

protected:
    void main() override;

private:
    void markAllMissing();

    TDWBackupScheduler &m_scheduler;
};
