#include "platform/foundation/TDWSafeFile.h"

#include "platform/foundation/TDWSafeFileError.h"
#include "platform/foundation/TDWTestKillPoint.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

const char TemporaryMarker[] = ".tdw-";
const char UserAttributePrefix[] = "user.";

// Writes at the file position, or at `offset` when one is given.
bool writeAll(int fd, const char *at, qint64 left, std::optional<qint64> offset = std::nullopt)
{
    while (left > 0) {
        const ssize_t n = offset ? ::pwrite(fd, at, size_t(left), off_t(*offset)) : ::write(fd, at, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        at += n;
        left -= n;
        if (offset)
            *offset += n;
    }
    return true;
}

QByteArray temporaryName(const QByteArray &finalName)
{
    // A dot name keeps half-written files out of folder listings.
    return '.' + finalName + TemporaryMarker + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
}

// Creates a new, unique file beside the target. open() lets the kernel apply
// the umask, as for any new file (mkstemp would force 0600).
int createTemporary(int folderFd, const QByteArray &finalName, mode_t mode, QByteArray *name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = temporaryName(finalName);
        const int fd = ::openat(folderFd, name->constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Renames without ever replacing what is at `to`. Some file systems (older
// network ones) lack the no-replace rename: a file then gets a second link,
// which fails just as surely on a taken name; a folder, which cannot be
// linked, is renamed after a look, and a rename can then replace at most an
// empty folder or a link that appeared in between, never the content of one.
int renameNoReplace(int folderFd, const char *from, const char *to)
{
    if (::renameat2(folderFd, from, folderFd, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    struct stat info;
    if (::fstatat(folderFd, from, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (S_ISDIR(info.st_mode)) {
        if (::fstatat(folderFd, to, &info, AT_SYMLINK_NOFOLLOW) == 0)
            return EEXIST;
        return ::renameat(folderFd, from, folderFd, to) == 0 ? 0 : errno;
    }
    if (::linkat(folderFd, from, folderFd, to, 0) != 0)
        return errno;
    ::unlinkat(folderFd, from, 0);
    return 0;
}

int syncFolder(int folderFd)
{
    return ::fsync(folderFd) == 0 ? 0 : errno;
}

// The folder of `path` opened for *at() calls; with `followLink` false a link
// in its place is refused instead of followed.
int openFolder(const QByteArray &folder, bool followLink)
{
    return ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
}

QString errorText(const QString &what, int err)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(err)));
}

bool setError(TDWError *error, const QString &what, int err)
{
    tdwSetError(error, TDWSafeFileError::make(TDWSafeFileError::Code(err), errorText(what, err)));
    return false;
}

// Reads one extended attribute whole; nothing (errno set) when it cannot be read.
std::optional<QByteArray> readAttribute(int fd, const char *name)
{
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0)
            return std::nullopt;
        QByteArray value(qsizetype(size), Qt::Uninitialized);
        const ssize_t read = ::fgetxattr(fd, name, value.data(), size_t(value.size()));
        if (read >= 0)
            return value.left(qsizetype(read));
        if (errno != ERANGE) // ERANGE: it grew since it was measured
            return std::nullopt;
    }
}

// The names of a file's extended attributes; empty when its file system keeps
// none; nothing (errno set) when they cannot be listed.
std::optional<QList<QByteArray>> attributeNames(int fd)
{
    for (;;) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP ? std::optional<QList<QByteArray>>(QList<QByteArray>()) : std::nullopt;
        QByteArray list(qsizetype(size), Qt::Uninitialized);
        const ssize_t read = ::flistxattr(fd, list.data(), size_t(list.size()));
        if (read >= 0) {
            QList<QByteArray> names = list.left(qsizetype(read)).split('\0');
            names.removeAll(QByteArray());
            return names;
        }
        if (errno != ERANGE)
            return std::nullopt;
    }
}

} // namespace

TDWSafeFile::TDWSafeFile(QString path, int mode, Target target)
    : m_path(std::move(path)), m_mode(mode), m_target(target)
{
}

TDWSafeFile::~TDWSafeFile()
{
    abort();
}

bool TDWSafeFile::open(TDWError *error)
{
    abort();
    const bool createOnly = m_target == Target::CreateOnly;
    QFileInfo info(m_path);
    if (!createOnly && info.isSymLink())
        info = QFileInfo(info.symLinkTarget());
    m_folder = QFile::encodeName(info.absolutePath());
    m_name = QFile::encodeName(info.fileName());
    m_folderFd = openFolder(m_folder, !createOnly);
    if (m_folderFd < 0)
        return fail(error, "open folder", errno);

    struct stat existing;
    const bool taken = ::fstatat(m_folderFd, m_name.constData(), &existing, createOnly ? AT_SYMLINK_NOFOLLOW : 0) == 0;
    if (taken && createOnly)
        return fail(error, "create only", EEXIST);
    if (taken && S_ISDIR(existing.st_mode))
        return fail(error, "it is a folder", EISDIR);
    m_keepMode = (taken && m_mode == DefaultMode) ? int(existing.st_mode & 07777) : -1;
    const mode_t createMode = m_mode != DefaultMode ? mode_t(m_mode) : m_keepMode >= 0 ? mode_t(m_keepMode) : 0666;

    m_fd = createTemporary(m_folderFd, m_name, createMode, &m_temporary);
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

QString TDWSafeFile::temporaryPath() const
{
    return m_fd >= 0 ? QFile::decodeName(m_folder + '/' + m_temporary) : QString();
}

bool TDWSafeFile::append(const char *data, qint64 size, TDWError *error)
{
    if (m_fd < 0)
        return fail(error, "write", EBADF);
    if (!writeAll(m_fd, data, size))
        return fail(error, "write", errno);
    return true;
}

bool TDWSafeFile::overwrite(qint64 offset, const char *data, qint64 size, TDWError *error)
{
    if (m_fd < 0)
        return fail(error, "write", EBADF);
    // Only what is there already: the file never grows by a hole here.
    struct stat info {};
    if (::fstat(m_fd, &info) != 0)
        return fail(error, "write", errno);
    if (offset < 0 || offset + size > info.st_size)
        return fail(error, "write", EINVAL);
    if (!writeAll(m_fd, data, size, offset))
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
    if (m_target == Target::CreateOnly) {
        if (const int err = renameNoReplace(m_folderFd, m_temporary.constData(), m_name.constData()))
            return fail(error, "rename", err);
    } else if (::renameat(m_folderFd, m_temporary.constData(), m_folderFd, m_name.constData()) != 0) {
        return fail(error, "rename", errno);
    }
    m_temporary.clear();

    // The rename is durable only once the folder entry is on disk.
    if (const int err = syncFolder(m_folderFd))
        return fail(error, "fsync folder", err);
    closeAndUnlink();
    return true;
}

void TDWSafeFile::abort()
{
    closeAndUnlink();
}

bool TDWSafeFile::write(const QString &path, const QByteArray &bytes, TDWError *error, int mode, Target target)
{
    TDWSafeFile file(path, mode, target);
    return file.open(error) && file.append(bytes.constData(), bytes.size(), error) && file.commit(error);
}

bool TDWSafeFile::copy(const QString &source, const QString &destination, TDWError *error, int mode, Target target)
{
    const int sourceFd = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (sourceFd < 0)
        return setError(error, QStringLiteral("Could not read \"%1\"").arg(source), errno);
    const auto closeSource = qScopeGuard([sourceFd] { ::close(sourceFd); });
    struct stat info;
    if (::fstat(sourceFd, &info) != 0)
        return setError(error, QStringLiteral("Could not read \"%1\"").arg(source), errno);
    if (!S_ISREG(info.st_mode))
        return setError(error, QStringLiteral("Could not copy \"%1\", which is not a regular file").arg(source), EINVAL);

    TDWSafeFile file(destination, mode, target);
    if (!file.open(error))
        return false;
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(sourceFd, buffer.data(), size_t(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            file.abort();
            return setError(error, QStringLiteral("Could not read \"%1\"").arg(source), err);
        }
        if (n == 0)
            break;
        if (!file.append(buffer.constData(), n, error))
            return false;
    }
    return file.copyUserAttributes(sourceFd, error) && file.commit(error);
}

bool TDWSafeFile::copyUserAttributes(int sourceFd, TDWError *error)
{
    const std::optional<QList<QByteArray>> names = attributeNames(sourceFd);
    if (!names)
        return fail(error, "list attributes", errno);
    // Only user.*: the others belong to the system (security labels, access
    // lists) and are not the file's content.
    for (const QByteArray &name : *names) {
        if (!name.startsWith(UserAttributePrefix))
            continue;
        const std::optional<QByteArray> value = readAttribute(sourceFd, name.constData());
        if (!value) {
            if (errno == ENODATA) // removed since it was listed
                continue;
            return fail(error, "read attribute", errno);
        }
        if (::fsetxattr(m_fd, name.constData(), value->constData(), size_t(value->size()), 0) != 0)
            return fail(error, "write attribute", errno);
    }
    return true;
}

QString TDWSafeFile::createTemporaryFolder(const QString &path, int mode, TDWError *error)
{
    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const QByteArray name = QFile::encodeName(info.fileName());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray candidate = folder + '/' + temporaryName(name);
        if (::mkdir(candidate.constData(), mode_t(mode)) == 0)
            return QFile::decodeName(candidate);
        if (errno != EEXIST)
            break;
    }
    setError(error, QStringLiteral("Could not create a folder beside \"%1\"").arg(path), errno);
    return {};
}

bool TDWSafeFile::commitFolder(const QString &temporary, const QString &path, TDWError *error)
{
    const QFileInfo info(path);
    const auto failed = [&](int err) {
        QDir(temporary).removeRecursively();
        return setError(error, QStringLiteral("Could not put \"%1\" in place").arg(path), err);
    };
    if (QFileInfo(temporary).absolutePath() != info.absolutePath())
        return failed(EXDEV);
    const int folderFd = openFolder(QFile::encodeName(info.absolutePath()), true);
    if (folderFd < 0)
        return failed(errno);
    const auto closeFolder = qScopeGuard([folderFd] { ::close(folderFd); });
    int err = renameNoReplace(folderFd, QFile::encodeName(QFileInfo(temporary).fileName()).constData(), QFile::encodeName(info.fileName()).constData());
    if (err)
        return failed(err);
    // The folder is in place; only its durability is in doubt now.
    if ((err = syncFolder(folderFd)))
        return setError(error, QStringLiteral("Could not put \"%1\" in place").arg(path), err);
    return true;
}

bool TDWSafeFile::isTemporaryName(const QString &fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^\\..+\\.tdw-[0-9a-z]+(-journal|-wal|-shm)?$"));
    return pattern.match(fileName).hasMatch();
}

int TDWSafeFile::sweepTemporaryFiles(const QString &folder)
{
    // NoSymLinks keeps the walk inside `folder`: a link to elsewhere is neither
    // entered nor removed. A temporary folder goes whole, after the walk, so
    // the walk never loses its way in a removed folder.
    QStringList files;
    QStringList folders;
    QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isSymLink() || !isTemporaryName(info.fileName()))
            continue;
        if (info.isDir())
            folders.append(info.filePath());
        else if (info.isFile())
            files.append(info.filePath());
    }
    const auto insideRemovedFolder = [&folders](const QString &path) {
        return std::any_of(folders.cbegin(), folders.cend(), [&path](const QString &dir) { return path.startsWith(dir + QLatin1Char('/')); });
    };
    int removed = 0;
    for (const QString &path : std::as_const(files)) {
        if (!insideRemovedFolder(path) && QFile::remove(path))
            ++removed;
    }
    for (const QString &path : std::as_const(folders)) {
        // Qt removes links found inside, never what they point to.
        if (!insideRemovedFolder(path) && QDir(path).removeRecursively())
            ++removed;
    }
    return removed;
}

bool TDWSafeFile::fail(TDWError *error, const char *step, int err)
{
    closeAndUnlink();
    return setError(error, QStringLiteral("Could not write \"%1\" (%2)").arg(m_path, QString::fromLatin1(step)), err);
}

void TDWSafeFile::closeAndUnlink()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty()) {
        ::unlinkat(m_folderFd, m_temporary.constData(), 0);
        m_temporary.clear();
    }
    if (m_folderFd >= 0) {
        ::close(m_folderFd);
        m_folderFd = -1;
    }
}
