#include "services/TDWCurlPageFetch.h"

#include "platform/foundation/TDWClock.h"
#include "platform/http/TDWHttpEnvironment.h"
#include "platform/http/TDWHttpError.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <atomic>

namespace {

constexpr int PollMilliseconds = 100;
// curl ends itself at its "--max-time"; this is for a curl that does not.
constexpr std::chrono::seconds KillGrace{10};
const QByteArray AuthorizationPrefix = QByteArrayLiteral("Authorization: ");

} // namespace

TDWCurlPageFetch::Result TDWCurlPageFetch::fetch(const QString &url, const QByteArray &accessToken, const TDWHttpHostAllowlist &bearerHosts,
                                                 const QString &gdataVersion, const std::function<bool()> &cancelled)
{
    Request request;
    request.url = url;
    request.accessToken = accessToken;
    request.bearerHosts = bearerHosts;
    request.gdataVersion = gdataVersion;
    return run(request, cancelled);
}

TDWCurlPageFetch::Result TDWCurlPageFetch::run(const Request &request, const std::function<bool()> &cancelled)
{
    Result result;
    QProcess curl;
    curl.setProgram(CurlProgram);
    curl.setArguments(arguments(request));
    curl.start();
    if (!curl.waitForStarted()) {
        result.errorOutput = curl.errorString().toUtf8();
        return result;
    }
    curl.write(config(request));
    curl.closeWriteChannel();
    const qint64 killAfter = (TDWClock::duration(request.maxTime) + KillGrace).count();
    QElapsedTimer running;
    running.start();
    while (!curl.waitForFinished(PollMilliseconds)) {
        result.body += curl.readAllStandardOutput();
        result.errorOutput += curl.readAllStandardError();
        if (curl.state() == QProcess::NotRunning)
            break;
        if ((cancelled && cancelled()) || running.elapsed() > killAfter) {
            curl.kill();
            curl.waitForFinished();
            result.body.clear();
            return result;
        }
    }
    result.body += curl.readAllStandardOutput();
    result.errorOutput += curl.readAllStandardError();
    // The exit status is read only once the process has ended.
    if (curl.exitStatus() == QProcess::NormalExit)
        result.exitCode = curl.exitCode();
    if (result.exitCode == 0)
        result.statusCode = 200;
    else if (request.failOnHttpError)
        result.body.clear();
    return result;
}

std::shared_ptr<TDWAsyncOperation<TDWCurlPageFetch::Result>> TDWCurlPageFetch::operation(const Request &request, std::shared_ptr<const void> keep)
{
    using Operation = TDWAsyncOperation<Result>;
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    auto launch = Operation::onWorkerPool(
        [request, cancelled](const Operation::Progress &, TDWError *) { return run(request, [cancelled] { return cancelled->load(); }); });
    auto owner = std::make_shared<std::pair<std::shared_ptr<std::atomic<bool>>, std::shared_ptr<const void>>>(cancelled, std::move(keep));
    return std::make_shared<Operation>(owner, launch, [cancelled] { cancelled->store(true); },
                                       TDWHttpError::make(TDWHttpError::Cancelled));
}

QStringList TDWCurlPageFetch::arguments(const Request &request)
{
    QStringList arguments{QStringLiteral("--config"), QStringLiteral("-"), QStringLiteral("--silent"), QStringLiteral("--show-error")};
    if (request.failOnHttpError)
        arguments << QStringLiteral("--fail");
    arguments << QStringLiteral("--proto") << QStringLiteral("=https") << QStringLiteral("--max-redirs") << QStringLiteral("0")
              << QStringLiteral("--max-time") << maxTimeText(request);
    if (request.includeHeaders)
        arguments << QStringLiteral("-i");
    if (!request.outputFile.isEmpty())
        arguments << QStringLiteral("-o") << request.outputFile;
    if (!request.headerFile.isEmpty())
        arguments << QStringLiteral("-D") << request.headerFile;
    arguments << QStringLiteral("--url") << sentUrl(request);
    return arguments;
}

QByteArray TDWCurlPageFetch::config(const Request &request)
{
    QByteArray text;
    for (const QByteArray &header : headers(request))
        text += "header = " + quoted(header) + "\n";
    const TDWHttpEnvironment environment = TDWHttpEnvironment::fromProcessEnvironment();
    for (const QString &line : environment.connectTo())
        text += "connect-to = " + quoted(line.toUtf8()) + "\n";
    if (!environment.extraCaFile().isEmpty())
        text += "cacert = " + quoted(environment.extraCaFile().toUtf8()) + "\n";
    return text;
}

QString TDWCurlPageFetch::displayCommand(const Request &request)
{
    QStringList shown;
    for (const QByteArray &header : headers(request)) {
        shown << QStringLiteral("-H");
        shown << (header.startsWith(AuthorizationPrefix) ? QStringLiteral("Authorization: [REDACTED]") : QString::fromUtf8(header));
    }
    const QStringList real = arguments(request);
    // "--config" "-" stands first; the headers above are what it carries.
    for (qsizetype i = 2; i < real.size(); ++i) {
        const QString &argument = real.at(i);
        const bool isFile = i > 0 && (real.at(i - 1) == QLatin1String("-o") || real.at(i - 1) == QLatin1String("-D"));
        shown << (isFile ? QFileInfo(argument).fileName() : argument);
    }
    QString text = QFileInfo(CurlProgram).fileName();
    for (const QString &argument : std::as_const(shown))
        text += QStringLiteral(" \"%1\"").arg(argument);
    return text;
}

QString TDWCurlPageFetch::sentUrl(const Request &request)
{
    // Written out by the same parser that decides about the token, so that
    // curl cannot read another host out of an odd spelling.
    const QUrl url(request.url);
    return url.isValid() ? url.toString(QUrl::FullyEncoded) : request.url;
}

QList<QByteArray> TDWCurlPageFetch::headers(const Request &request)
{
    QList<QByteArray> headers;
    if (!request.accessToken.isEmpty() && request.bearerHosts.allows(QUrl(sentUrl(request))))
        headers << AuthorizationPrefix + "Bearer " + request.accessToken;
    if (!request.gdataVersion.isEmpty())
        headers << "GData-Version: " + request.gdataVersion.toUtf8();
    return headers;
}

QString TDWCurlPageFetch::maxTimeText(const Request &request)
{
    const qint64 milliseconds = TDWClock::duration(request.maxTime).count();
    if (milliseconds % 1000 == 0)
        return QString::number(milliseconds / 1000);
    return QString::number(double(milliseconds) / 1000.0, 'f', 3);
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
