#pragma once

#include <QByteArray>
#include <QFile>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <unistd.h>

namespace mailtest {

// The peak resident memory of this process from construction on, by the
// kernel's own count (VmHWM, reset through clear_refs). Meanwhile a guard
// ends the process once its resident memory passes `abortAboveKiB`, so that a
// client that regresses to holding what a hostile server sends cannot take
// the memory of everything else on the machine.
class PeakMemory
{
public:
    explicit PeakMemory(qint64 abortAboveKiB = qint64(1) << 20)
    {
        QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
        m_available = clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
        m_guard = std::thread([this, abortAboveKiB] {
            while (!m_stop) {
                const qint64 resident = statusKiB("VmRSS:");
                if (resident > abortAboveKiB) {
                    std::fprintf(stderr, "resident memory reached %lld KiB: ended before it takes the machine's\n", static_cast<long long>(resident));
                    ::_exit(1);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }

    ~PeakMemory()
    {
        m_stop = true;
        m_guard.join();
    }

    PeakMemory(const PeakMemory &) = delete;
    PeakMemory &operator=(const PeakMemory &) = delete;

    // Whether the peak could be reset, so that peakKiB() counts from construction.
    bool isAvailable() const { return m_available; }
    qint64 peakKiB() const { return statusKiB("VmHWM:"); }

    // A field of /proc/self/status in KiB ("VmRSS:", "VmHWM:"); -1 when unreadable.
    static qint64 statusKiB(const char *field)
    {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith(field))
                return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
        return -1;
    }

private:
    bool m_available = false;
    std::atomic<bool> m_stop = false;
    std::thread m_guard;
};

} // namespace mailtest
