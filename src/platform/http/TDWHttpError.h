#pragma once

#include "platform/foundation/TDWError.h"

// Errors of the HTTP layer, for a request that got no HTTP answer to use: one
// domain, one code per kind of failure, and a description a user may read.
// An answer with any status code is not an error here; callers read the
// status and body of the response. Descriptions never hold headers or tokens.
class TDWHttpError
{
public:
    static inline const QString Domain = QStringLiteral("TDWHttpErrorDomain");
    // libcurl's or the file system's own words, when there are any; also in
    // brackets at the end of the description.
    static inline const QString DetailKey = QStringLiteral("detail");

    enum Code : qint64 {
        Timeout = 1,          // connect, idle or total time-out, or a download slower than its minimum rate
        Cancelled = 2,        // cancel() from another thread
        Tls = 3,              // handshake or certificate verification failed
        Resolve = 4,          // the host name could not be resolved
        Connect = 5,          // no connection to the host
        TooManyRedirects = 6, // more redirects than the request allows
        BadUrl = 7,           // not an http(s) URL, in the request or a redirect
        File = 8,             // the download file could not be written
        Network = 9,          // the connection broke or the answer was not HTTP
        TooLarge = 10,        // a body to keep in memory grew past the request's limit (after decoding)
    };

    static TDWError make(Code code, const QString &detail = {});
};
