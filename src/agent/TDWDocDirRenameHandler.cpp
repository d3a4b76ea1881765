#include "agent/TDWDocDirRenameHandler.h"

#include "common/TDWFileMgr.h"
#include "common/TDWFileUtils.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWLog.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <stdio.h>

namespace {

std::mutex &renameMutex()
{
    static std::mutex mutex;
    return mutex;
}

// The title without its extension: "Plan.pdf" gives "Plan"; a leading dot
// starts a name, not an extension.
QString titleBase(const QString &title)
{
    const qsizetype dot = title.lastIndexOf(QLatin1Char('.'));
    const qsizetype slash = title.lastIndexOf(QLatin1Char('/'));
    return dot > slash + 1 ? title.left(dot) : title;
}

QString lastComponent(const QString &path)
{
    return path.section(QLatin1Char('/'), -1);
}

// Points the item and every one of its revisions into the folder `dirPath`;
// revision folder and file names stay.
void rewritePaths(const TDWDoc::Ptr &doc, const QString &dirPath)
{
    doc->setDirPath(dirPath);
    for (const TDWDocRev::Ptr &rev : doc->docRevs()) {
        if (rev->dirPath().isEmpty())
            continue; // nothing of it on disk yet
        const QString revDirPath = dirPath + QLatin1Char('/') + lastComponent(rev->dirPath());
        rev->setDirPath(revDirPath);
        if (!rev->filePath().isEmpty())
            rev->setFilePath(revDirPath + QLatin1Char('/') + lastComponent(rev->filePath()));
    }
}

// Returns the folder to where it was; the old name is normally still free,
// and is never taken from whatever may have claimed it meanwhile.
void moveBack(const QString &movedTo, const QString &oldPath)
{
    if (::renameat2(AT_FDCWD, QFile::encodeName(movedTo).constData(), AT_FDCWD, QFile::encodeName(oldPath).constData(), RENAME_NOREPLACE) == 0)
        return;
    const int code = errno;
    tdwLog(QStringLiteral("ERROR: Unable to move “%1” back to “%2” after the failed save: %3")
               .arg(movedTo, oldPath, QString::fromLocal8Bit(std::strerror(code))));
}

void renameItemFolder(TDWManagedObjectContext &moc, const TDWManagedObjectID &docRevId)
{
    TDWError error;
    const auto rev = std::dynamic_pointer_cast<TDWDocRev>(moc.existingObjectWithID(docRevId, &error));
    const TDWDoc::Ptr doc = rev ? rev->doc() : nullptr;
    if (!doc) {
        tdwLog(QStringLiteral("ERROR: Unable to load the document revision to consider a directory rename: %1").arg(error.description()));
        return;
    }
    const QString base = titleBase(rev->title());
    // An item without a folder has nothing to rename.
    if (doc->dirPath().isEmpty() || TDWFileUtils::dirName(lastComponent(doc->dirPath()), base))
        return;

    const TDWAccount::Ptr account = TDWAccount::byUsername(doc->accountUsername(), moc, &error);
    if (!account) {
        // Without the account there is no account folder to name the new folder in.
        tdwLog(QStringLiteral("ERROR: No account “%1” for a document directory rename: %2").arg(doc->accountUsername(), error.description()));
        return;
    }
    const QString itemsPath = TDWFileMgr::backedUpItemsPathForService(doc->service());
    if (itemsPath.isEmpty()) {
        tdwLog(QStringLiteral("ERROR: No backup folder for service “%1”; document directory not renamed.").arg(doc->service()));
        return;
    }
    const QString oldPath = QDir(itemsPath).filePath(doc->dirPath());
    const QString accountPath = QDir(itemsPath).filePath(account->dirPath());

    TDWError moveError;
    const QString newPath = TDWFileUtils::moveDirectoryIn(oldPath, accountPath, base, &moveError);
    if (newPath.isEmpty()) {
        const QString intended = QDir(accountPath).filePath(TDWFileUtils::generateFilenameFromString(base));
        tdwLog(QStringLiteral("ERROR: Unable to move “%1” to “%2”.  Aborting rename.  Error: %3").arg(oldPath, intended, moveError.localizedDescription()));
        return;
    }

    rewritePaths(doc, account->dirPath() + QLatin1Char('/') + lastComponent(newPath));
    TDWError saveError;
    if (!moc.save(&saveError)) {
        tdwLog(QStringLiteral("ERROR: Unable to save after document directory rename: %1").arg(saveError.localizedDescription()));
        moc.rollback();
        // The store still names the old folder, so the folder goes back there.
        moveBack(newPath, oldPath);
    }
}

} // namespace

void TDWDocDirRenameHandler::considerDocDirRenameForDocRevId(const TDWManagedObjectID &docRevId)
{
    std::lock_guard lock(renameMutex());
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc) {
        tdwLog(QStringLiteral("ERROR: No store to consider a document directory rename in."));
        return;
    }
    renameItemFolder(*moc, docRevId);
}
