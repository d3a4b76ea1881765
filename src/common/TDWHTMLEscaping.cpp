#include "common/TDWHTMLEscaping.h"

#include <QHash>

#include <algorithm>

namespace {

using Entry = TDWHTMLEscaping::EscapeMapEntry;

constexpr Entry gUnicodeHTMLEscapeMap[] = {
    {"&quot;", 34}, {"&amp;", 38}, {"&apos;", 39}, {"&lt;", 60}, {"&gt;", 62}, {"&OElig;", 338},
    {"&oelig;", 339}, {"&Scaron;", 352}, {"&scaron;", 353}, {"&Yuml;", 376}, {"&circ;", 710}, {"&tilde;", 732},
    {"&ensp;", 8194}, {"&emsp;", 8195}, {"&thinsp;", 8201}, {"&zwnj;", 8204}, {"&zwj;", 8205}, {"&lrm;", 8206},
    {"&rlm;", 8207}, {"&ndash;", 8211}, {"&mdash;", 8212}, {"&lsquo;", 8216}, {"&rsquo;", 8217}, {"&sbquo;", 8218},
    {"&ldquo;", 8220}, {"&rdquo;", 8221}, {"&bdquo;", 8222}, {"&dagger;", 8224}, {"&Dagger;", 8225}, {"&permil;", 8240},
    {"&lsaquo;", 8249}, {"&rsaquo;", 8250}, {"&euro;", 8364},
};

constexpr Entry gAsciiHTMLEscapeMap[] = {
    {"&quot;", 34}, {"&amp;", 38}, {"&apos;", 39}, {"&lt;", 60}, {"&gt;", 62}, {"&nbsp;", 160},
    {"&iexcl;", 161}, {"&cent;", 162}, {"&pound;", 163}, {"&curren;", 164}, {"&yen;", 165}, {"&brvbar;", 166},
    {"&sect;", 167}, {"&uml;", 168}, {"&copy;", 169}, {"&ordf;", 170}, {"&laquo;", 171}, {"&not;", 172},
    {"&shy;", 173}, {"&reg;", 174}, {"&macr;", 175}, {"&deg;", 176}, {"&plusmn;", 177}, {"&sup2;", 178},
    {"&sup3;", 179}, {"&acute;", 180}, {"&micro;", 181}, {"&para;", 182}, {"&middot;", 183}, {"&cedil;", 184},
    {"&sup1;", 185}, {"&ordm;", 186}, {"&raquo;", 187}, {"&frac14;", 188}, {"&frac12;", 189}, {"&frac34;", 190},
    {"&iquest;", 191}, {"&Agrave;", 192}, {"&Aacute;", 193}, {"&Acirc;", 194}, {"&Atilde;", 195}, {"&Auml;", 196},
    {"&Aring;", 197}, {"&AElig;", 198}, {"&Ccedil;", 199}, {"&Egrave;", 200}, {"&Eacute;", 201}, {"&Ecirc;", 202},
    {"&Euml;", 203}, {"&Igrave;", 204}, {"&Iacute;", 205}, {"&Icirc;", 206}, {"&Iuml;", 207}, {"&ETH;", 208},
    {"&Ntilde;", 209}, {"&Ograve;", 210}, {"&Oacute;", 211}, {"&Ocirc;", 212}, {"&Otilde;", 213}, {"&Ouml;", 214},
    {"&times;", 215}, {"&Oslash;", 216}, {"&Ugrave;", 217}, {"&Uacute;", 218}, {"&Ucirc;", 219}, {"&Uuml;", 220},
    {"&Yacute;", 221}, {"&THORN;", 222}, {"&szlig;", 223}, {"&agrave;", 224}, {"&aacute;", 225}, {"&acirc;", 226},
    {"&atilde;", 227}, {"&auml;", 228}, {"&aring;", 229}, {"&aelig;", 230}, {"&ccedil;", 231}, {"&egrave;", 232},
    {"&eacute;", 233}, {"&ecirc;", 234}, {"&euml;", 235}, {"&igrave;", 236}, {"&iacute;", 237}, {"&icirc;", 238},
    {"&iuml;", 239}, {"&eth;", 240}, {"&ntilde;", 241}, {"&ograve;", 242}, {"&oacute;", 243}, {"&ocirc;", 244},
    {"&otilde;", 245}, {"&ouml;", 246}, {"&divide;", 247}, {"&oslash;", 248}, {"&ugrave;", 249}, {"&uacute;", 250},
    {"&ucirc;", 251}, {"&uuml;", 252}, {"&yacute;", 253}, {"&thorn;", 254}, {"&yuml;", 255}, {"&OElig;", 338},
    {"&oelig;", 339}, {"&Scaron;", 352}, {"&scaron;", 353}, {"&Yuml;", 376}, {"&fnof;", 402}, {"&circ;", 710},
    {"&tilde;", 732}, {"&Alpha;", 913}, {"&Beta;", 914}, {"&Gamma;", 915}, {"&Delta;", 916}, {"&Epsilon;", 917},
    {"&Zeta;", 918}, {"&Eta;", 919}, {"&Theta;", 920}, {"&Iota;", 921}, {"&Kappa;", 922}, {"&Lambda;", 923},
    {"&Mu;", 924}, {"&Nu;", 925}, {"&Xi;", 926}, {"&Omicron;", 927}, {"&Pi;", 928}, {"&Rho;", 929},
    {"&Sigma;", 931}, {"&Tau;", 932}, {"&Upsilon;", 933}, {"&Phi;", 934}, {"&Chi;", 935}, {"&Psi;", 936},
    {"&Omega;", 937}, {"&alpha;", 945}, {"&beta;", 946}, {"&gamma;", 947}, {"&delta;", 948}, {"&epsilon;", 949},
    {"&zeta;", 950}, {"&eta;", 951}, {"&theta;", 952}, {"&iota;", 953}, {"&kappa;", 954}, {"&lambda;", 955},
    {"&mu;", 956}, {"&nu;", 957}, {"&xi;", 958}, {"&omicron;", 959}, {"&pi;", 960}, {"&rho;", 961},
    {"&sigmaf;", 962}, {"&sigma;", 963}, {"&tau;", 964}, {"&upsilon;", 965}, {"&phi;", 966}, {"&chi;", 967},
    {"&psi;", 968}, {"&omega;", 969}, {"&thetasym;", 977}, {"&upsih;", 978}, {"&piv;", 982}, {"&ensp;", 8194},
    {"&emsp;", 8195}, {"&thinsp;", 8201}, {"&zwnj;", 8204}, {"&zwj;", 8205}, {"&lrm;", 8206}, {"&rlm;", 8207},
    {"&ndash;", 8211}, {"&mdash;", 8212}, {"&lsquo;", 8216}, {"&rsquo;", 8217}, {"&sbquo;", 8218}, {"&ldquo;", 8220},
    {"&rdquo;", 8221}, {"&bdquo;", 8222}, {"&dagger;", 8224}, {"&Dagger;", 8225}, {"&bull;", 8226}, {"&hellip;", 8230},
    {"&permil;", 8240}, {"&prime;", 8242}, {"&Prime;", 8243}, {"&lsaquo;", 8249}, {"&rsaquo;", 8250}, {"&oline;", 8254},
    {"&frasl;", 8260}, {"&euro;", 8364}, {"&image;", 8465}, {"&weierp;", 8472}, {"&real;", 8476}, {"&trade;", 8482},
    {"&alefsym;", 8501}, {"&larr;", 8592}, {"&uarr;", 8593}, {"&rarr;", 8594}, {"&darr;", 8595}, {"&harr;", 8596},
    {"&crarr;", 8629}, {"&lArr;", 8656}, {"&uArr;", 8657}, {"&rArr;", 8658}, {"&dArr;", 8659}, {"&hArr;", 8660},
    {"&forall;", 8704}, {"&part;", 8706}, {"&exist;", 8707}, {"&empty;", 8709}, {"&nabla;", 8711}, {"&isin;", 8712},
    {"&notin;", 8713}, {"&ni;", 8715}, {"&prod;", 8719}, {"&sum;", 8721}, {"&minus;", 8722}, {"&lowast;", 8727},
    {"&radic;", 8730}, {"&prop;", 8733}, {"&infin;", 8734}, {"&ang;", 8736}, {"&and;", 8743}, {"&or;", 8744},
    {"&cap;", 8745}, {"&cup;", 8746}, {"&int;", 8747}, {"&there4;", 8756}, {"&sim;", 8764}, {"&cong;", 8773},
    {"&asymp;", 8776}, {"&ne;", 8800}, {"&equiv;", 8801}, {"&le;", 8804}, {"&ge;", 8805}, {"&sub;", 8834},
    {"&sup;", 8835}, {"&nsub;", 8836}, {"&sube;", 8838}, {"&supe;", 8839}, {"&oplus;", 8853}, {"&otimes;", 8855},
    {"&perp;", 8869}, {"&sdot;", 8901}, {"&lceil;", 8968}, {"&rceil;", 8969}, {"&lfloor;", 8970}, {"&rfloor;", 8971},
    {"&lang;", 9001}, {"&rang;", 9002}, {"&loz;", 9674}, {"&spades;", 9824}, {"&clubs;", 9827}, {"&hearts;", 9829},
    {"&diams;", 9830},
};

static_assert(std::size(gUnicodeHTMLEscapeMap) == 33);
static_assert(std::size(gAsciiHTMLEscapeMap) == 253);

// Longest reference considered, from "&" to ";" ("&thetasym;", "&#x10FFFF;").
constexpr qsizetype maxReferenceLength = 10;

constexpr char32_t noCharacter = 0;

bool isHexDigit(char16_t c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The code point that a numeric reference's digits name, or noCharacter when
// they are not all digits of the base or name no code point (0, above
// 0x10FFFF). Surrogates are returned for the caller to pair.
char32_t numericValue(QStringView digits, int base)
{
    if (digits.isEmpty())
        return noCharacter;
    char32_t value = 0;
    for (const QChar c : digits) {
        const char16_t u = c.unicode();
        if (base == 16 ? !isHexDigit(u) : !(u >= '0' && u <= '9'))
            return noCharacter;
        value = value * base + char32_t(u <= '9' ? u - '0' : (u | 0x20) - 'a' + 10);
        if (value > 0x10FFFF)
            return noCharacter;
    }
    return value;
}

const QHash<QString, char16_t> &namedReferences()
{
    static const QHash<QString, char16_t> map = [] {
        QHash<QString, char16_t> m;
        for (const Entry &e : gAsciiHTMLEscapeMap)
            m.insert(QString::fromLatin1(e.escapeSequence), e.uchar);
        return m;
    }();
    return map;
}

// The character a reference ("&...;" inclusive) stands for, or noCharacter.
char32_t referenceValue(QStringView reference)
{
    const qsizetype length = reference.size();
    if (length <= 3 || length > maxReferenceLength)
        return noCharacter;
    if (reference[1] == QLatin1Char('#')) {
        if (reference[2] == QLatin1Char('x') || reference[2] == QLatin1Char('X'))
            return numericValue(reference.sliced(3, length - 4), 16);
        return numericValue(reference.sliced(2, length - 3), 10);
    }
    return namedReferences().value(reference.toString(), noCharacter);
}

// The end (one past ";") of the reference that begins at `amp`, or -1 when no
// ";" comes before the next "&".
qsizetype referenceEnd(const QString &s, qsizetype amp)
{
    for (qsizetype i = amp + 1; i < s.size(); ++i) {
        if (s[i] == QLatin1Char(';'))
            return i + 1;
        if (s[i] == QLatin1Char('&'))
            return -1;
    }
    return -1;
}

} // namespace

std::span<const TDWHTMLEscaping::EscapeMapEntry> TDWHTMLEscaping::unicodeHTMLEscapeMap()
{
    return gUnicodeHTMLEscapeMap;
}

std::span<const TDWHTMLEscaping::EscapeMapEntry> TDWHTMLEscaping::asciiHTMLEscapeMap()
{
    return gAsciiHTMLEscapeMap;
}

QString TDWHTMLEscaping::gtm_stringByEscapingForHTML(const QString &string)
{
    return gtm_stringByEscapingHTMLUsingTable(string, gUnicodeHTMLEscapeMap, false);
}

QString TDWHTMLEscaping::gtm_stringByEscapingForAsciiHTML(const QString &string)
{
    return gtm_stringByEscapingHTMLUsingTable(string, gAsciiHTMLEscapeMap, true);
}

QString TDWHTMLEscaping::gtm_stringByEscapingHTMLUsingTable(const QString &string, std::span<const EscapeMapEntry> table, bool escapingUnicode)
{
    if (string.isEmpty())
        return string;
    QString out;
    out.reserve(string.size());
    const qsizetype length = string.size();
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t unit = string[i].unicode();
        const auto found = std::lower_bound(table.begin(), table.end(), unit, [](const Entry &e, char16_t u) { return e.uchar < u; });
        if (found != table.end() && found->uchar == unit) {
            out += QLatin1String(found->escapeSequence);
            continue;
        }
        if (!escapingUnicode || unit <= 127) {
            out += QChar(unit);
            continue;
        }
        // One reference per code point: a reference to half a surrogate pair
        // reads back as a replacement character, not as the character.
        char32_t codePoint = unit;
        if (QChar::isHighSurrogate(unit) && i + 1 < length && string[i + 1].isLowSurrogate())
            codePoint = QChar::surrogateToUcs4(unit, string[++i].unicode());
        else if (QChar::isSurrogate(unit))
            codePoint = QChar::ReplacementCharacter;
        out += QStringLiteral("&#%1;").arg(uint(codePoint));
    }
    return out;
}

QString TDWHTMLEscaping::gtm_stringByUnescapingFromHTML(const QString &string)
{
    if (!string.contains(QLatin1Char('&')))
        return string;
    QString out;
    out.reserve(string.size());
    qsizetype i = 0;
    while (i < string.size()) {
        const qsizetype amp = string.indexOf(QLatin1Char('&'), i);
        if (amp < 0) {
            out += QStringView(string).sliced(i);
            break;
        }
        out += QStringView(string).sliced(i, amp - i);
        const qsizetype end = referenceEnd(string, amp);
        if (end < 0) {
            // No reference here: keep the "&" and read on from the next one.
            out += QLatin1Char('&');
            i = amp + 1;
            continue;
        }
        const QStringView reference = QStringView(string).sliced(amp, end - amp);
        const char32_t value = referenceValue(reference);
        i = end;
        if (value == noCharacter || QChar::isLowSurrogate(value)) {
            out += reference;
        } else if (QChar::isHighSurrogate(value)) {
            // Text that wrote a character as the two halves of its UTF-16
            // form: join them when the low half's reference follows at once.
            const qsizetype lowEnd = end < string.size() && string[end] == QLatin1Char('&') ? referenceEnd(string, end) : -1;
            const char32_t low = lowEnd < 0 ? noCharacter : referenceValue(QStringView(string).sliced(end, lowEnd - end));
            if (QChar::isLowSurrogate(low)) {
                out += QChar(char16_t(value));
                out += QChar(char16_t(low));
                i = lowEnd;
            } else {
                out += reference;
            }
        } else {
            out += QChar::fromUcs4(value);
        }
    }
    return out;
}
