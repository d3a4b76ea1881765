#include "restore/TDWRestorePaths.h"

#include "common/TDWFileUtils.h"
#include "restore/TDWRecoveryError.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The mode of restored folders: the user's usual one (the umask applies).
constexpr mode_t FolderMode = 0777;

TDWError systemError(int code, const QString &what, const QString &path)
{
    return TDWRecoveryError::make(TDWRecoveryError::Code(code),
                                  QStringLiteral("%1 “%2”: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(code))));
}

} // namespace

QString TDWRestorePaths::safeComponent(const QString &component)
{
    // The extension goes through the filter on its own, so that a name the
    // safe function made (a long base with its extension) comes back unchanged.
    const qsizetype dot = component.lastIndexOf(QLatin1Char('.'));
    if (dot > 0 && dot < component.size() - 1)
        return TDWFileUtils::generateFilenameFromString(component.left(dot), component.mid(dot + 1));
    return TDWFileUtils::generateFilenameFromString(component);
}

QStringList TDWRestorePaths::safeComponents(const QString &relativePath)
{
    QStringList components;
    for (const QString &component : relativePath.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        components << safeComponent(component);
    return components;
}

QString TDWRestorePaths::join(const QString &folder, const QStringList &components)
{
    QString path = folder;
    for (const QString &component : components)
        path += QLatin1Char('/') + component;
    return path;
}

bool TDWRestorePaths::makeFolders(const QString &root, const QStringList &components, TDWError *error)
{
    int fd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        tdwSetError(error, systemError(errno, QStringLiteral("Unable to open the folder"), root));
        return false;
    }
    QString path = root;
    for (const QString &component : components) {
        path += QLatin1Char('/') + component;
        const QByteArray name = QFile::encodeName(component);
        if (::mkdirat(fd, name.constData(), FolderMode) != 0 && errno != EEXIST) {
            const int code = errno;
            ::close(fd);
            tdwSetError(error, systemError(code, QStringLiteral("Unable to create the folder"), path));
            return false;
        }
        // O_NOFOLLOW: a link planted at the name fails here instead of leading elsewhere.
        const int next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int code = errno;
        ::close(fd);
        if (next < 0) {
            tdwSetError(error, systemError(code, QStringLiteral("Unable to use the folder"), path));
            return false;
        }
        fd = next;
    }
    ::close(fd);
    return true;
}

QString TDWRestorePaths::sourceInItemsFolder(const QString &itemsFolder, const QString &filePath, TDWError *error)
{
    const QString folder = QDir::cleanPath(itemsFolder);
    const QString source = QDir::cleanPath(folder + QLatin1Char('/') + filePath);
    struct stat info = {};
    const bool inside = !itemsFolder.isEmpty() && !filePath.isEmpty() && source.startsWith(folder + QLatin1Char('/'));
    if (!inside || ::lstat(QFile::encodeName(source).constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        tdwSetError(error, TDWRecoveryError::make(TDWRecoveryError::SourceNotInBackup,
                                                  QStringLiteral("“%1” is not a backed-up file of “%2”.").arg(filePath, itemsFolder)));
        return {};
    }
    return source;
}

qint64 TDWRestorePaths::fileSize(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? qint64(info.st_size) : 0;
}
