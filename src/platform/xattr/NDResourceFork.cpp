#include "platform/xattr/NDResourceFork.h"

#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// 1 to 2^31 - 1 and round again: a reference is never 0 (closed) or negative.
qint32 nextReference()
{
    static std::atomic<quint32> opened{0};
    return qint32(opened++ % 0x7FFFFFFFu) + 1;
}

QString reason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// The attribute's bytes; empty bytes when the file has none or its file
// system keeps no user attributes; nothing (errno set) when it cannot be read.
std::optional<QByteArray> readAttribute(int fd)
{
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, NDResourceFork::AttributeName, nullptr, 0);
        if (size < 0)
            return (errno == ENODATA || errno == ENOTSUP) ? std::optional<QByteArray>(QByteArray()) : std::nullopt;
        QByteArray value(qsizetype(size), Qt::Uninitialized);
        const ssize_t read = ::fgetxattr(fd, NDResourceFork::AttributeName, value.data(), size_t(value.size()));
        if (read >= 0)
            return value.left(qsizetype(read));
        if (errno != ERANGE) // ERANGE: it grew since it was measured
            return std::nullopt;
    }
}

} // namespace

std::unique_ptr<NDResourceFork> NDResourceFork::resourceForkForWritingAtPath(const QString &path)
{
    const auto fail = [&](const QString &why) {
        tdwLog(QStringLiteral("ERROR: cannot open the resources of %1: %2").arg(path, why));
        return nullptr;
    };
    // Created when missing (private, as every file of the backup), never
    // truncated: the file's own content is not ours to touch.
    // O_NONBLOCK keeps a FIFO at the path from holding us up; it is refused below.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, TDWPrivateFiles::FileMode);
    if (fd < 0)
        return fail(reason(errno));
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return fail(QStringLiteral("not a regular file"));
    }
    const std::optional<QByteArray> stored = readAttribute(fd);
    if (!stored) {
        const int err = errno;
        ::close(fd);
        return fail(reason(err));
    }
    // Resources that cannot be read are kept as they are rather than written over.
    std::optional<TDWResourceMap> resources = stored->isEmpty() ? TDWResourceMap() : TDWResourceMap::decode(*stored);
    if (!resources) {
        ::close(fd);
        return fail(QStringLiteral("the stored resources are damaged"));
    }
    return std::unique_ptr<NDResourceFork>(new NDResourceFork(path, fd, std::move(*resources)));
}

NDResourceFork::NDResourceFork(QString path, int fd, TDWResourceMap resources)
    : m_path(std::move(path)), m_fd(fd), m_reference(nextReference()), m_resources(std::move(resources))
{
}

NDResourceFork::~NDResourceFork()
{
    closeFile();
}

bool NDResourceFork::addData(const QByteArray &data, quint32 type, qint16 resourceId, const QString &name)
{
    if (m_fd < 0 || !m_resources.add({type, resourceId, name, data}))
        return false;
    m_changed = true;
    return true;
}

bool NDResourceFork::closeFile()
{
    if (m_fd < 0)
        return true;
    bool written = true;
    if (m_changed) {
        const QByteArray value = m_resources.encode();
        if (::fsetxattr(m_fd, AttributeName, value.constData(), size_t(value.size()), 0) != 0) {
            tdwLog(QStringLiteral("ERROR: cannot write the resources of %1: %2").arg(m_path, reason(errno)));
            written = false;
        }
    }
    ::close(m_fd);
    m_fd = -1;
    m_reference = 0;
    m_changed = false;
    return written;
}
