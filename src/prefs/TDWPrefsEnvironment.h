#pragma once

#include <functional>

class TDWBackupScheduler;

// What the preferences act on beyond the settings file, handed over by the
// application's delegate at start-up: each may be empty (nothing to act on).
struct TDWPrefsEnvironment
{
    // The backup scheduler, or null before start-up has made it.
    std::function<TDWBackupScheduler *()> backupScheduler;
    std::function<bool()> recoveryInProgress;
    // Starting at login.
    std::function<bool()> inLoginItems;
    std::function<void()> addToLoginItems;
    std::function<void()> removeFromLoginItems;
    // Starts the new instance of a restart (TDWRelaunch); false when it could not.
    std::function<bool()> startNewInstance;
    // Quits for a restart: nothing is asked on the way out.
    std::function<void()> quitForRestart;
};
