// Hostile contact entries through the vCard writer: the input's fields, split
// at NUL bytes, fill every value and attribute a contact entry carries (names,
// labels, rel values, dates, the photo's media type and bytes). Every card
// written must be one card of CR LF lines, and is read back by the
// reader the writer's own tests use (tests/services/check_vcards.py, served by
// Debian's python3-vobject). Any difference aborts, so the fuzzer reports it.
#include "FuzzWriterStack.h"
#include "services/TDWCardWriter.h"

#include <QRegularExpression>

namespace {

using fuzzwriters::check;

// Field text as XML character data or attribute value: characters XML cannot carry are left out.
QString xml(const QString &value)
{
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char32_t c = value.at(i).isHighSurrogate() && i + 1 < value.size() && value.at(i + 1).isLowSurrogate()
            ? QChar::surrogateToUcs4(value.at(i), value.at(i + 1))
            : value.at(i).unicode();
        const int units = c > 0xFFFF ? 2 : 1;
        if (c == U'&' || c == U'<' || c == U'>' || c == U'\'' || c == U'"' || c == U'\t' || c == U'\n' || c == U'\r')
            text += QStringLiteral("&#%1;").arg(quint32(c));
        else if (c >= 0x20 && !(c >= 0xD800 && c <= 0xDFFF) && c != 0xFFFE && c != 0xFFFF)
            text += value.mid(i, units);
        i += units - 1;
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzwriters::ensureApplication();
    static fuzzwriters::Stack stack(QStringLiteral("contacts"), QStringLiteral("check_vcards.py"));

    const QList<QByteArray> parts = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\0');
    const auto field = [&](int i) { return xml(QString::fromUtf8(parts.value(i))); };
    const QString gd = QStringLiteral("http://schemas.google.com/g/2005#");
    const QString entry =
        QStringLiteral("<entry><gd:name><gd:givenName>%1</gd:givenName><gd:familyName>%2</gd:familyName><gd:fullName>%3</gd:fullName>"
                       "<gd:nameSuffix>%4</gd:nameSuffix></gd:name>"
                       "<gd:organization><gd:orgName>%5</gd:orgName><gd:orgTitle>%6</gd:orgTitle></gd:organization>"
                       "<gd:email label='%7' address='%8'/><gd:email rel='%30%9' address='%8' primary='true'/>"
                       "<gd:phoneNumber rel='%30%10'>%11</gd:phoneNumber><gd:phoneNumber label='%7'>%11</gd:phoneNumber>"
                       "<gd:structuredPostalAddress rel='%30%12'><gd:street>%13</gd:street><gd:city>%14</gd:city></gd:structuredPostalAddress>"
                       "<gd:structuredPostalAddress label='%7'><gd:formattedAddress>%15</gd:formattedAddress></gd:structuredPostalAddress>")
            .arg(field(1), field(2), field(3), field(4), field(5), field(6), field(7), field(8), field(9))
            .arg(field(10), field(11), field(12), field(13), field(14), field(15))
            .replace(QStringLiteral("%30"), gd)
        + QStringLiteral("<gd:im address='%1' protocol='%3%2'/><gd:im address='%1'/>"
                         "<gContact:website href='%4' label='%5'/><gContact:website href='%4' rel='%6'/>"
                         "<gContact:birthday when='%7'/><gContact:event rel='%8'><gd:when startTime='%9'/></gContact:event>")
              .arg(field(16), field(17), gd, field(18), field(19), field(20), field(21), field(22), field(23))
        + QStringLiteral("<gContact:relation rel='%1'>%2</gContact:relation><gContact:userDefinedField key='%3' value='%4'/>"
                         "<content>%5</content></entry>")
              .arg(field(24), field(25), field(26), field(27), field(28));

    const TDWDocRev::Ptr rev = stack.revision(QStringLiteral("contact"), QStringLiteral("vcf"));
    rev->setTitle(QString::fromUtf8(parts.value(0)));
    rev->setXmlString(entry);
    const QString path = stack.onDisk(rev);

    TDWCardWriter writer(rev);
    if (parts.size() > 30)
        writer.setImageData(parts.value(30), QString::fromUtf8(parts.value(29)));
    if (writer.writeContactFile()) {
        const QByteArray card = fuzzwriters::readAll(path);
        check(card.startsWith("BEGIN:VCARD\r\nVERSION:3.0\r\n") && card.endsWith("\r\nEND:VCARD\r\n"), "not one card", card);
        check(fuzzwriters::wellEnded(card), "a line badly ended", card);
        // After the first line, a line is a property or the continuation of one; END:VCARD only last.
        static const QRegularExpression property(QStringLiteral("^[A-Za-z0-9.-]+[;:]"));
        const QStringList lines = QString::fromUtf8(card.chopped(2)).split(QStringLiteral("\r\n"));
        for (qsizetype i = 1; i < lines.size(); ++i) {
            check(lines[i].startsWith(u' ') || property.match(lines[i]).hasMatch(), "a line that is no property", card);
            check(i == lines.size() - 1 || (!lines[i].startsWith(QLatin1String("END:")) && !lines[i].startsWith(QLatin1String("BEGIN:"))),
                  "a card ended or begun within", card);
        }
        const QByteArray answer = stack.read(QFile::encodeName(path));
        check(answer == "ok", answer.constData(), card);
    }
    stack.remove(rev);
    return 0;
}
