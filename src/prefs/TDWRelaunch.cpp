#include "prefs/TDWRelaunch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <cerrno>
#include <csignal>

namespace {

// Alive, or a zombie not yet reaped by its parent (which no longer runs the program).
bool processRuns(qint64 pid)
{
    if (::kill(pid_t(pid), 0) != 0)
        return errno == EPERM;
    QFile status(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = status.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) != "Z";
}

} // namespace

bool TDWRelaunch::startNewInstance(const QString &program)
{
    return QProcess::startDetached(program, {WaitForPidOption, QString::number(QCoreApplication::applicationPid())});
}

std::optional<qint64> TDWRelaunch::waitForPidArgument(const QStringList &arguments)
{
    const qsizetype at = arguments.indexOf(WaitForPidOption);
    if (at < 0 || at + 1 >= arguments.size())
        return std::nullopt;
    bool ok = false;
    const qint64 pid = arguments.at(at + 1).toLongLong(&ok);
    if (!ok || pid <= 0)
        return std::nullopt;
    return pid;
}

int TDWRelaunch::waitBoundMs()
{
    bool ok = false;
    const int bound = qEnvironmentVariableIntValue("TDW_RESTART_WAIT_MS", &ok);
    return ok && bound > 0 ? bound : DefaultWaitMs;
}

bool TDWRelaunch::waitForExit(qint64 pid, int boundMs)
{
    const QDeadlineTimer deadline(boundMs);
    while (processRuns(pid)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}
