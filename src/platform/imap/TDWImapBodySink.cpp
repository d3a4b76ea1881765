#include "platform/imap/TDWImapBodySink.h"

#include "platform/foundation/TDWSafeFileError.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/imap/TDWImapError.h"

#include <QDir>
#include <QFileInfo>

TDWImapBodySink::TDWImapBodySink(const QString &path)
    : m_path(path)
{
}

TDWImapBodySink::~TDWImapBodySink() = default;

void TDWImapBodySink::begin(qint64 size)
{
    m_started = true;
    m_expected = size;
    m_received = 0;
    m_data.clear();
    if (m_path.isEmpty()) {
        // Reserve only what is plausible; the announced size comes from the server.
        m_data.reserve(qsizetype(std::min<qint64>(size, 16 << 20)));
        return;
    }
    if (failed())
        return;
    if (!TDWPrivateFiles::makeFolder(QFileInfo(m_path).absolutePath())) {
        setFileError(TDWSafeFileError::make(TDWSafeFileError::NoSuchFile,
                                            QStringLiteral("Unable to create the folder of “%1”").arg(m_path)));
        return;
    }
    // A second body starts the file afresh.
    m_file.emplace(m_path, TDWPrivateFiles::FileMode);
    TDWError error;
    if (!m_file->open(&error))
        setFileError(error);
}

void TDWImapBodySink::write(const char *data, qint64 size)
{
    m_received += size;
    if (m_progress)
        m_progress(m_received, m_expected);
    if (m_path.isEmpty()) {
        m_data.append(data, qsizetype(size));
        return;
    }
    if (failed() || !m_file || !m_file->isOpen())
        return;
    TDWError error;
    if (!m_file->append(data, size, &error))
        setFileError(error);
}

bool TDWImapBodySink::commit(TDWError *error)
{
    if (!failed() && m_received == 0) {
        // BODY[] NIL, or a zero-length literal: the server has no content for
        // this message, and an empty file must never pass for its backup.
        m_error = TDWImapError::make(TDWImapError::NotFound, QStringLiteral("The server sent no content for the message."));
    }
    if (!failed() && m_file) {
        TDWError fileError;
        if (!m_file->commit(&fileError))
            setFileError(fileError);
    }
    if (failed())
        abort();
    tdwSetError(error, m_error);
    return !failed();
}

void TDWImapBodySink::abort()
{
    m_file.reset();
    m_data.clear();
    m_started = false;
}

void TDWImapBodySink::setFileError(const TDWError &fileError)
{
    if (failed())
        return;
    m_error = TDWImapError::make(TDWImapError::File, fileError.localizedDescription(), {{QStringLiteral("errno"), fileError.code()}});
}
