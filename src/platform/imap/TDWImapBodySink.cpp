#include "platform/imap/TDWImapBodySink.h"

#include "platform/imap/TDWImapError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

TDWImapBodySink::TDWImapBodySink(const QString &path, bool syncToDisk)
    : m_path(path), m_sync(syncToDisk)
{
}

TDWImapBodySink::~TDWImapBodySink()
{
    discardTemporary();
}

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
    if (m_fd >= 0) {
        if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0)
            setFileError(QStringLiteral("Unable to restart"), errno);
        return;
    }
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath())) {
        setFileError(QStringLiteral("Unable to create the folder of"), ENOENT);
        return;
    }
    QByteArray pattern = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".part-XXXXXX"));
    m_fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (m_fd < 0) {
        setFileError(QStringLiteral("Unable to create a temporary file for"), errno);
        return;
    }
    ::fchmod(m_fd, 0644);
    m_temporaryPath = pattern;
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
    if (failed() || m_fd < 0)
        return;
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            setFileError(QStringLiteral("Unable to write"), errno);
            return;
        }
        data += n;
        size -= n;
    }
}

bool TDWImapBodySink::commit(TDWError *error)
{
    if (m_path.isEmpty() || failed()) {
        tdwSetError(error, m_error);
        return !failed();
    }
    if (m_fd < 0) {
        // No body arrived: nothing to put in place.
        return true;
    }
    if (m_sync && ::fsync(m_fd) != 0) {
        setFileError(QStringLiteral("Unable to flush"), errno);
    } else if (::close(m_fd) != 0) {
        m_fd = -1;
        setFileError(QStringLiteral("Unable to close"), errno);
    } else {
        m_fd = -1;
        if (::rename(m_temporaryPath.constData(), QFile::encodeName(m_path).constData()) != 0)
            setFileError(QStringLiteral("Unable to rename the temporary file to"), errno);
        else
            m_temporaryPath.clear();
    }
    discardTemporary();
    tdwSetError(error, m_error);
    return !failed();
}

void TDWImapBodySink::abort()
{
    discardTemporary();
    m_data.clear();
    m_started = false;
}

void TDWImapBodySink::setFileError(const QString &what, int errorNumber)
{
    if (failed())
        return;
    m_error = TDWImapError::make(TDWImapError::File,
                                 QStringLiteral("%1 “%2”: %3").arg(what, m_path, QString::fromLocal8Bit(std::strerror(errorNumber))));
}

void TDWImapBodySink::discardTemporary()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporaryPath.isEmpty()) {
        ::unlink(m_temporaryPath.constData());
        m_temporaryPath.clear();
    }
}
