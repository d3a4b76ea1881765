#pragma once

#include <QDateTime>

#include <chrono>
#include <functional>

// The program's sense of time, injectable so that tests can set the date and
// shrink every wait (time-outs, back-off pauses, timer intervals).
namespace TDWClock {

// The current instant in UTC, or what the test's provider says.
QDateTime now();

// Replaces the source of now(); an empty function restores the real clock.
void setNowProvider(std::function<QDateTime()> provider);

// Every timer duration in the program passes through here: the nominal
// duration times the scale, rounded, and never below 1 ms when the nominal
// one is positive (a zero interval would make repeating timers spin).
std::chrono::milliseconds duration(std::chrono::milliseconds nominal);

// 1.0 by default, or the value of TDW_TIME_SCALE at first use. Factors that
// are not finite and positive are ignored.
void setDurationScale(double factor);
double durationScale();

} // namespace TDWClock
