#pragma once

#include "platform/foundation/TDWAsyncOperation.h"
#include "platform/http/TDWHttpHostAllowlist.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

// Pages and files fetched by running /usr/bin/curl: for systems where the
// program's own HTTP layer misbehaves ("altRetrievalMethod"), and for the
// diagnostics, which show the user the commands they ran. Everything secret,
// the Authorization header above all, goes in a configuration read from
// curl's standard input ("--config -"), never on its command line or in its
// environment, where every local user could read the access token. The token
// goes only to a URL on the bearer allowlist; curl speaks only https, follows
// no redirects (a caller that follows one starts a new fetch, which decides
// afresh about the token) and stops at a deadline. The URL is passed with
// "--url", so that a remote link beginning with "-" is never read as an
// option. The HTTP layer's host map and extra CA (tests, the demo) are passed
// on as well.
class TDWCurlPageFetch
{
public:
    static inline const QString CurlProgram = QStringLiteral("/usr/bin/curl");
    static constexpr std::chrono::seconds MaxTime{60};

    struct Request
    {
        QString url;
        QByteArray accessToken;
        TDWHttpHostAllowlist bearerHosts;
        QString gdataVersion;
        // "--fail": an HTTP error status fails the run, with no body kept.
        bool failOnHttpError = true;
        // "-i": the response headers before the body on standard output.
        bool includeHeaders = false;
        // "-D" and "-o": files for the headers and the body instead of standard output.
        QString headerFile;
        QString outputFile;
        // Nominal; passed through TDWClock::duration.
        std::chrono::milliseconds maxTime = MaxTime;
    };

    struct Result
    {
        // 200 when curl ended with status 0, else -1 (an HTTP error, a time-out, no curl).
        int statusCode = -1;
        // curl's exit status; -1 when it could not be started, was killed or cancelled.
        int exitCode = -1;
        QByteArray body;
        QByteArray errorOutput;
    };

    // Runs curl to its end; `cancelled` is polled while it runs and kills it.
    static Result fetch(const QString &url, const QByteArray &accessToken, const TDWHttpHostAllowlist &bearerHosts,
                        const QString &gdataVersion, const std::function<bool()> &cancelled);
    static Result run(const Request &request, const std::function<bool()> &cancelled);
    // run() in the program's asynchronous form, on a thread of the worker
    // pool; cancel() kills curl within one poll (TDWHttpError::Cancelled).
    // `keep` (the files curl writes, say) lives until the operation is gone,
    // which is never before curl has ended.
    static std::shared_ptr<TDWAsyncOperation<Result>> operation(const Request &request, std::shared_ptr<const void> keep = {});

    // curl's command line: nothing secret on it.
    static QStringList arguments(const Request &request);
    // The configuration curl reads from its standard input.
    static QByteArray config(const Request &request);
    // The command as a report shows it: the program's name and each argument
    // in double quotes, with the headers of the configuration given as "-H"
    // options in place of "--config -", "Authorization: [REDACTED]" for the
    // token's, and the output files by their names alone.
    static QString displayCommand(const Request &request);

private:
    static QByteArray quoted(const QByteArray &value);
    static QString sentUrl(const Request &request);
    static QString maxTimeText(const Request &request);
    static QList<QByteArray> headers(const Request &request);
};
