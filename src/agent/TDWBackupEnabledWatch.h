#pragma once

#include "platform/notify/TDWNotificationCenter.h"

#include <QString>

#include <functional>
#include <memory>

// Stops a service's backup of one account when the user turns the service
// off or deletes the account while it runs: from creation until destruction
// it observes "accountUpdate" and "deletedAccount" and, for a notification
// about its account, calls `cancel` unless the account still has the service
// enabled. The notification centre does not wait for a handler already
// running on the main thread when a registration ends, so the destructor
// waits for it: `cancel` is never called after the watch is gone.
class TDWBackupEnabledWatch
{
public:
    TDWBackupEnabledWatch(QString username, QString service, std::function<void()> cancel);
    ~TDWBackupEnabledWatch();
    TDWBackupEnabledWatch(const TDWBackupEnabledWatch &) = delete;
    TDWBackupEnabledWatch &operator=(const TDWBackupEnabledWatch &) = delete;

    // Checks the account when the notification is about it.
    void checkDisabled(const TDWNotification &notification);
    // Calls `cancel` unless the account exists and has the service enabled.
    void checkBackupEnabled();

private:
    struct Observing;

    const QString m_username;
    const QString m_service;
    std::shared_ptr<Observing> m_observing;
};
