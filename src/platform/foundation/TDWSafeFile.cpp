#include "platform/foundation/TDWSafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fail(TDWError *error, const QString &path, const char *step, int err)
{
    tdwSetError(error, TDWError::withDescription(TDWSafeFile::ErrorDomain, err,
                                                 QStringLiteral("Could not write \"%1\" (%2): %3")
                                                     .arg(path, QString::fromLatin1(step), QString::fromLocal8Bit(std::strerror(err)))));
    return false;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *at = bytes.constData();
    qsizetype left = bytes.size();
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

// Creates a new, unique file beside the target. open() with 0666 lets the
// kernel apply the umask, as for any new file (mkstemp would force 0600).
int createTemp(const QByteArray &prefix, QByteArray *name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = prefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        const int fd = ::open(name->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Removes the temporary file on every path that does not end in the rename.
class TempFile
{
public:
    ~TempFile()
    {
        if (fd >= 0)
            ::close(fd);
        if (!name.isEmpty())
            ::unlink(name.constData());
    }
    QByteArray name;
    int fd = -1;
};

} // namespace

namespace TDWSafeFile {

bool write(const QString &path, const QByteArray &bytes, TDWError *error)
{
    QFileInfo info(path);
    if (info.isSymLink())
        info = QFileInfo(info.symLinkTarget());
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const QByteArray folder = QFile::encodeName(info.absolutePath());

    struct stat existing;
    const bool replacing = ::stat(target.constData(), &existing) == 0;
    if (replacing && S_ISDIR(existing.st_mode))
        return fail(error, path, "it is a folder", EISDIR);

    // A dot name keeps half-written files out of folder listings.
    TempFile temp;
    temp.fd = createTemp(folder + "/." + QFile::encodeName(info.fileName()) + ".tdw-", &temp.name);
    if (temp.fd < 0) {
        const int err = errno;
        temp.name.clear();
        return fail(error, path, "create", err);
    }
    if (replacing && ::fchmod(temp.fd, existing.st_mode & 07777) != 0)
        return fail(error, path, "chmod", errno);
    if (!writeAll(temp.fd, bytes))
        return fail(error, path, "write", errno);
    if (::fsync(temp.fd) != 0)
        return fail(error, path, "fsync", errno);
    const int fd = temp.fd;
    temp.fd = -1;
    if (::close(fd) != 0)
        return fail(error, path, "close", errno);
    if (::rename(temp.name.constData(), target.constData()) != 0)
        return fail(error, path, "rename", errno);
    temp.name.clear();

    // The rename is durable only once the folder entry is on disk.
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return fail(error, path, "open folder", errno);
    const bool synced = ::fsync(dirFd) == 0;
    const int err = errno;
    ::close(dirFd);
    if (!synced)
        return fail(error, path, "fsync folder", err);
    return true;
}

} // namespace TDWSafeFile
