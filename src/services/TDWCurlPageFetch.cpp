#include "services/TDWCurlPageFetch.h"

#include "platform/http/TDWHttpEnvironment.h"

#include <QProcess>
#include <QUrl>

namespace {

constexpr int PollMilliseconds = 100;

} // namespace

TDWCurlPageFetch::Result TDWCurlPageFetch::fetch(const QString &url, const QByteArray &accessToken, const TDWHttpHostAllowlist &bearerHosts,
                                                 const QString &gdataVersion, const std::function<bool()> &cancelled)
{
    Result result;
    QProcess curl;
    curl.setProgram(CurlProgram);
    curl.setArguments({QStringLiteral("-K"), QStringLiteral("-")});
    curl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    curl.start();
    if (!curl.waitForStarted())
        return result;
    curl.write(config(url, accessToken, bearerHosts, gdataVersion));
    curl.closeWriteChannel();
    QByteArray body;
    while (!curl.waitForFinished(PollMilliseconds)) {
        body += curl.readAllStandardOutput();
        if (curl.state() == QProcess::NotRunning)
            break;
        if (cancelled && cancelled()) {
            curl.kill();
            curl.waitForFinished();
            return result;
        }
    }
    body += curl.readAllStandardOutput();
    // The exit status is read only once the process has ended.
    if (curl.exitStatus() == QProcess::NormalExit && curl.exitCode() == 0) {
        result.statusCode = 200;
        result.body = body;
    }
    return result;
}

QByteArray TDWCurlPageFetch::config(const QString &url, const QByteArray &accessToken, const TDWHttpHostAllowlist &bearerHosts,
                                    const QString &gdataVersion)
{
    QByteArray text = "fail\nsilent\nshow-error\nmax-time = " + QByteArray::number(MaxTimeSeconds) + "\n";
    if (!accessToken.isEmpty() && bearerHosts.allows(QUrl(url)))
        text += "header = " + quoted("Authorization: Bearer " + accessToken) + "\n";
    if (!gdataVersion.isEmpty())
        text += "header = " + quoted("GData-Version: " + gdataVersion.toUtf8()) + "\n";
    const TDWHttpEnvironment environment = TDWHttpEnvironment::fromProcessEnvironment();
    for (const QString &line : environment.connectTo())
        text += "connect-to = " + quoted(line.toUtf8()) + "\n";
    if (!environment.extraCaFile().isEmpty())
        text += "cacert = " + quoted(environment.extraCaFile().toUtf8()) + "\n";
    text += "url = " + quoted(url.toUtf8()) + "\n";
    return text;
}

QByteArray TDWCurlPageFetch::quoted(const QByteArray &value)
{
    QByteArray text = "\"";
    for (const char c : value) {
        if (c == '"' || c == '\\')
            text += '\\';
        // A line break would end the option and start another one.
        if (c == '\n' || c == '\r')
            continue;
        text += c;
    }
    return text + "\"";
}
