#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct LogState
{
    std::mutex mutex;
    QString path;
    FILE *file = nullptr;
    std::function<void(const QString &)> observer;
};

LogState &state()
{
    static LogState s;
    return s;
}

} // namespace

namespace TDWLog {

namespace {

void write(const QString &text, bool toTerminal)
{
    QString flat = text;
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QByteArray utf8 = flat.toUtf8();
    const QByteArray stamped = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8() + ' ' + utf8 + '\n';

    LogState &s = state();
    std::function<void(const QString &)> observer;
    {
        std::lock_guard lock(s.mutex);
        if (toTerminal)
            std::fwrite(stamped.constData(), 1, size_t(stamped.size()), stderr);
        if (s.file) {
            std::fwrite(stamped.constData(), 1, size_t(stamped.size()), s.file);
            std::fflush(s.file);
        }
        observer = s.observer;
    }
    if (observer)
        observer(flat);
}

} // namespace

void line(const QString &text)
{
    write(text, true);
}

void fileLine(const QString &text)
{
    write(text, false);
}

void setLogFile(const QString &path)
{
    LogState &s = state();
    std::lock_guard lock(s.mutex);
    if (s.file) {
        std::fclose(s.file);
        s.file = nullptr;
    }
    s.path = path;
    if (path.isEmpty())
        return;
    TDWPrivateFiles::makeFolder(QFileInfo(path).absolutePath());
    // Private from the start: error bodies from the token endpoint are logged
    // as they come. A log left readable by an older version is made private too.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    ::fchmod(fd, 0600);
    s.file = ::fdopen(fd, "a");
    if (!s.file)
        ::close(fd);
}

QString logFile()
{
    LogState &s = state();
    std::lock_guard lock(s.mutex);
    return s.path;
}

void setObserver(std::function<void(const QString &)> observer)
{
    LogState &s = state();
    std::lock_guard lock(s.mutex);
    s.observer = std::move(observer);
}

} // namespace TDWLog
