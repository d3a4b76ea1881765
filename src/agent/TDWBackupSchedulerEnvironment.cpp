#include "agent/TDWBackupSchedulerEnvironment.h"

#include "agent/TDWBackupOperation.h"
#include "agent/TDWDownloadCountUpdateOperation.h"
#include "agent/TDWRuleUpdateOperation.h"
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
    environment.makeBackupOperation = [] { return std::make_shared<TDWBackupOperation>(); };
    environment.makeRuleUpdate = [](const std::optional<QStringList> &usernames, const QStringList &services) {
        return std::make_shared<TDWRuleUpdateOperation>(usernames, services);
    };
    environment.makeDownloadCountUpdate = [](const QString &username, const QString &service) {
        return std::make_shared<TDWDownloadCountUpdateOperation>(username, service);
    };
    return environment;
}
