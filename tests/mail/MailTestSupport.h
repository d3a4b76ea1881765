#pragma once

// Readable gtest output for the Qt values the mail tests compare, and a wait
// that keeps the main thread's event loop turning.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>

#include <chrono>
#include <functional>
#include <ostream>

inline void PrintTo(const QString &value, std::ostream *os)
{
    *os << (value.isNull() ? std::string("(null)") : '"' + value.toStdString() + '"');
}

inline void PrintTo(const QStringList &value, std::ostream *os)
{
    *os << '[' << value.join(QStringLiteral(", ")).toStdString() << ']';
}

namespace mailtest {

// Runs the event loop until `done` holds or `limit` has passed (a guard
// against hangs, not a timing check); answers whether `done` held.
inline bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = std::chrono::seconds(60))
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

// A flag set as sorted text, for comparisons with readable failures.
inline QString sortedNames(const QSet<QString> &names)
{
    QStringList sorted(names.begin(), names.end());
    sorted.sort();
    return sorted.join(QLatin1Char(','));
}

} // namespace mailtest
