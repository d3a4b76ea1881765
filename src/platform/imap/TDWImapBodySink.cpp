#include "platform/imap/TDWImapBodySink.h"

#include "platform/imap/TDWImapError.h"
#include "platform/imap/TDWImapFileBodyWriter.h"

#include <algorithm>

namespace {

// Reserved at most up front for a body in memory: the announced size comes from the server.
constexpr qint64 MaximumReserve = qint64(16) << 20;
// Over the listed size: a sixteenth, and at least this much for small messages.
constexpr qint64 MinimumSlack = qint64(64) << 10;

} // namespace

qint64 TDWImapBodySink::allowedSize(qint64 listedSize)
{
    const qint64 listed = std::clamp<qint64>(listedSize, 0, MaximumSize);
    return std::min(listed + std::max(listed / 16, MinimumSlack), MaximumSize);
}

TDWImapBodySink::TDWImapBodySink() = default;

TDWImapBodySink::TDWImapBodySink(const QString &path)
    : TDWImapBodySink(std::make_unique<TDWImapFileBodyWriter>(path))
{
}

TDWImapBodySink::TDWImapBodySink(std::unique_ptr<TDWImapBodyWriter> writer)
    : m_writer(std::move(writer))
{
}

TDWImapBodySink::~TDWImapBodySink()
{
    abort();
}

void TDWImapBodySink::setListedSize(qint64 size)
{
    m_listed = size;
    if (m_started && !accepts(m_expected))
        refuse(m_expected);
}

bool TDWImapBodySink::accepts(qint64 size) const
{
    return size <= (m_listed >= 0 ? allowedSize(m_listed) : MaximumSize);
}

void TDWImapBodySink::begin(qint64 size)
{
    if (m_writerOpen) {
        // A second body starts afresh.
        m_writer->abort();
        m_writerOpen = false;
    }
    m_started = true;
    m_expected = size;
    m_received = 0;
    m_data.clear();
    if (!accepts(size)) {
        refuse(size);
        return;
    }
    if (failed())
        return;
    if (!m_writer) {
        m_data.reserve(qsizetype(std::min(size, MaximumReserve)));
        return;
    }
    TDWError error;
    m_writerOpen = m_writer->open(&error);
    if (!m_writerOpen)
        setWriterError(error);
}

void TDWImapBodySink::write(const char *data, qint64 size)
{
    m_received += size;
    if (m_progress)
        m_progress(m_received, m_expected);
    if (failed())
        return;
    if (!m_writer) {
        m_data.append(data, qsizetype(size));
        return;
    }
    TDWError error;
    if (m_writerOpen && !m_writer->append(data, size, &error))
        setWriterError(error);
}

bool TDWImapBodySink::commit(TDWError *error)
{
    if (!failed() && m_received == 0) {
        // BODY[] NIL, or a zero-length literal: the server has no content for
        // this message, and an empty file must never pass for its backup.
        m_error = TDWImapError::make(TDWImapError::NotFound, QStringLiteral("The server sent no content for the message."));
    }
    if (!failed() && m_writer) {
        TDWError writerError;
        if (m_writer->commit(&writerError))
            m_writerOpen = false;
        else
            setWriterError(writerError);
    }
    if (failed())
        abort();
    tdwSetError(error, m_error);
    return !failed();
}

void TDWImapBodySink::abort()
{
    if (m_writerOpen) {
        m_writer->abort();
        m_writerOpen = false;
    }
    m_data = QByteArray();
    m_started = false;
}

void TDWImapBodySink::refuse(qint64 size)
{
    abort();
    if (failed())
        return;
    const QString description = m_listed >= 0
        ? QStringLiteral("The server announced a message of %1 bytes but listed it at %2 bytes.").arg(size).arg(m_listed)
        : QStringLiteral("The server announced a message of %1 bytes; at most %2 bytes are accepted for one message.").arg(size).arg(MaximumSize);
    m_error = TDWImapError::make(TDWImapError::TooLarge, description);
}

void TDWImapBodySink::setWriterError(const TDWError &writerError)
{
    if (failed())
        return;
    m_error = TDWImapError::make(TDWImapError::File, writerError.localizedDescription(), {{QStringLiteral("errno"), writerError.code()}});
}
