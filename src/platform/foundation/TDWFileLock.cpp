#include "platform/foundation/TDWFileLock.h"

#include "platform/foundation/TDWFileLockError.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr mode_t AllWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

bool fail(TDWError *error, const QString &path, int code)
{
    tdwSetError(error, TDWFileLockError::make(TDWFileLockError::Code(code),
                                              QStringLiteral("Could not change the lock of “%1”: %2")
                                                  .arg(path, QString::fromLocal8Bit(std::strerror(code)))));
    return false;
}

} // namespace

bool TDWFileLock::setLocked(const QString &path, bool locked, TDWError *error)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info;
    if (::lstat(name.constData(), &info) != 0)
        return fail(error, path, errno);
    if (!S_ISREG(info.st_mode))
        return fail(error, path, TDWFileLockError::NotARegularFile);
    const mode_t permissions = info.st_mode & 07777;
    const mode_t wanted = locked ? permissions & ~AllWriteBits : permissions | S_IWUSR;
    if (wanted == permissions)
        return true;
    // AT_SYMLINK_NOFOLLOW refuses a link that replaced the file since the lstat.
    if (::fchmodat(AT_FDCWD, name.constData(), wanted, AT_SYMLINK_NOFOLLOW) != 0)
        return fail(error, path, errno);
    return true;
}
