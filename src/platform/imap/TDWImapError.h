#pragma once

#include "platform/foundation/TDWError.h"

// Errors of the IMAP layer: one code per kind of failure, and a description a
// user may read. Descriptions never hold tokens or command text.
namespace TDWImapError {

inline const QString Domain = QStringLiteral("TDWImapErrorDomain");
// The server's own text after NO or BAD, in the user info of CommandFailed errors.
inline const QString ServerTextKey = QStringLiteral("serverText");
// The response code (e.g. "AUTHENTICATIONFAILED", "THROTTLED") when the server sent one.
inline const QString ResponseCodeKey = QStringLiteral("responseCode");

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
    TooLarge = 12,       // a message body beyond the size the server listed, or beyond any message's
};

// The scope follows from the code: a failed connection, TLS, certificate,
// time-out, unreadable answer or unsupported setting reaches the connection;
// a refused sign-in is SignIn; a refused command (CommandFailed) its folder or
// request; a missing message, an unwritable file or an oversized body the item. The command that
// reads a refusal narrows it where it concerns one message.
TDWError make(Code code, const QString &description, QVariantMap userInfo = {});

} // namespace TDWImapError
