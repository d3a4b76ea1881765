#include "platform/imap/TDWImapModifiedUtf7.h"

#include <QByteArray>

namespace {

bool isModifiedBase64Char(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '+' || u == ',';
}

bool isWellFormedUtf16(QStringView units)
{
    for (qsizetype i = 0; i < units.size(); ++i) {
        if (units[i].isHighSurrogate() && i + 1 < units.size() && units[i + 1].isLowSurrogate())
            ++i;
        else if (units[i].isSurrogate())
            return false;
    }
    return true;
}

// Decodes the characters between "&" and "-"; false when they are no valid run.
bool decodeRun(QStringView run, QString *out)
{
    QByteArray b64;
    b64.reserve(run.size() + 3);
    for (QChar c : run) {
        if (!isModifiedBase64Char(c))
            return false;
        b64.append(c == u',' ? '/' : char(c.unicode()));
    }
    // A run of n characters carries 6n bits; one or four characters mod 4 cannot hold whole bytes.
    if (b64.size() % 4 == 1)
        return false;
    while (b64.size() % 4)
        b64.append('=');
    const auto decoded = QByteArray::fromBase64Encoding(b64, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty() || decoded.decoded.size() % 2)
        return false;
    const QByteArray &bytes = decoded.decoded;
    QString units;
    units.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i < bytes.size(); i += 2)
        units.append(QChar(char16_t((uchar(bytes[i]) << 8) | uchar(bytes[i + 1]))));
    // A lone or reversed surrogate is no character: it would turn into "?" on
    // the way to UTF-8, and two different names would then read the same.
    if (!isWellFormedUtf16(units))
        return false;
    out->append(units);
    return true;
}

void appendRun(QString *out, const QString &pending)
{
    QByteArray utf16;
    utf16.reserve(pending.size() * 2);
    for (QChar c : pending) {
        utf16.append(char(c.unicode() >> 8));
        utf16.append(char(c.unicode() & 0xff));
    }
    QByteArray b64 = utf16.toBase64(QByteArray::OmitTrailingEquals);
    b64.replace('/', ',');
    out->append(u'&');
    out->append(QString::fromLatin1(b64));
    out->append(u'-');
}

} // namespace

namespace TDWImapModifiedUtf7 {

QString decode(const QString &encoded, bool *allRunsValid)
{
    if (allRunsValid)
        *allRunsValid = true;
    QString out;
    out.reserve(encoded.size());
    qsizetype pos = 0;
    while (pos < encoded.size()) {
        const qsizetype amp = encoded.indexOf(u'&', pos);
        if (amp < 0)
            break;
        out.append(QStringView(encoded).mid(pos, amp - pos));
        const qsizetype dash = encoded.indexOf(u'-', amp + 1);
        if (dash < 0) {
            pos = amp;
            break;
        }
        if (dash == amp + 1) {
            out.append(u'&');
        } else {
            QString run;
            if (decodeRun(QStringView(encoded).mid(amp + 1, dash - amp - 1), &run)) {
                out.append(run);
            } else {
                if (allRunsValid)
                    *allRunsValid = false;
                out.append(u'&');
                pos = amp + 1;
                continue;
            }
        }
        pos = dash + 1;
    }
    out.append(QStringView(encoded).mid(pos));
    return out;
}

QString encode(const QString &decoded)
{
    QString out;
    QString pending;
    for (QChar c : decoded) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u <= 0x7e) {
            if (!pending.isEmpty()) {
                appendRun(&out, pending);
                pending.clear();
            }
            if (u == '&')
                out.append(QStringLiteral("&-"));
            else
                out.append(c);
        } else {
            pending.append(c);
        }
    }
    if (!pending.isEmpty())
        appendRun(&out, pending);
    return out;
}

} // namespace TDWImapModifiedUtf7
