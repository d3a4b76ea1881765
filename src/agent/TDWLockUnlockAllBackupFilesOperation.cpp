#include "agent/TDWLockUnlockAllBackupFilesOperation.h"

#include "common/TDWFileMgr.h"
#include "common/TDWSettingsKeys.h"
#include "platform/foundation/TDWFileLock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QDirIterator>
#include <QFileInfo>

#include <cerrno>

namespace {

// A file that vanished since it was listed has nothing left to change.
bool changeOrVanish(const QString &path, bool locked)
{
    TDWError error;
    return TDWFileLock::setLocked(path, locked, &error) || error.code() == ENOENT;
}

} // namespace

qint64 TDWLockUnlockAllBackupFilesOperation::lock(bool locked, const QString &path)
{
    const QFileInfo root(path);
    if (!root.isDir())
        return root.isFile() && !changeOrVanish(root.canonicalFilePath(), locked) ? 1 : 0;

    qint64 failed = 0;
    // Without FollowSymlinks the iterator does not enter linked folders, and
    // NoSymLinks keeps links out of the listing altogether.
    QDirIterator it(path, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isFile() && !info.isSymLink() && !changeOrVanish(info.filePath(), locked))
            ++failed;
    }
    return failed;
}

void TDWLockUnlockAllBackupFilesOperation::main()
{
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    // Read before the walk, so that a change during it is not taken as applied.
    const qint64 changeCount = defaults->integerForKey(TDWSettingsKeys::LockBackupFilesLastChanged);
    const bool locked = defaults->boolForKey(TDWSettingsKeys::LockBackupFiles);
    const qint64 failed = lock(locked, TDWFileMgr::backedUpItemsPath());
    if (failed > 0)
        tdwLog(QStringLiteral("ERROR: Unable to %1 backup files: %2 could not be changed")
                   .arg(locked ? QStringLiteral("lock") : QStringLiteral("unlock"))
                   .arg(failed));
    defaults->setInteger(changeCount, TDWSettingsKeys::LockBackupFilesLastPerformed);
}
