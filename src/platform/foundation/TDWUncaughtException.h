#pragma once

#include <QString>

// Where a thread's work is run (the event loop, an operation on a worker), an
// exception nothing else caught ends that piece of work, not the program: it
// is logged there and the thread goes on with the next.
namespace TDWUncaughtException {

// Logs the exception being handled, on one line: its type's name and its
// reason, and where it was caught ("the event loop"). Call only inside a
// catch block.
void logCurrent(const QString &where);

// "TDWTestException: Something went wrong", or the name alone for an
// exception that carries no reason. Call only inside a catch block.
QString describeCurrent();

} // namespace TDWUncaughtException
