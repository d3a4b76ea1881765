#include "DemoServers.h"

#include "TestSupport.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

namespace demotest {

namespace {
const QStringList ProgramVariables = {QStringLiteral("TDW_HOST_MAP"), QStringLiteral("TDW_EXTRA_CA"),
                                      QStringLiteral("TDW_AUTHORIZATION_URL")};
}

bool DemoServers::start()
{
    m_folder = QDir(tdwtest::freshDir(QStringLiteral("demo"))).filePath(QStringLiteral("servers"));
    if (!run({QStringLiteral("start"), m_folder}))
        return false;
    QProcess shell;
    shell.start(QStringLiteral("bash"),
                {QStringLiteral("-c"),
                 QStringLiteral("source \"$1\" && for n in TDW_HOST_MAP TDW_EXTRA_CA TDW_AUTHORIZATION_URL IMAP_PORT IMAP_CONTROL_PORT GOOGLE_HTTP_PORT; "
                                "do printf '%s=%s\\n' \"$n\" \"${!n}\"; done"),
                 QStringLiteral("bash"), QDir(m_folder).filePath(QStringLiteral("servers.env"))});
    if (!shell.waitForFinished(30000) || shell.exitCode() != 0) {
        ADD_FAILURE() << "servers.env could not be read";
        return false;
    }
    for (const QByteArray &line : shell.readAllStandardOutput().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            m_values.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
    }
    return true;
}

void DemoServers::stop()
{
    if (!m_folder.isEmpty())
        run({QStringLiteral("stop"), m_folder});
    m_folder.clear();
}

void DemoServers::exportProgramEnvironment() const
{
    for (const QString &name : ProgramVariables)
        qputenv(name.toLatin1().constData(), value(name).toUtf8());
}

QString DemoServers::imapHostname() const
{
    return QStringLiteral("127.0.0.1:") + value(QStringLiteral("IMAP_PORT"));
}

bool DemoServers::run(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(tdwtest::sourcePath(QStringLiteral("tools/demo/servers.sh")), arguments);
    if (!process.waitForFinished(180000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << "servers.sh " << arguments.join(QLatin1Char(' ')).toStdString() << " failed";
        return false;
    }
    return true;
}

} // namespace demotest
