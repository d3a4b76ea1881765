#pragma once

#include <QString>

#include <span>

// HTML character references: escaping text for HTML pages we write, and
// unescaping text that arrives with references in it.
class TDWHTMLEscaping
{
public:
    // One reference and the UTF-16 unit it stands for. Tables are sorted by
    // unit, without duplicates (the escaper searches them by halves).
    struct EscapeMapEntry
    {
        const char *escapeSequence;
        char16_t uchar;
    };

    // The five markup characters and the typographic marks of HTML (33 entries).
    static std::span<const EscapeMapEntry> unicodeHTMLEscapeMap();
    // Every named reference of HTML 4.01 and "&apos;" (253 entries).
    static std::span<const EscapeMapEntry> asciiHTMLEscapeMap();

    // Escapes with the short table; every other character stays as it is.
    static QString gtm_stringByEscapingForHTML(const QString &string);
    // Escapes with the full table and writes every other character above 127
    // as a decimal reference, one per code point ("&#128512;"), so the result
    // is plain ASCII. A lone surrogate becomes the replacement character's reference.
    static QString gtm_stringByEscapingForAsciiHTML(const QString &string);
    static QString gtm_stringByEscapingHTMLUsingTable(const QString &string, std::span<const EscapeMapEntry> table, bool escapingUnicode);

    // Replaces the named references of the full table (exact case) and the
    // numeric ones ("&#65;", "&#x42;", "&#X42;") of code points 1 to 0x10FFFF,
    // so whatever the escapers write reads back. A high-surrogate reference
    // directly followed by a low-surrogate one becomes the character the two
    // encode. Anything else (unknown names, a lone surrogate, no ";" before
    // the next "&", more than 10 characters from "&" to ";") stays as written.
    // One pass: "&amp;lt;" gives "&lt;".
    static QString gtm_stringByUnescapingFromHTML(const QString &string);
};
