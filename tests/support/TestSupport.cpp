#include "TestSupport.h"

#include "platform/foundation/TDWLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QUuid>

namespace tdwtest {

namespace {
QString g_sandboxRoot;
} // namespace

QString sandboxRoot()
{
    return g_sandboxRoot;
}

void setSandboxRoot(const QString &path)
{
    g_sandboxRoot = path;
}

QString freshDir(const QString &hint)
{
    const QString path = QDir(sandboxRoot()).filePath(QStringLiteral("tmp/%1-%2").arg(hint, QUuid::createUuid().toString(QUuid::WithoutBraces)));
    QDir().mkpath(path);
    return path;
}

QString sourcePath(const QString &relative)
{
    return QDir(qEnvironmentVariable("TDW_SOURCE_ROOT", QStringLiteral(TDW_SOURCE_ROOT_FALLBACK))).filePath(relative);
}

bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
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

LogCapture::LogCapture()
{
    TDWLog::setObserver([this](const QString &line) {
        std::lock_guard lock(m_mutex);
        m_lines << line;
    });
}

LogCapture::~LogCapture()
{
    TDWLog::setObserver({});
}

QStringList LogCapture::lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

bool LogCapture::contains(const QString &fragment) const
{
    std::lock_guard lock(m_mutex);
    for (const QString &line : m_lines)
        if (line.contains(fragment))
            return true;
    return false;
}

} // namespace tdwtest
