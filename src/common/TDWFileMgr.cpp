#include "common/TDWFileMgr.h"

#include "common/TDWFileMgrError.h"
#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace {

const QString ProductFolder = QStringLiteral("Tidewell");

struct Layout
{
    QString appSupportDir;
    QString dataFilePath;
    QString defaultBackupLocation;
    QString altBookmarkFileLocation;
    QString tmpDirPath;
    QHash<QString, QString> itemListXmlPaths;
};

// The layout is built whole and then published, so a reader on another
// thread sees either no layout or a complete one. Layouts are never freed: a
// reader may still hold one, and there is one per run (more only in tests).
std::atomic<const Layout *> &currentSlot()
{
    static std::atomic<const Layout *> slot = nullptr;
    return slot;
}

void publish(std::unique_ptr<const Layout> layout)
{
    static std::mutex mutex;
    static std::vector<std::unique_ptr<const Layout>> kept;
    std::lock_guard lock(mutex);
    currentSlot().store(layout.get(), std::memory_order_release);
    if (layout)
        kept.push_back(std::move(layout));
}

std::atomic<bool> &hasData()
{
    static std::atomic<bool> flag = false;
    return flag;
}

std::mutex &initMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::mutex &handlerMutex()
{
    static std::mutex mutex;
    return mutex;
}

TDWFileMgr::FatalHandler &fatalHandler()
{
    static TDWFileMgr::FatalHandler handler;
    return handler;
}

// Quitting through the event loop lets the application close its stores; the
// request is queued so it also works before the loop has started.
void quitApplication(const TDWError &)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [] { QCoreApplication::exit(EXIT_FAILURE); }, Qt::QueuedConnection);
    else
        std::exit(EXIT_FAILURE);
}

void fail(const TDWError &error)
{
    TDWFileMgr::FatalHandler handler;
    {
        std::lock_guard lock(handlerMutex());
        handler = fatalHandler();
    }
    if (handler)
        handler(error);
    else
        quitApplication(error);
}

void failBecauseFileIsInTheWay(const QString &message)
{
    tdwLog(QStringLiteral("ERROR: %1").arg(message));
    fail(TDWFileMgrError::make(TDWFileMgrError::FileInTheWay, message));
}

// Appends one path component, as a component even if it begins with "/".
QString appendComponent(const QString &base, QString component)
{
    while (component.startsWith(QLatin1Char('/')))
        component.remove(0, 1);
    return QDir(base).filePath(component);
}

bool existsAt(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString standardFolder(QStandardPaths::StandardLocation location)
{
    QString base = QStandardPaths::writableLocation(location);
    if (base.isEmpty())
        base = QDir::tempPath();
    return appendComponent(base, ProductFolder);
}

const Layout *currentLayout()
{
    return currentSlot().load(std::memory_order_acquire);
}

} // namespace

void TDWFileMgr::setFatalHandler(FatalHandler handler)
{
    std::lock_guard lock(handlerMutex());
    fatalHandler() = std::move(handler);
}

QString TDWFileMgr::defaultDataDir()
{
    return standardFolder(QStandardPaths::GenericDataLocation);
}

QString TDWFileMgr::defaultTempDir()
{
    return standardFolder(QStandardPaths::GenericCacheLocation);
}

bool TDWFileMgr::setDataDir(const QString &path)
{
    bool ok = true;
    if (!existsAt(path)) {
        ok = createDir(path);
    } else if (!QFileInfo(path).isDir()) {
        failBecauseFileIsInTheWay(QStringLiteral("Application Support Dir is a file"));
        ok = false;
    }

    auto layout = std::make_unique<Layout>();
    const QList<TDWServiceConfig> services = TDWServiceTable::shared().serviceConfigs();
    if (services.isEmpty())
        tdwLog(QStringLiteral("ERROR: The service table is not loaded, so no list folders are known."));
    for (const TDWServiceConfig &service : services) {
        if (!service.id.isEmpty() && !service.listDir.isEmpty())
            layout->itemListXmlPaths.insert(service.id, appendComponent(path, service.listDir));
    }

    layout->tmpDirPath = defaultTempDir();
    TDWPrivateFiles::makeFolder(layout->tmpDirPath); // a failure shows in the checks below
    if (!existsAt(layout->tmpDirPath)) {
        ok = createDir(layout->tmpDirPath) && ok;
    } else if (!QFileInfo(layout->tmpDirPath).isDir()) {
        failBecauseFileIsInTheWay(QStringLiteral("Tmp dir is a file"));
        ok = false;
    }

    layout->dataFilePath = appendComponent(path, QStringLiteral("TidewellData.sqlite3"));
    layout->defaultBackupLocation = appendComponent(path, QStringLiteral("backups"));
    layout->altBookmarkFileLocation = appendComponent(path, QStringLiteral("backuplocation.bookmarkfile"));
    layout->appSupportDir = path;
    publish(std::move(layout));
    return ok;
}

bool TDWFileMgr::createDir(const QString &path)
{
    if (::mkdir(QFile::encodeName(path).constData(), TDWPrivateFiles::FolderMode) == 0)
        return true;
    const int code = errno;
    const QString reason = QString::fromLocal8Bit(std::strerror(code));
    tdwLog(QStringLiteral("ERROR: Unable to create directory at %1: %2").arg(path, reason));
    tdwLog(QStringLiteral("ERROR: calling terminate because createDir failed"));
    fail(TDWFileMgrError::make(TDWFileMgrError::Code(code), QStringLiteral("Tidewell is unable to create the folder “%1”: %2").arg(path, reason)));
    return false;
}

void TDWFileMgr::initData()
{
    if (hasData().load(std::memory_order_acquire))
        return;
    std::lock_guard lock(initMutex());
    if (hasData().load(std::memory_order_relaxed))
        return;
    setDataDir(defaultDataDir());
    hasData().store(true, std::memory_order_release);
}

void TDWFileMgr::initAltDataDir(const QString &path)
{
    setDataDir(path);
    hasData().store(true, std::memory_order_release);
}

void TDWFileMgr::reset()
{
    std::lock_guard lock(initMutex());
    hasData().store(false, std::memory_order_release);
    publish(nullptr);
}

QString TDWFileMgr::dataFilePath()
{
    initData();
    return currentLayout()->dataFilePath;
}

QString TDWFileMgr::backedUpItemsPathForService(const QString &serviceId)
{
    const QString itemDir = TDWServiceTable::shared().serviceConfig(serviceId).itemDir;
    if (itemDir.isEmpty())
        return {};
    return appendComponent(backedUpItemsPath(), itemDir);
}

QString TDWFileMgr::backedUpItemsPath()
{
    initData();
    const QString chosen = altBackupLocation();
    return chosen.isEmpty() ? currentLayout()->defaultBackupLocation : chosen;
}

QString TDWFileMgr::altBackupLocation()
{
    return TDWUserDefaults::standard()->stringForKey(TDWSettingsKeys::AltBackupLocation);
}

QString TDWFileMgr::itemListXmlPathForService(const QString &serviceId)
{
    initData();
    return currentLayout()->itemListXmlPaths.value(serviceId);
}

QString TDWFileMgr::tempPath()
{
    initData();
    return currentLayout()->tmpDirPath;
}

QString TDWFileMgr::auxiliaryStoresDir()
{
    initData();
    const QString path = appendComponent(currentLayout()->appSupportDir, QStringLiteral("Auxiliary Stores"));
    if (!existsAt(path))
        TDWPrivateFiles::makeFolder(path);
    return path;
}

QString TDWFileMgr::altLocBookmarkFileLocation()
{
    initData();
    return currentLayout()->altBookmarkFileLocation;
}

QString TDWFileMgr::appSupportDir()
{
    const Layout *layout = currentLayout();
    return layout ? layout->appSupportDir : QString();
}

QString TDWFileMgr::defaultBackupLocation()
{
    const Layout *layout = currentLayout();
    return layout ? layout->defaultBackupLocation : QString();
}
