#include "app/TDWMonitorApp.h"

#include "platform/foundation/TDWLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace {
// How long quit() gives the monitor to end before leaving it to itself.
constexpr int QuitWaitMs = 3000;
} // namespace

QString TDWMonitorApp::defaultProgram()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tidewell-monitor"));
}

TDWMonitorApp::TDWMonitorApp(QString program, QObject *parent)
    : QObject(parent)
    , m_program(std::move(program))
{
}

TDWMonitorApp::~TDWMonitorApp()
{
    quit();
}

void TDWMonitorApp::launch()
{
    if (isRunning())
        return;
    const QFileInfo info(m_program);
    if (!info.isFile() || !info.isExecutable())
        return;
    delete m_process;
    m_process = new QProcess(this);
    m_process->setProgram(m_program);
    m_process->setProcessChannelMode(QProcess::ForwardedChannels);
    m_process->start();
    if (!m_process->waitForStarted()) {
        tdwLog(QStringLiteral("ERROR: Unable to launch monitor app: %1").arg(m_process->errorString()));
        delete m_process;
        m_process = nullptr;
    }
}

void TDWMonitorApp::quit()
{
    if (!isRunning())
        return;
    m_process->terminate();
    // Not finishing in time is harmless: the monitor has been told and ends
    // on its own; it is not killed, so it can put its own state away.
    m_process->waitForFinished(QuitWaitMs);
}

bool TDWMonitorApp::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

qint64 TDWMonitorApp::processId() const
{
    return isRunning() ? m_process->processId() : 0;
}
