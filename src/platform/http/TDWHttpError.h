#pragma once

#include "platform/foundation/TDWError.h"

// Errors of the HTTP layer, for a request that got no HTTP answer to use: one
// code per kind of failure, and a description a user may read. An answer with
// any status code is not an error here; callers read the status and body of
// the response, and turn a status they did not want into an error with
// TDWHttpResponse::statusError(). Descriptions never hold headers or tokens.
namespace TDWHttpError {

inline const QString Domain = QStringLiteral("TDWHttpErrorDomain");
// libcurl's or the file system's own words, when there are any; also in
// brackets at the end of the description.
inline const QString DetailKey = QStringLiteral("detail");

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
    TooLarge = 10,        // a body grew past the request's limit, in memory or on its way to the download file (after decoding)
    Mismatch = 11,        // a downloaded body is not the size or digest the caller expected
    Status = 12,          // an answer with a status the caller did not want (TDWHttpResponse::statusError)
};

// The description is the code's own sentence, with `detail` in brackets. The
// scope follows from the code: no way to the server (time-out, TLS, name,
// connection, a broken answer) reaches the connection; a bad address, too many
// redirects or too large an answer the request; an unwritable file or a body
// other than expected the item.
TDWError make(Code code, const QString &detail = {});

} // namespace TDWHttpError
