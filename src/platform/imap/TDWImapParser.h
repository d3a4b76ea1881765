#pragma once

#include "platform/imap/TDWImapParseError.h"
#include "platform/imap/TDWImapResponse.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QVariant>

#include <optional>

// The IMAP response grammar as free functions over one response and an offset.
// A response is its text without the final CRLF, with every literal inline as
// "{n}\r\n" followed by its n bytes. Each reader starts at `pos`, moves it past
// what it read and throws TDWImapParseError when the text does not fit.
// The readers accept what real servers send beyond the letter of RFC 3501:
// flags as list items ("\Inbox"), "[" and "]" in unquoted names ("[Gmail]/Sent"),
// non-synchronising literals ("{n+}") and spaces before the end of a line.
namespace TDWImapParser {

// The whole response; unknown untagged responses come back as Kind::Other.
TDWImapResponse parseResponse(const QByteArray &line);

void skipSpaces(const QByteArray &line, qsizetype &pos);
bool atEnd(const QByteArray &line, qsizetype pos);
// An atom, a flag ("\Seen") or an unquoted name ("[Gmail]/All"); never empty.
QByteArray readAtom(const QByteArray &line, qsizetype &pos);
// Digits only, at most `max`.
quint64 readNumber(const QByteArray &line, qsizetype &pos, quint64 max);
// "..." with \\ and \" escapes.
QByteArray readQuoted(const QByteArray &line, qsizetype &pos);
// {n}\r\n or {n+}\r\n followed by n bytes.
QByteArray readLiteral(const QByteArray &line, qsizetype &pos);
// NIL (no value), a quoted string or a literal.
std::optional<QByteArray> readNString(const QByteArray &line, qsizetype &pos);
// An atom, a quoted string or a literal.
QByteArray readAString(const QByteArray &line, qsizetype &pos);
// "(" astring* ")" ; NIL counts as an empty list.
QList<QByteArray> readAStringList(const QByteArray &line, qsizetype &pos);
// Any value: a list (QVariantList), a string or atom (QByteArray) or NIL (null QVariant).
QVariant readValue(const QByteArray &line, qsizetype &pos);

// INTERNALDATE text: "17-Jul-1996 02:44:25 -0700" (the day may be space-padded).
std::optional<QDateTime> parseInternalDate(const QByteArray &text);

// TDWImapMessageFlag bits of a FLAGS list; keywords other than the standard ones are left out.
int messageFlagsFromList(const QList<QByteArray> &flags);
// TDWImapFolderFlag bits of LIST/XLIST attributes.
int folderFlagsFromAttributes(const QList<QByteArray> &attributes);

} // namespace TDWImapParser
