#include "mail/TDWMessageFileWriter.h"

#include "mail/TDWMessageFile.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWSafeFileError.h"

#include <algorithm>
#include <utility>

namespace {

// The header block kept at most: a message without an empty line is all header.
constexpr qsizetype MaximumHead = 1 << 20;

} // namespace

TDWMessageFileWriter::TDWMessageFileWriter(const QString &path, qint64 flagWord)
    : m_path(path)
    , m_flagWord(flagWord)
{
}

TDWMessageFileWriter::~TDWMessageFileWriter() = default;

bool TDWMessageFileWriter::open(TDWError *error)
{
    m_length = 0;
    m_carriageReturnPending = false;
    m_head.clear();
    m_headComplete = false;
    m_file.emplace(m_path, TDWPrivateFiles::FileMode);
    // Filled in at the end; every length a message may have gives a line of this size.
    const QByteArray placeholder = TDWMessageFile::countLine(0);
    return m_file->open(error) && m_file->append(placeholder.constData(), placeholder.size(), error);
}

bool TDWMessageFileWriter::append(const char *data, qint64 size, TDWError *error)
{
    QByteArray chunk;
    chunk.reserve(qsizetype(size) + 1);
    if (std::exchange(m_carriageReturnPending, false))
        chunk.append('\r');
    chunk.append(data, qsizetype(size));
    if (chunk.endsWith('\r')) {
        m_carriageReturnPending = true;
        chunk.chop(1);
    }
    return appendConverted(std::move(chunk), error);
}

bool TDWMessageFileWriter::appendConverted(QByteArray chunk, TDWError *error)
{
    TDWMessageFile::convertLineEnds(chunk);
    if (!m_headComplete) {
        const qsizetype searchFrom = std::max<qsizetype>(0, m_head.size() - 1);
        m_head.append(chunk.left(MaximumHead - m_head.size()));
        m_headComplete = m_head.startsWith('\n') || m_head.indexOf("\n\n", searchFrom) >= 0 || m_head.size() >= MaximumHead;
    }
    m_length += chunk.size();
    return m_file && m_file->append(chunk.constData(), chunk.size(), error);
}

bool TDWMessageFileWriter::commit(TDWError *error)
{
    if (!m_file)
        return false;
    // A CR at the very end is no line end.
    if (std::exchange(m_carriageReturnPending, false) && !appendConverted("\r", error))
        return false;
    const QByteArray properties = TDWMessageFile::propertyList(m_head, m_flagWord, error);
    if (properties.isEmpty())
        return false;
    const QByteArray count = TDWMessageFile::countLine(m_length);
    if (count.size() != TDWMessageFile::countLine(0).size()) {
        m_file.reset();
        tdwSetError(error, TDWSafeFileError::make(TDWSafeFileError::TooLarge, QStringLiteral("The message for “%1” is too large.").arg(m_path)));
        return false;
    }
    const bool written = m_file->append(properties.constData(), properties.size(), error) && m_file->overwrite(0, count.constData(), count.size(), error)
        && m_file->commit(error);
    m_file.reset();
    m_head = QByteArray();
    return written;
}

void TDWMessageFileWriter::abort()
{
    m_file.reset();
    m_head = QByteArray();
}
