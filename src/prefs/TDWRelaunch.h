#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Restarting the application: the new process is started directly (no
// shell) with the old one's process id, and waits, bounded, for the old one
// to have exited before it claims the single instance; otherwise it would
// only bring the dying instance forward and end.
class TDWRelaunch
{
public:
    static inline const QString WaitForPidOption = QStringLiteral("--wait-for-pid");
    // How long a restarted instance waits for the old one: DefaultWaitMs, or
    // the milliseconds in TDW_RESTART_WAIT_MS (tests).
    static constexpr int DefaultWaitMs = 30000;
    static int waitBoundMs();

    // Starts `program` detached, with "--wait-for-pid" and this process's id.
    static bool startNewInstance(const QString &program);
    // The process id after "--wait-for-pid" in the arguments, if any.
    static std::optional<qint64> waitForPidArgument(const QStringList &arguments);
    // Whether the process has exited (or was never there) within the bound.
    static bool waitForExit(qint64 pid, int boundMs);
};
