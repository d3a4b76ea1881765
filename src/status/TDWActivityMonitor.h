#pragma once

// The registry of what the backups are doing, per account, for the activity
// window. Made empty once the store is open; the application holds it for the whole run.
class TDWActivityMonitor
{
public:
    TDWActivityMonitor();
};
