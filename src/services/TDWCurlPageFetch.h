#pragma once

#include "platform/http/TDWHttpHostAllowlist.h"

#include <QByteArray>
#include <QString>

#include <functional>

// One list page fetched by running /usr/bin/curl, for systems where the
// program's own HTTP layer misbehaves ("altRetrievalMethod"). Everything curl
// is told, the Authorization header above all, goes in a configuration read
// from its standard input ("-K -"), never on its command line, where every
// local user could read the access token. The token goes only to a URL on the
// bearer allowlist, and curl follows no redirects. The HTTP layer's host map
// and extra CA (tests, the demo) are passed on as well.
class TDWCurlPageFetch
{
public:
    static inline const QString CurlProgram = QStringLiteral("/usr/bin/curl");
    static constexpr int MaxTimeSeconds = 60;

    struct Result
    {
        // 200 when curl ended with status 0, else -1 (an HTTP error, a time-out, no curl).
        int statusCode = -1;
        QByteArray body;
    };

    // Runs curl to its end; `cancelled` is polled while it runs and kills it.
    static Result fetch(const QString &url, const QByteArray &accessToken, const TDWHttpHostAllowlist &bearerHosts,
                        const QString &gdataVersion, const std::function<bool()> &cancelled);
    // The configuration curl reads from its standard input.
    static QByteArray config(const QString &url, const QByteArray &accessToken, const TDWHttpHostAllowlist &bearerHosts,
                             const QString &gdataVersion);

private:
    static QByteArray quoted(const QByteArray &value);
};
