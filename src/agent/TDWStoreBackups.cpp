#include "agent/TDWStoreBackups.h"

#include "common/TDWFileMgr.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWSafeFile.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>

namespace {

const QString FolderNameFormat = QStringLiteral("yyyy-MM-dd HH-mm-ss");
const QString EarlierTemporarySuffix = QStringLiteral("_tmp");

QString errnoText()
{
    return qt_error_string(errno);
}

// Creates one folder, not its parents; an existing one is a failure.
bool createDirectory(const QString &path)
{
    if (::mkdir(QFile::encodeName(path).constData(), TDWPrivateFiles::FolderMode) == 0)
        return true;
    tdwLog(QStringLiteral("ERROR: Unable to create directory at %1: %2").arg(path, errnoText()));
    return false;
}

// The copy is filled under a temporary name and takes its own only once it
// is whole and checked; it goes through the store's own connections when the
// program holds it open.
bool copyStore(const QString &source, const QString &destination)
{
    TDWError error;
    TDWSafeFile file(destination, TDWPrivateFiles::FileMode, TDWSafeFile::Target::CreateOnly);
    bool copied = file.open(&error);
    if (copied) {
        const auto coordinator = TDWMasterStore::shared().persistentStoreCoordinator();
        copied = coordinator ? coordinator->copyStoreFileAtPath(source, file.temporaryPath(), &error)
                             : TDWPersistentStore::copyFile(source, file.temporaryPath(), &error);
        copied = copied && file.commit(&error);
    }
    if (!copied)
        tdwLog(QStringLiteral("ERROR: Unable to copy %1 to %2: %3").arg(source, destination, error.localizedDescription()));
    return copied;
}

bool copyStoresInto(const QString &path)
{
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
        if (!TDWPersistentStoreCoordinator::isSideFileName(name) && !TDWSafeFile::isTemporaryName(name))
            copyStore(auxDir.filePath(name), QDir(auxCopy).filePath(name));
    }
    return true;
}

// Removes one snapshot; a link is removed itself, never what it points to.
bool removeSnapshot(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isDir())
        return QFile::remove(path);
    return QDir(path).removeRecursively();
}

// The folder in which earlier versions built a snapshot; a run killed
// meanwhile left it behind.
bool isEarlierTemporaryName(const QString &name)
{
    return name.endsWith(EarlierTemporarySuffix);
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
    if (!TDWPrivateFiles::makeFolder(dir)) {
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
        // A dot name is hidden, or a snapshot being made (swept at start-up).
        if (name.startsWith(QLatin1Char('.')))
            continue;
        if (isEarlierTemporaryName(name)) {
            const QString path = listing.filePath(name);
            if (!removeSnapshot(path))
                tdwLog(QStringLiteral("ERROR: Unable to delete directory at %1: %2").arg(path, errnoText()));
            continue;
        }
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
    // Made under a temporary name and put in place whole: a kill never leaves
    // a partial snapshot that would pass for the day's.
    const QString finalPath = listing.filePath(folderNameForDate(now));
    TDWError error;
    const QString temporary = TDWSafeFile::createTemporaryFolder(finalPath, TDWPrivateFiles::FolderMode, &error);
    if (temporary.isEmpty()) {
        tdwLog(QStringLiteral("ERROR: Unable to create directory at %1: %2").arg(finalPath, error.localizedDescription()));
        return;
    }
    if (!copyStoresInto(temporary)) {
        QDir(temporary).removeRecursively();
        return;
    }
    if (!TDWSafeFile::commitFolder(temporary, finalPath, &error))
        tdwLog(QStringLiteral("ERROR: Unable to move %1 to %2: %3").arg(temporary, finalPath, error.localizedDescription()));
}

bool TDWStoreBackups::backUpStoresTo(const QString &path)
{
    return createDirectory(path) && copyStoresInto(path);
}
