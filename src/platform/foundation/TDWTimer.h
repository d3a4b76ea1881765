#pragma once

#include <QDateTime>

#include <chrono>
#include <functional>
#include <memory>

// A repeating timer with a date of its next firing, on the thread that made
// it: after each firing the next one is one interval later (firings missed
// while the machine slept are skipped, not caught up). Invalidated, it never
// fires again and moving its fire date does nothing. Code that must be tested
// without waiting takes a Factory; the program's is TDWRunLoopTimer::scheduled.
class TDWTimer
{
public:
    using Factory = std::function<std::unique_ptr<TDWTimer>(const QDateTime &fireDate, std::chrono::seconds interval, std::function<void()> action)>;

    virtual ~TDWTimer();

    virtual QDateTime fireDate() const = 0;
    virtual void setFireDate(const QDateTime &date) = 0;
    virtual std::chrono::seconds interval() const = 0;
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
};
