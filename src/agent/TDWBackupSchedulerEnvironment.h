#pragma once

#include "platform/foundation/TDWOperation.h"
#include "platform/foundation/TDWTimer.h"
#include "platform/network/TDWReachability.h"
#include "platform/power/TDWSleepNotices.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// What the backup scheduler stands on: the network and power layers, its
// timers, the operations it creates and the status it reads. The program's
// come from standard(); tests replace any of them.
struct TDWBackupSchedulerEnvironment
{
    std::unique_ptr<TDWReachability> reachability;
    std::unique_ptr<TDWSleepNotices> sleepNotices;
    TDWTimer::Factory makeTimer;
    // One backup run for the serial backup queue.
    std::function<std::shared_ptr<TDWOperation>()> makeBackupOperation;
    // The exclusion-rule update of these accounts (none given: all) and services, run on the caller's thread.
    std::function<std::shared_ptr<TDWOperation>(const std::optional<QStringList> &usernames, const QStringList &services)> makeRuleUpdate;
    // The recount of one account's service, run on the caller's thread.
    std::function<std::shared_ptr<TDWOperation>(const QString &username, const QString &service)> makeDownloadCountUpdate;
    // The global backup status (0 to 3); read on the main thread. The
    // application gives its status manager's.
    std::function<int()> globalStatus;

    // The program's: reachability of the Google web host over netlink, sleep
    // and wake from logind, run-loop timers and the engine's operations; no
    // global status.
    static TDWBackupSchedulerEnvironment standard();
};
