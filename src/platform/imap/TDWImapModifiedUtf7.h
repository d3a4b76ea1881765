#pragma once

#include <QString>

// Folder names on the wire are in the modified UTF-7 of RFC 3501 (section
// 5.1.3). Names are stored as the server writes them and decoded only for display.
namespace TDWImapModifiedUtf7 {

// The readable form. "&-" is "&"; a run that is not valid modified base64
// (no closing "-", a foreign character, an odd byte count) or not valid UTF-16
// (a lone or reversed surrogate) is kept as written, so a sloppy server name
// still shows instead of turning into garbage, and two such names stay apart.
// `allRunsValid`, when given, tells whether every "&...-" run was valid, for
// callers that would rather keep such a name whole; an "&" that no "-"
// closes is no run.
QString decode(const QString &encoded, bool *allRunsValid = nullptr);

// The wire form: printable ASCII stays, "&" becomes "&-", everything else goes
// into "&...-" runs of base64 (with "," for "/") over UTF-16BE.
QString encode(const QString &decoded);

} // namespace TDWImapModifiedUtf7
