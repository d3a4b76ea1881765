#include "services/TDWCardCalWriter.h"

#include "platform/foundation/TDWFileLock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWSafeFile.h"

#include <QFileInfo>

namespace {

const QString EscapedLineBreak = QStringLiteral("\\n");

QString &replaceLineBreaks(QString &text)
{
    return text.replace(QStringLiteral("\r\n"), EscapedLineBreak)
        .replace(QLatin1Char('\r'), EscapedLineBreak)
        .replace(QLatin1Char('\n'), EscapedLineBreak);
}

} // namespace

QString TDWCardCalWriter::valueOrBlank(const QString &value)
{
    return value.isNull() ? QStringLiteral("") : value;
}

QString TDWCardCalWriter::escape(const QString &value)
{
    QString text = valueOrBlank(value);
    // Backslashes first, so that the ones the later steps add stay single.
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return replaceLineBreaks(text).replace(QLatin1Char(';'), QStringLiteral("\\;")).replace(QLatin1Char(','), QStringLiteral("\\,"));
}

QString TDWCardCalWriter::withoutLineBreaks(const QString &value)
{
    QString text = valueOrBlank(value);
    return replaceLineBreaks(text);
}

QString TDWCardCalWriter::parameterValue(const QString &value)
{
    QString text;
    bool needsQuotes = false;
    for (const QChar c : value) {
        if (c.category() == QChar::Other_Control || c == u'"')
            continue;
        needsQuotes = needsQuotes || c == u';' || c == u':' || c == u',';
        text += c;
    }
    return needsQuotes ? u'"' + text + u'"' : valueOrBlank(text);
}

void TDWCardCalWriter::addLine(const QString &line)
{
    const qsizetype length = line.size();
    qsizetype position = 0;
    while (position < length) {
        qsizetype count = FoldLength;
        if (position + count >= length) {
            m_contents += QStringView(line).mid(position);
            break;
        }
        // A fold never falls right after a backslash (an escape pair stays on
        // one line) nor inside a surrogate pair (one character stays whole).
        while (position + count < length) {
            const QChar last = line.at(position + count - 1);
            if (last != QLatin1Char('\\') && !last.isHighSurrogate())
                break;
            ++count;
        }
        m_contents += QStringView(line).mid(position, count);
        position += count;
        if (position < length)
            m_contents += QStringLiteral("\r\n ");
    }
    m_contents += QStringLiteral("\r\n");
}

void TDWCardCalWriter::addICalendarHeader()
{
    addLine(QStringLiteral("BEGIN:VCALENDAR"));
    addLine(QStringLiteral("PRODID:") + ICalendarProductId);
    addLine(QStringLiteral("METHOD:PUBLISH"));
    addLine(QStringLiteral("VERSION:2.0"));
    addLine(QStringLiteral("CALSCALE:GREGORIAN"));
}

void TDWCardCalWriter::appendUnfolded(const QString &text)
{
    m_contents += text;
}

bool TDWCardCalWriter::writeContents(const QString &path, TDWError *error) const
{
    return TDWSafeFile::write(path, m_contents.toUtf8(), error, TDWPrivateFiles::FileMode);
}

bool TDWCardCalWriter::replaceBackupFile(const QString &path, TDWError *error) const
{
    if (QFileInfo::exists(path)) {
        TDWFileLock::setLocked(path, false);
        tdwLog(QStringLiteral("Backup file already exists at %1. Replacing it.").arg(path));
    }
    return writeContents(path, error);
}
