#include "platform/foundation/TDWSafeFile.h"

#include "platform/foundation/TDWSafeFileError.h"
#include "platform/foundation/TDWTestKillPoint.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char TemporaryMarker[] = ".tdw-";

bool writeAll(int fd, const char *at, qint64 left)
{
    while (left > 0) {
        const ssize_t n = ::write(fd, at, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        at += n;
        left -= n;
    }
    return true;
}

// Creates a new, unique file beside the target. open() lets the kernel apply
// the umask, as for any new file (mkstemp would force 0600).
int createTemporary(const QByteArray &prefix, mode_t mode, QByteArray *name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = prefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        const int fd = ::open(name->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

TDWSafeFile::TDWSafeFile(QString path, int mode)
    : m_path(std::move(path)), m_mode(mode)
{
}

TDWSafeFile::~TDWSafeFile()
{
    abort();
}

bool TDWSafeFile::open(TDWError *error)
{
    abort();
    QFileInfo info(m_path);
    if (info.isSymLink())
        info = QFileInfo(info.symLinkTarget());
    m_target = QFile::encodeName(info.absoluteFilePath());
    m_folder = QFile::encodeName(info.absolutePath());

    struct stat existing;
    const bool replacing = ::stat(m_target.constData(), &existing) == 0;
    if (replacing && S_ISDIR(existing.st_mode))
        return fail(error, "it is a folder", EISDIR);
    m_keepMode = (replacing && m_mode == DefaultMode) ? int(existing.st_mode & 07777) : -1;
    const mode_t createMode = m_mode != DefaultMode ? mode_t(m_mode) : m_keepMode >= 0 ? mode_t(m_keepMode) : 0666;

    // A dot name keeps half-written files out of folder listings.
    m_fd = createTemporary(m_folder + "/." + QFile::encodeName(info.fileName()) + TemporaryMarker, createMode, &m_temporary);
    if (m_fd < 0) {
        const int err = errno;
        m_temporary.clear();
        return fail(error, "create", err);
    }
    // The umask may have narrowed the replaced file's mode; the new content
    // takes the old file's place with exactly its permissions.
    if (m_keepMode >= 0 && ::fchmod(m_fd, mode_t(m_keepMode)) != 0)
        return fail(error, "chmod", errno);
    return true;
}

bool TDWSafeFile::append(const char *data, qint64 size, TDWError *error)
{
    if (m_fd < 0)
        return fail(error, "write", EBADF);
    if (!writeAll(m_fd, data, size))
        return fail(error, "write", errno);
    return true;
}

bool TDWSafeFile::commit(TDWError *error)
{
    if (m_fd < 0)
        return fail(error, "commit", EBADF);
    if (::fsync(m_fd) != 0)
        return fail(error, "fsync", errno);
    TDWTestKillPoint::beforeDurableWrite();
    const int fd = std::exchange(m_fd, -1);
    if (::close(fd) != 0)
        return fail(error, "close", errno);
    if (::rename(m_temporary.constData(), m_target.constData()) != 0)
        return fail(error, "rename", errno);
    m_temporary.clear();

    // The rename is durable only once the folder entry is on disk.
    const int dirFd = ::open(m_folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return fail(error, "open folder", errno);
    const bool synced = ::fsync(dirFd) == 0;
    const int err = errno;
    ::close(dirFd);
    if (!synced)
        return fail(error, "fsync folder", err);
    return true;
}

void TDWSafeFile::abort()
{
    closeAndUnlink();
}

bool TDWSafeFile::write(const QString &path, const QByteArray &bytes, TDWError *error, int mode)
{
    TDWSafeFile file(path, mode);
    return file.open(error) && file.append(bytes.constData(), bytes.size(), error) && file.commit(error);
}

bool TDWSafeFile::isTemporaryName(const QString &fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^\\..+\\.tdw-[0-9a-z]+$"));
    return pattern.match(fileName).hasMatch();
}

int TDWSafeFile::sweepTemporaryFiles(const QString &folder)
{
    int removed = 0;
    // NoSymLinks keeps the walk inside `folder`: a link to elsewhere is neither
    // entered nor removed.
    QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isFile() && !info.isSymLink() && isTemporaryName(info.fileName()) && QFile::remove(info.filePath()))
            ++removed;
    }
    return removed;
}

bool TDWSafeFile::fail(TDWError *error, const char *step, int err)
{
    closeAndUnlink();
    tdwSetError(error, TDWSafeFileError::make(TDWSafeFileError::Code(err),
                                              QStringLiteral("Could not write \"%1\" (%2): %3")
                                                  .arg(m_path, QString::fromLatin1(step), QString::fromLocal8Bit(std::strerror(err)))));
    return false;
}

void TDWSafeFile::closeAndUnlink()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty()) {
        ::unlink(m_temporary.constData());
        m_temporary.clear();
    }
}
