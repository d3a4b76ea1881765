#pragma once

#include "platform/foundation/TDWError.h"

// Errors of the IMAP layer: one domain, one code per kind of failure, and a
// description a user may read. Descriptions never hold tokens or command text.
class TDWImapError
{
public:
    static inline const QString Domain = QStringLiteral("TDWImapErrorDomain");
    // The server's own text after NO or BAD, in the user info of CommandFailed errors.
    static inline const QString ServerTextKey = QStringLiteral("serverText");
    // The response code (e.g. "AUTHENTICATIONFAILED", "THROTTLED") when the server sent one.
    static inline const QString ResponseCodeKey = QStringLiteral("responseCode");

    enum Code : qint64 {
        Connection = 1,      // cannot reach the server, or it closed the connection
        TLS = 2,             // the TLS handshake failed for another reason than the certificate
        Certificate = 3,     // the server's certificate is not trusted or names another host
        Authentication = 4,  // the server refused the credentials
        Parse = 5,           // the server sent something this client cannot read
        Timeout = 6,         // no answer within the session's time-out
        Cancelled = 7,       // the operation was cancelled
        CommandFailed = 8,   // tagged NO or BAD
        NotFound = 9,        // the message asked for is not on the server
        Unsupported = 10,    // a setting this client does not offer
        File = 11,           // the local file could not be written
    };

    static TDWError make(Code code, const QString &description, const QVariantMap &extra = {});
};
