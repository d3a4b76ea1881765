#include "agent/TDWBackupSchedulerEnvironment.h"

#include "dataobjects/TDWDocRev.h"
#include "platform/foundation/TDWRunLoopTimer.h"
#include "platform/network/TDWHostReachability.h"
#include "platform/power/TDWLogindSleepWatcher.h"

TDWBackupSchedulerEnvironment TDWBackupSchedulerEnvironment::standard()
{
    TDWBackupSchedulerEnvironment environment;
    environment.reachability = std::make_unique<TDWHostReachability>(TDWDocRev::GoogleWebHost);
    environment.sleepNotices = std::make_unique<TDWLogindSleepWatcher>();
    environment.makeTimer = &TDWRunLoopTimer::scheduled;
    return environment;
}
