#pragma once

// Evaluates the backup status of the accounts for the status menu and the
// main window. Made with no arguments and no work at creation; the
// application holds one for the whole run.
class TDWStatusMgr
{
public:
    TDWStatusMgr();
};
