#include "platform/imap/TDWImapResponseReader.h"

#include "platform/imap/TDWImapBodySink.h"

#include <cstring>

namespace {

// Largest literal size accepted at all (1 TiB): beyond it the stream is garbage.
constexpr qint64 MaxLiteral = qint64(1) << 40;

// The position of the "{" of a literal announcement that ends `line`, or -1.
// A size too long to hold comes back as MaxLiteral + 1.
qsizetype literalStart(const QByteArray &line, qint64 *size)
{
    if (!line.endsWith('}'))
        return -1;
    const qsizetype open = line.lastIndexOf('{');
    if (open < 0)
        return -1;
    qsizetype end = line.size() - 1;
    if (end > open + 1 && line.at(end - 1) == '+')
        --end;
    if (end == open + 1)
        return -1;
    qint64 value = 0;
    for (qsizetype i = open + 1; i < end; ++i) {
        const char c = line.at(i);
        if (c < '0' || c > '9')
            return -1;
        value = std::min(value * 10 + (c - '0'), MaxLiteral + 1);
    }
    *size = value;
    return open;
}

// Whether the first line of a response is a status response or a continuation
// request ("* OK ...", "a1 NO ...", "+ ..."): their text runs to the end of the
// line, and a "{3}" there is text, never a literal announcement.
bool isTextResponse(const QByteArray &line)
{
    const qsizetype firstSpace = line.indexOf(' ');
    if (firstSpace < 0)
        return false;
    if (firstSpace == 1 && line.at(0) == '+')
        return true;
    qsizetype end = line.indexOf(' ', firstSpace + 1);
    if (end < 0)
        end = line.size();
    const QByteArray word = line.mid(firstSpace + 1, end - firstSpace - 1).toUpper();
    return word == "OK" || word == "NO" || word == "BAD" || word == "BYE" || word == "PREAUTH";
}

} // namespace

TDWImapResponseReader::TDWImapResponseReader() = default;

TDWImapResponseReader::TDWImapResponseReader(Limits limits)
    : m_limits(limits)
{
}

bool TDWImapResponseReader::isBetweenResponses() const
{
    return m_text.isEmpty() && m_line.isEmpty() && m_literalLeft == 0;
}

bool TDWImapResponseReader::feed(const char *data, qsizetype size)
{
    if (!m_error.isEmpty())
        return false;
    while (size > 0) {
        if (m_literalLeft > 0) {
            const qsizetype n = qsizetype(std::min<qint64>(m_literalLeft, size));
            if (m_literalSink)
                m_literalSink->write(data, n);
            else if (m_literalInline)
                m_text.append(data, n);
            else
                m_skipped += n;
            m_literalLeft -= n;
            data += n;
            size -= n;
            continue;
        }
        const char *newline = static_cast<const char *>(std::memchr(data, '\n', size_t(size)));
        const qsizetype chunk = newline ? newline - data : size;
        if (m_line.size() + chunk > m_limits.maxLine)
            return fail(QStringLiteral("The server sent a line longer than %1 bytes.").arg(m_limits.maxLine));
        m_line.append(data, chunk);
        if (!newline)
            return true;
        data += chunk + 1;
        size -= chunk + 1;
        if (m_line.endsWith('\r'))
            m_line.chop(1);
        if (!completeLine())
            return false;
    }
    return true;
}

bool TDWImapResponseReader::completeLine()
{
    qint64 literalSize = 0;
    const bool textOnly = m_text.isEmpty() && isTextResponse(m_line);
    const qsizetype open = textOnly ? -1 : literalStart(m_line, &literalSize);
    if (m_text.size() + m_line.size() > m_limits.maxResponse)
        return fail(QStringLiteral("The server sent a response longer than %1 bytes.").arg(m_limits.maxResponse));

    if (open < 0) {
        m_text.append(m_line);
        m_line.clear();
        const QByteArray text = std::exchange(m_text, QByteArray());
        const QList<TDWImapBodySink *> sinks = std::exchange(m_sinks, {});
        // A lone CRLF between responses carries nothing.
        if (!text.isEmpty() && m_handler)
            m_handler(text, sinks);
        return true;
    }
    if (literalSize > MaxLiteral)
        return fail(QStringLiteral("The server announced a literal of %1 bytes.").arg(literalSize));

    m_literalLeft = literalSize;
    m_literalSink = m_router ? m_router(m_text, m_line.left(open), literalSize) : nullptr;
    m_literalInline = !m_literalSink && literalSize <= m_limits.maxInlineLiteral
        && m_text.size() + m_line.size() + literalSize <= m_limits.maxResponse;
    if (m_literalInline) {
        m_text.append(m_line);
        m_text.append("\r\n");
    } else {
        m_text.append(m_line.left(open));
        m_text.append("NIL");
        if (m_literalSink) {
            m_literalSink->begin(literalSize);
            m_sinks.append(m_literalSink);
        }
    }
    m_line.clear();
    return true;
}

bool TDWImapResponseReader::fail(const QString &error)
{
    m_error = error;
    m_text.clear();
    m_line.clear();
    m_sinks.clear();
    m_literalLeft = 0;
    m_literalSink = nullptr;
    return false;
}
