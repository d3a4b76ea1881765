#include "platform/foundation/TDWPrivateFiles.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr mode_t GroupAndOthers = S_IRWXG | S_IRWXO;

// AT_SYMLINK_NOFOLLOW: a link that replaced the entry since it was listed is
// refused, never followed. An entry that vanished meanwhile needs nothing.
bool narrow(const QByteArray &name, int statFlags)
{
    struct stat info;
    if (::fstatat(AT_FDCWD, name.constData(), &info, statFlags) != 0)
        return errno == ENOENT;
    if (S_ISLNK(info.st_mode) || !(info.st_mode & GroupAndOthers))
        return true;
    const mode_t wanted = info.st_mode & 07777 & ~GroupAndOthers;
    return ::fchmodat(AT_FDCWD, name.constData(), wanted, statFlags) == 0 || errno == ENOENT;
}

} // namespace

bool TDWPrivateFiles::makeFolder(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (QFileInfo(absolute).isDir())
        return true;
    // The first missing folder on the way, then each one below it, in order.
    QStringList missing;
    for (QString at = absolute; !QFileInfo::exists(at) && !QFileInfo(at).isSymLink(); at = QFileInfo(at).absolutePath()) {
        missing.prepend(at);
        if (at == QFileInfo(at).absolutePath())
            break;
    }
    for (const QString &folder : std::as_const(missing)) {
        // EEXIST: another thread made it meanwhile, which is as good.
        if (::mkdir(QFile::encodeName(folder).constData(), FolderMode) != 0 && errno != EEXIST)
            return false;
    }
    return QFileInfo(absolute).isDir();
}

qint64 TDWPrivateFiles::makePrivate(const QString &root)
{
    const QFileInfo rootInfo(root);
    if (!rootInfo.exists())
        return 0;
    qint64 failed = narrow(QFile::encodeName(rootInfo.absoluteFilePath()), 0) ? 0 : 1;
    if (!rootInfo.isDir())
        return failed;
    // Without FollowSymlinks the iterator does not enter linked folders, and
    // NoSymLinks keeps links out of the listing altogether.
    QDirIterator it(root, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (!narrow(QFile::encodeName(it.filePath()), AT_SYMLINK_NOFOLLOW))
            ++failed;
    }
    return failed;
}
