#pragma once

#include <QByteArray>
#include <QString>

// Standard Base64 (A-Z a-z 0-9 + /, "=" padding) with the exact line rules
// that written files (contact photos) and decoded mail parts rely on.
class TDWBase64
{
public:
    // Decodes leniently: every byte outside the alphabet is skipped, the
    // first "=" ends the text, and an incomplete last group without "=" is
    // dropped. Text with any non-ASCII character (and a null string) gives
    // empty data.
    static QByteArray dataWithBase64EncodedString(const QString &string);

    static QString base64Encoding(const QByteArray &data);
    // After each 4-character group, once the current line holds `lineLength`
    // characters or more, a line feed follows (0: no line feeds). Lines are
    // therefore whole groups, and a text whose length is a multiple of the
    // line length ends with a line feed.
    static QString base64EncodingWithLineLength(const QByteArray &data, uint lineLength);
};
