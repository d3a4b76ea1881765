#include "common/TDWBase64.h"

namespace {

constexpr char encodingTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of an alphabet character, or -1.
int valueOf(char16_t c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

QByteArray TDWBase64::dataWithBase64EncodedString(const QString &string)
{
    for (const QChar c : string)
        if (c.unicode() > 127)
            return {};
    QByteArray out;
    out.reserve(string.size() / 4 * 3);
    int quartet[4];
    int collected = 0;
    for (const QChar c : string) {
        if (c == QLatin1Char('=')) {
            // "=" closes the group where it stands, and the text with it.
            if (collected > 0) {
                const int second = collected > 1 ? quartet[1] : 0;
                out.append(char(quartet[0] << 2 | second >> 4));
                if (collected == 3)
                    out.append(char((second & 0x0f) << 4 | quartet[2] >> 2));
            }
            return out;
        }
        const int value = valueOf(c.unicode());
        if (value < 0)
            continue;
        quartet[collected++] = value;
        if (collected == 4) {
            out.append(char(quartet[0] << 2 | quartet[1] >> 4));
            out.append(char((quartet[1] & 0x0f) << 4 | quartet[2] >> 2));
            out.append(char((quartet[2] & 0x03) << 6 | quartet[3]));
            collected = 0;
        }
    }
    return out;
}

QString TDWBase64::base64Encoding(const QByteArray &data)
{
    return base64EncodingWithLineLength(data, 0);
}

QString TDWBase64::base64EncodingWithLineLength(const QByteArray &data, uint lineLength)
{
    QString out;
    const qsizetype length = data.size();
    out.reserve((length + 2) / 3 * 4 + (lineLength ? (length + 2) / 3 * 4 / lineLength + 1 : 0));
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    uint lineCount = 0;
    for (qsizetype i = 0; i < length; i += 3) {
        const qsizetype left = length - i;
        const uint group = uint(bytes[i]) << 16 | (left > 1 ? uint(bytes[i + 1]) << 8 : 0) | (left > 2 ? uint(bytes[i + 2]) : 0);
        out += QLatin1Char(encodingTable[group >> 18 & 0x3f]);
        out += QLatin1Char(encodingTable[group >> 12 & 0x3f]);
        out += left > 1 ? QLatin1Char(encodingTable[group >> 6 & 0x3f]) : QLatin1Char('=');
        out += left > 2 ? QLatin1Char(encodingTable[group & 0x3f]) : QLatin1Char('=');
        lineCount += 4;
        if (lineLength && lineCount >= lineLength) {
            out += QLatin1Char('\n');
            lineCount = 0;
        }
    }
    return out;
}
