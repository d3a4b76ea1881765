#include "platform/keychain/TDWFileKeyring.h"

#include "platform/foundation/TDWSafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int FormatVersion = 1;
constexpr mode_t FolderMode = 0700;
constexpr mode_t FileMode = 0600;

bool fail(TDWError *error, TDWKeyringError::Code code, const QString &text)
{
    tdwSetError(error, TDWKeyringError::make(code, text));
    return false;
}

QString systemError(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

bool parseItems(const QByteArray &bytes, std::map<std::pair<QString, QString>, QByteArray> *items)
{
    const nlohmann::json root = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (!root.is_object() || root.value("format", 0) != FormatVersion)
        return false;
    const auto list = root.find("items");
    if (list == root.end() || !list->is_array())
        return false;
    for (const nlohmann::json &entry : *list) {
        if (!entry.is_object())
            return false;
        const auto service = entry.find("service");
        const auto account = entry.find("account");
        const auto secret = entry.find("secret");
        if (service == entry.end() || account == entry.end() || secret == entry.end() || !service->is_string()
            || !account->is_string() || !secret->is_string())
            return false;
        const auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(secret->get<std::string>()),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return false;
        (*items)[{QString::fromStdString(service->get<std::string>()), QString::fromStdString(account->get<std::string>())}] = *decoded;
    }
    return true;
}

// Closes and so releases a folder lock.
class FolderLock
{
public:
    explicit FolderLock(int fd) : m_fd(fd) { }
    ~FolderLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd;
};

} // namespace

TDWFileKeyring::TDWFileKeyring(QString folder)
    : m_folder(std::move(folder))
{
}

QString TDWFileKeyring::defaultFolder()
{
    // The data folder as the rest of the program lays it out.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Tidewell/Keyring");
}

QString TDWFileKeyring::filePath() const
{
    return m_folder + QStringLiteral("/secrets.json");
}

QString TDWFileKeyring::name() const
{
    return QStringLiteral("file");
}

bool TDWFileKeyring::read(Items *items, TDWError *error) const
{
    items->clear();
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly)) {
        if (!file.exists())
            return true;
        return fail(error, TDWKeyringError::Unreadable, QStringLiteral("Could not read \"%1\": %2").arg(filePath(), file.errorString()));
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(error, TDWKeyringError::Unreadable, QStringLiteral("Could not read \"%1\": %2").arg(filePath(), file.errorString()));
    if (!parseItems(bytes, items)) {
        items->clear();
        return fail(error, TDWKeyringError::Unreadable, QStringLiteral("\"%1\" is not a keyring file this program can read").arg(filePath()));
    }
    return true;
}

bool TDWFileKeyring::prepareFolder(TDWError *error) const
{
    const QByteArray path = QFile::encodeName(m_folder);
    if (!QDir().mkpath(QFileInfo(m_folder).absolutePath()))
        return fail(error, TDWKeyringError::WriteFailed, QStringLiteral("Could not create the folder of \"%1\"").arg(m_folder));
    if (::mkdir(path.constData(), FolderMode) != 0 && errno != EEXIST)
        return fail(error, TDWKeyringError::WriteFailed, QStringLiteral("Could not create \"%1\": %2").arg(m_folder, systemError(errno)));
    struct stat info;
    if (::stat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return fail(error, TDWKeyringError::WriteFailed, QStringLiteral("\"%1\" is not a folder").arg(m_folder));
    // Temporary files appear here before they are made private; only the
    // folder's own permissions keep others from opening them meanwhile.
    if ((info.st_mode & 07777) != FolderMode && ::chmod(path.constData(), FolderMode) != 0)
        return fail(error, TDWKeyringError::WriteFailed, QStringLiteral("Could not make \"%1\" private: %2").arg(m_folder, systemError(errno)));
    return true;
}

int TDWFileKeyring::lockFolder(TDWError *error) const
{
    const QByteArray path = QFile::encodeName(m_folder + QStringLiteral("/secrets.lock"));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, FileMode);
    if (fd < 0) {
        fail(error, TDWKeyringError::WriteFailed, QStringLiteral("Could not open \"%1\": %2").arg(QFile::decodeName(path), systemError(errno)));
        return -1;
    }
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            fail(error, TDWKeyringError::WriteFailed, QStringLiteral("Could not lock \"%1\": %2").arg(QFile::decodeName(path), systemError(errno)));
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

bool TDWFileKeyring::write(const Items &items, TDWError *error) const
{
    nlohmann::json list = nlohmann::json::array();
    for (const auto &[key, secret] : items) {
        list.push_back({{"service", key.first.toStdString()},
                        {"account", key.second.toStdString()},
                        {"secret", secret.toBase64().toStdString()}});
    }
    const nlohmann::json root = {{"format", FormatVersion}, {"items", std::move(list)}};
    const QByteArray bytes = QByteArray::fromStdString(root.dump(2)) + '\n';

    // The writer creates the temporary file private, so the secret is never
    // readable by others, not even between the rename and a later chmod.
    TDWError writeError;
    if (!TDWSafeFile::write(filePath(), bytes, &writeError, FileMode))
        return fail(error, TDWKeyringError::WriteFailed, writeError.localizedDescription());
    return true;
}

TDWKeyringStatus TDWFileKeyring::find(const QString &service, const QString &account, QByteArray *secret, TDWError *error)
{
    std::lock_guard lock(m_mutex);
    Items items;
    if (!read(&items, error))
        return TDWKeyringStatus::Unavailable;
    const auto at = items.find({service, account});
    if (at == items.end())
        return TDWKeyringStatus::NotFound;
    if (secret)
        *secret = at->second;
    return TDWKeyringStatus::Found;
}

bool TDWFileKeyring::store(const QString &service, const QString &account, const QByteArray &secret, TDWError *error)
{
    std::lock_guard lock(m_mutex);
    if (!prepareFolder(error))
        return false;
    const FolderLock folderLock(lockFolder(error));
    if (!folderLock.held())
        return false;
    Items items;
    if (!read(&items, error))
        return false;
    items[{service, account}] = secret;
    return write(items, error);
}

TDWKeyringStatus TDWFileKeyring::remove(const QString &service, const QString &account, TDWError *error)
{
    std::lock_guard lock(m_mutex);
    Items items;
    if (!read(&items, error))
        return TDWKeyringStatus::Unavailable;
    if (items.find({service, account}) == items.end())
        return TDWKeyringStatus::NotFound;
    if (!prepareFolder(error))
        return TDWKeyringStatus::Unavailable;
    const FolderLock folderLock(lockFolder(error));
    // Read again under the lock: another process may have changed the file.
    if (!folderLock.held() || !read(&items, error))
        return TDWKeyringStatus::Unavailable;
    if (items.erase({service, account}) == 0)
        return TDWKeyringStatus::NotFound;
    return write(items, error) ? TDWKeyringStatus::Found : TDWKeyringStatus::Unavailable;
}
