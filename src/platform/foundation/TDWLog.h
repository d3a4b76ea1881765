#pragma once

#include <QString>

#include <functional>

// The program's log: one line per event, to stderr and to the log file in the
// data folder. Engine failures are logged as lines that begin "ERROR: ".
// Callers never pass tokens or passwords.
namespace TDWLog {

// Writes one line (a trailing newline is added; embedded newlines are kept
// out of the file by replacing them with spaces).
void line(const QString &text);

// Writes one line to the log file and the observer only, never to the
// terminal: for notes worth finding in the log later that would only be noise
// to someone who started the program from a terminal.
void fileLine(const QString &text);

// Appends every later line to this file as well (created with its folder).
// An empty path stops writing to a file.
void setLogFile(const QString &path);
QString logFile();

// Lets tests observe the lines that are logged; an empty function removes it.
void setObserver(std::function<void(const QString &)> observer);

} // namespace TDWLog

// Shorthand used throughout the engine.
inline void tdwLog(const QString &text)
{
    TDWLog::line(text);
}
