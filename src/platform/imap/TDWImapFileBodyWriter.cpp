#include "platform/imap/TDWImapFileBodyWriter.h"

#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWSafeFileError.h"

#include <QFileInfo>

TDWImapFileBodyWriter::TDWImapFileBodyWriter(const QString &path)
    : m_path(path)
{
}

bool TDWImapFileBodyWriter::open(TDWError *error)
{
    if (!TDWPrivateFiles::makeFolder(QFileInfo(m_path).absolutePath())) {
        tdwSetError(error, TDWSafeFileError::make(TDWSafeFileError::NoSuchFile, QStringLiteral("Unable to create the folder of “%1”").arg(m_path)));
        return false;
    }
    m_file.emplace(m_path, TDWPrivateFiles::FileMode);
    return m_file->open(error);
}

bool TDWImapFileBodyWriter::append(const char *data, qint64 size, TDWError *error)
{
    return m_file && m_file->append(data, size, error);
}

bool TDWImapFileBodyWriter::commit(TDWError *error)
{
    return m_file && m_file->commit(error);
}

void TDWImapFileBodyWriter::abort()
{
    m_file.reset();
}
