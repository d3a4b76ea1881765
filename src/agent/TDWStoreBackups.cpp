#include "agent/TDWStoreBackups.h"

#include "common/TDWFileMgr.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

namespace {

const QString FolderNameFormat = QStringLiteral("yyyy-MM-dd HH-mm-ss");
const QString TemporarySuffix = QStringLiteral("_tmp");

QString errnoText()
{
    return qt_error_string(errno);
}

// Creates one folder, not its parents; an existing one is a failure.
bool createDirectory(const QString &path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0755) == 0)
        return true;
    tdwLog(QStringLiteral("ERROR: Unable to create directory at %1: %2").arg(path, errnoText()));
    return false;
}

// The copy goes through the store's own connections when the program holds it open.
bool copyStore(const QString &source, const QString &destination)
{
    TDWError error;
    const auto coordinator = TDWMasterStore::shared().persistentStoreCoordinator();
    const bool copied = coordinator ? coordinator->copyStoreFileAtPath(source, destination, &error)
                                    : TDWPersistentStore::copyFile(source, destination, &error);
    if (!copied)
        tdwLog(QStringLiteral("ERROR: Unable to copy %1 to %2: %3").arg(source, destination, error.localizedDescription()));
    return copied;
}

// Removes one snapshot; a link is removed itself, never what it points to.
bool removeSnapshot(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isDir())
        return QFile::remove(path);
    return QDir(path).removeRecursively();
}

bool isTemporaryName(const QString &name)
{
    const qsizetype at = name.indexOf(TemporarySuffix);
    return at >= 0 && at == name.size() - TemporarySuffix.size();
}

} // namespace

QString TDWStoreBackups::folderNameForDate(const QDateTime &date)
{
    return date.toLocalTime().toString(FolderNameFormat);
}

void TDWStoreBackups::backUpStoresIfNecessary()
{
    // Never a folder relative to wherever the program happens to run.
    TDWFileMgr::initData();
    const QString dir = QDir(TDWFileMgr::appSupportDir()).filePath(QStringLiteral("Store Backups"));
    if (!QFileInfo::exists(dir) && !QDir().mkpath(dir)) {
        tdwLog(QStringLiteral("ERROR: Unable to create backup stores directory: %1").arg(errnoText()));
        return;
    }
    QDir listing(dir);
    if (!listing.isReadable()) {
        tdwLog(QStringLiteral("ERROR: Unable to list files in %1: %2").arg(dir, QStringLiteral("the folder cannot be read")));
        return;
    }
    const QDateTime now = TDWClock::now();
    bool due = true;
    const QStringList names = listing.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString &name : names) {
        if (name.startsWith(QLatin1Char('.')) || isTemporaryName(name))
            continue;
        const QDateTime date = QDateTime::fromString(name, FolderNameFormat);
        if (!date.isValid()) {
            tdwLog(QStringLiteral("ERROR: Unable to parse date from subfolder name: %1").arg(name));
            continue;
        }
        const qint64 age = date.secsTo(now);
        if (age > MaxAgeSeconds) {
            const QString path = listing.filePath(name);
            if (!removeSnapshot(path))
                tdwLog(QStringLiteral("ERROR: Unable to delete directory at %1: %2").arg(path, errnoText()));
        }
        if (age < MinIntervalSeconds)
            due = false;
    }
    if (!due)
        return;
    const QString name = folderNameForDate(now);
    const QString temporary = listing.filePath(name + TemporarySuffix);
    const QString finalPath = listing.filePath(name);
    if (!backUpStoresTo(temporary))
        return;
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(finalPath).constData()) != 0)
        tdwLog(QStringLiteral("ERROR: Unable to move %1 to %2: %3").arg(temporary, finalPath, errnoText()));
}

bool TDWStoreBackups::backUpStoresTo(const QString &path)
{
    if (!createDirectory(path))
        return false;
    const QString master = TDWFileMgr::dataFilePath();
    if (!copyStore(master, QDir(path).filePath(QFileInfo(master).fileName())))
        return false;

    const QString aux = TDWFileMgr::auxiliaryStoresDir();
    if (!QFileInfo::exists(aux))
        return true;
    const QString auxCopy = QDir(path).filePath(QStringLiteral("Auxiliary Stores"));
    if (!createDirectory(auxCopy))
        return false;
    const QDir auxDir(aux);
    if (!auxDir.isReadable()) {
        tdwLog(QStringLiteral("ERROR: Unable to list files in %1: %2").arg(aux, QStringLiteral("the folder cannot be read")));
        return false;
    }
    // The side files' contents are folded into each copy. One store that cannot
    // be copied does not keep the others from their copies.
    for (const QString &name : auxDir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
        if (!TDWPersistentStoreCoordinator::isSideFileName(name))
            copyStore(auxDir.filePath(name), QDir(auxCopy).filePath(name));
    }
    return true;
}
