// Feeds arbitrary bytes to the text and data encodings. Whatever comes in,
// escaping must read back through unescaping, the ASCII form must be ASCII,
// Base64 must round-trip at any line length, and a digest read from hex must
// print back as the same hex. Any difference aborts, so the fuzzer reports it.

#include "common/MYSHA1Digest.h"
#include "common/TDWBase64.h"
#include "common/TDWHTMLEscaping.h"

#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// What escaping for ASCII HTML reads back as: broken surrogate pairs become
// replacement characters.
QString repaired(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += text[i];
            out += text[++i];
        } else {
            out += text[i].isSurrogate() ? QChar(QChar::ReplacementCharacter) : text[i];
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    // Raw UTF-16 units, so lone surrogates and every code unit occur.
    const QString text(reinterpret_cast<const QChar *>(bytes.constData()), bytes.size() / 2);
    const QString latin = QString::fromLatin1(bytes);
    for (const QString &s : {text, latin}) {
        check(TDWHTMLEscaping::gtm_stringByUnescapingFromHTML(TDWHTMLEscaping::gtm_stringByEscapingForHTML(s)) == s);
        const QString ascii = TDWHTMLEscaping::gtm_stringByEscapingForAsciiHTML(s);
        for (const QChar c : ascii)
            check(c.unicode() < 128);
        check(TDWHTMLEscaping::gtm_stringByUnescapingFromHTML(ascii) == repaired(s));
        const QString unescaped = TDWHTMLEscaping::gtm_stringByUnescapingFromHTML(s);
        check(unescaped.size() <= s.size());
    }

    TDWBase64::dataWithBase64EncodedString(latin);
    const uint lineLength = size ? data[0] % 80 : 0;
    check(TDWBase64::dataWithBase64EncodedString(TDWBase64::base64EncodingWithLineLength(bytes, lineLength)) == bytes);

    if (const auto digest = MYSHA1Digest::digestFromHexString(latin))
        check(digest->hexString() == latin.toUpper());
    return 0;
}
