#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

class QCoreApplication;

namespace tdwtest {

// The application object main() makes, when a test program defines this: the
// application's tests run under the program's own class. Without it, a
// QCoreApplication (a QApplication in programs with widgets).
[[gnu::weak]] std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv);

// The private folder that this test program's XDG_* variables point into;
// main() makes it and sets it for the run.
QString sandboxRoot();
void setSandboxRoot(const QString &path);

// A fresh, empty folder inside the sandbox, removed at the end of the program.
QString freshDir(const QString &hint = QStringLiteral("dir"));

// Path of a file in the source tree, relative to its root ("tests/fixtures/x").
QString sourcePath(const QString &relative);

// Runs the event loop until `done` holds or `limit` has passed (a guard
// against hangs, not a timing check); answers whether `done` held.
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = std::chrono::seconds(60));

// Collects the log lines written while it lives.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    bool contains(const QString &fragment) const;

private:
    mutable std::mutex m_mutex;
    QStringList m_lines;
};

} // namespace tdwtest
