#pragma once

#include <QByteArray>
#include <QString>

// A trace of the exchanges with the servers (HTTP and IMAP) in the log, for
// finding what went wrong in the field. Off unless TDW_WIRE_TRACE=1 is set when
// the program starts. Every traced text passes through maskSecrets() first, so
// tokens and passwords stay out of the log even then.
namespace TDWWireTrace {

bool isEnabled();
// For tests; overrides the environment.
void setEnabled(bool enabled);

// Logs `text` as sent to (`sent`) or received from `peer`, masked, one log line
// per line of text ("WIRE <peer> > line" or "WIRE <peer> < line"). Text past
// the first 4 KiB is left out and only counted.
void record(const QString &peer, bool sent, const QByteArray &text);

// `text` with the values of credentials replaced by "***": Authorization and
// Cookie header values (after an Authorization scheme name), the values of
// access_token, refresh_token, id_token, client_secret, code, code_verifier and
// password in query strings, form bodies and JSON, and the arguments of IMAP
// AUTHENTICATE (after the mechanism name) and LOGIN commands.
QByteArray maskSecrets(const QByteArray &text);

} // namespace TDWWireTrace
