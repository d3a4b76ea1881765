#include "accounts/TDWAccountDeleter.h"

#include "accounts/TDWAccountDeleterError.h"
#include "accounts/TDWKeychainMgr.h"
#include "common/TDWFileMgr.h"
#include "common/TDWServiceTable.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

namespace {

const QString CalendarEventsFolder = QStringLiteral("calendarevents");

// A folder name of exactly one account: one plain path component, so that
// joined with a service folder it can only name a folder inside it.
bool isOwnFolderName(const QString &dirPath)
{
    return !dirPath.isEmpty() && dirPath != QLatin1String(".") && dirPath != QLatin1String("..") && !dirPath.contains(QLatin1Char('/'))
           && !dirPath.contains(QChar(0));
}

// Removes `parent`/`dirPath` with everything below it. A locked file has no
// write bits, which does not keep it from being removed: that needs only the
// folder's write permission. A link is removed as a link, never followed, so
// nothing outside the account's folder goes. False when something stayed.
bool removeAccountFolder(const QString &parent, const QString &dirPath)
{
    const QString path = QDir(parent).filePath(dirPath);
    const QFileInfo info(path);
    if (info.isSymLink())
        return QFile::remove(path);
    if (!info.exists())
        return true;
    return info.isDir() ? QDir(path).removeRecursively() : QFile::remove(path);
}

// Whether an account other than the deleted one still uses the folder name.
bool folderNameInUse(const QString &dirPath, TDWManagedObjectContext &moc)
{
    TDWError error;
    const auto accounts = TDWAccount::all(moc, &error);
    if (!accounts)
        return true; // unknown: keep the folders
    for (const TDWAccount::Ptr &account : *accounts)
        if (account->dirPath().compare(dirPath, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

void removeFolders(const QString &dirPath)
{
    for (const TDWServiceConfig &service : TDWServiceTable::shared().serviceConfigs()) {
        const QString items = TDWFileMgr::backedUpItemsPathForService(service.id);
        if (!items.isEmpty() && !removeAccountFolder(items, dirPath))
            tdwLog(QStringLiteral("ERROR: Unable to remove %1: %2").arg(QDir(items).filePath(dirPath), QStringLiteral("some files could not be removed")));
        // Item lists can be fetched again: a failure here is not worth a line.
        const QString lists = TDWFileMgr::itemListXmlPathForService(service.id);
        if (!lists.isEmpty())
            removeAccountFolder(lists, dirPath);
    }
    removeAccountFolder(QDir(TDWMasterStore::applicationSupportFolder()).filePath(CalendarEventsFolder), dirPath);
}

} // namespace

bool TDWAccountDeleter::deleteAccount(const QString &username, TDWError *error)
{
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc) {
        tdwSetError(error, TDWAccountDeleterError::make(TDWAccountDeleterError::NoStore, QStringLiteral("No store is open")));
        return false;
    }
    TDWError failure;
    const TDWAccount::Ptr account = TDWAccount::byUsername(username, *moc, &failure);
    if (!account) {
        if (failure.isNull())
            return true; // deleted already
        tdwSetError(error, failure);
        return false;
    }
    const QString dirPath = account->dirPath();
    const QStringList storeFilenames = TDWStoreMgr::storeFilenames(*account);

    moc->deleteObject(account);
    if (!moc->save(&failure)) {
        tdwLog(QStringLiteral("ERROR: error deleting account: %1 %2").arg(failure.localizedDescription(), failure.description()));
        moc->rollback();
        tdwSetError(error, failure);
        return false;
    }

    if (const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr())
        storeMgr->deleteStores(username, storeFilenames);
    if (!isOwnFolderName(dirPath) || folderNameInUse(dirPath, *moc))
        tdwLog(QStringLiteral("ERROR: Not removing the backup folders of %1: the folder name \u201c%2\u201d is not its own").arg(username, dirPath));
    else
        removeFolders(dirPath);
    TDWKeychainMgr::keychainMgr()->deleteCredentialForUsername(username);
    return true;
}

std::shared_ptr<TDWAsyncOperation<bool>> TDWAccountDeleter::operationForUsername(const QString &username)
{
    using Operation = TDWAsyncOperation<bool>;
    auto launch = [username](Operation::Deliver deliver, Operation::Progress) {
        QThreadPool::globalInstance()->start([username, deliver = std::move(deliver)] {
            TDWError error;
            const bool deleted = deleteAccount(username, &error);
            deliver(error, deleted);
        });
    };
    // Once begun, the deletion runs to its end; cancelling only drops its completion.
    return std::make_shared<Operation>(nullptr, launch, nullptr,
                                       TDWAccountDeleterError::make(TDWAccountDeleterError::Cancelled, QStringLiteral("The deletion was cancelled")));
}
