#include "agent/TDWCheckForMissingOperation.h"

#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/predicate/TDWPredicateObjectRef.h"
#include "status/TDWActivityMonitor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

namespace {

TDWPersistentStorePtr storeFor(const QString &username, const QString &service)
{
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    return storeMgr ? storeMgr->storeForAccountUsername(username, service) : nullptr;
}

// Anything there, a dangling link too: one lstat, where QFileInfo costs
// several times that for each of the mailbox's files.
bool existsAt(const QString &path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

// Removes the folders in `relativeFolder` (relative to `items`, as the rows'
// folders are) that `named` does not hold; answers the others, relative too.
QStringList removeUnnamedFolders(const QDir &items, const QString &relativeFolder, const QSet<QString> &named)
{
    QStringList kept;
    const QStringList folders = QDir(items.filePath(relativeFolder)).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QString &name : folders) {
        const QString relative = relativeFolder + QLatin1Char('/') + name;
        if (named.contains(relative)) {
            kept << relative;
            continue;
        }
        const QString path = items.filePath(relative);
        tdwLog(QStringLiteral("Removing the folder “%1”, which no backed-up item names").arg(path));
        if (!QDir(path).removeRecursively())
            tdwLog(QStringLiteral("ERROR: Unable to remove the folder “%1”").arg(path));
    }
    return kept;
}

} // namespace

TDWCheckForMissingOperation::TDWCheckForMissingOperation(const QString &username, const QString &service)
    : m_username(username)
    , m_service(service)
    , m_accountServiceStore(storeFor(username, service))
{
}

void TDWCheckForMissingOperation::main()
{
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc)
        return;
    const TDWAccountServiceSetting::Ptr setting = TDWAccountServiceSetting::byAccountUsername(m_username, m_service, *moc);
    // A list never retrieved completely has promised no files yet.
    if (!setting || !setting->lastListIteration())
        return;
    // Without its own store the fetch below would search every account's.
    if (!m_accountServiceStore) {
        tdwLog(QStringLiteral("ERROR: No store for %1 %2 to check for missing files in.").arg(m_username, m_service));
        return;
    }
    if (TDWActivityMonitor *monitor = TDWActivityMonitor::shared())
        monitor->startedValidatingBackupsForAccountUsername(m_username, m_service);

    const auto docRevIds = TDWDocRev::idsWithPredicate(TDWPredicate::parse(QStringLiteral("exportStatus = %@"), {qlonglong(TDWDocRev::BackedUp)}),
                                                       m_accountServiceStore, *moc, nullptr);
    if (docRevIds) {
        for (qsizetype first = 0; first < docRevIds->size(); first += BatchSize)
            checkDocRevIds(docRevIds->mid(first, BatchSize));
    }
    TDWError error;
    if (!moc->save(&error))
        tdwLog(QStringLiteral("ERROR: Unable to save in checkForMissingBackups: %1").arg(error.description()));
    moc->reset();
}

void TDWCheckForMissingOperation::checkDocRevIds(const QList<TDWManagedObjectID> &docRevIds)
{
    const QString itemsPath = TDWFileMgr::backedUpItemsPathForService(m_service);
    // Revision paths are relative to it; without it they would name places in the working folder.
    if (itemsPath.isEmpty() || !m_accountServiceStore)
        return;
    const QString chosenFolder = TDWFileMgr::altBackupLocation();
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc)
        return;

    QVariantList refs;
    refs.reserve(docRevIds.size());
    for (const TDWManagedObjectID &id : docRevIds)
        refs.append(QVariant::fromValue(id.predicateObjectRef()));
    TDWFetchRequest request(QStringLiteral("DocRev"));
    request.setPredicate(TDWPredicate::parse(QStringLiteral("self in %@"), {QVariant(refs)}));
    request.setAffectedStores({m_accountServiceStore});
    request.setPropertiesToFetch({TDWFetchRequest::ObjectIDKey, QStringLiteral("filePath")});
    const auto rows = moc->executeDictionaryFetchRequest(request, nullptr);
    if (!rows) {
        tdwLog(QStringLiteral("ERROR: Unable to retrieve docRevDics in TDWCheckForMissingOperation."));
        return;
    }

    const QDir items(itemsPath);
    // Messages share folders: each is looked at once per batch.
    QSet<QString> foldersSeen;
    for (const QVariantMap &row : *rows) {
        // A chosen folder that is absent (a volume not mounted) proves nothing missing.
        if (!chosenFolder.isEmpty() && !existsAt(chosenFolder))
            continue;
        const QString path = items.filePath(row.value(QStringLiteral("filePath")).toString());
        if (!existsAt(path)) {
            tdwLog(QStringLiteral("ERROR: Missing file at path “%1”").arg(path));
            if (const auto rev = std::dynamic_pointer_cast<TDWDocRev>(moc->objectWithID(row.value(TDWFetchRequest::ObjectIDKey).value<TDWManagedObjectID>())))
                rev->setExportStatus(TDWDocRev::FileMissing);
        }
        // The download writes into this folder again.
        const QString folder = QFileInfo(path).path();
        if (foldersSeen.contains(folder))
            continue;
        foldersSeen.insert(folder);
        if (!existsAt(folder))
            TDWPrivateFiles::makeFolder(folder);
    }
    TDWError error;
    if (!moc->save(&error))
        tdwLog(QStringLiteral("ERROR: Unable to save in checkDocRevIds: %1").arg(error.description()));
    moc->reset();
}

void TDWCheckForMissingOperation::removeOrphanFolders()
{
    const QString itemsPath = TDWFileMgr::backedUpItemsPathForService(m_service);
    const QString chosenFolder = TDWFileMgr::altBackupLocation();
    if (itemsPath.isEmpty() || !m_accountServiceStore || (!chosenFolder.isEmpty() && !existsAt(chosenFolder)))
        return;
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc)
        return;
    const TDWAccount::Ptr account = TDWAccount::byUsername(m_username, *moc, nullptr);
    TDWError error;
    // Nothing is removed unless every name in use could be read.
    const std::optional<QSet<QString>> named = account ? TDWDoc::folderPathsInUse(m_accountServiceStore, *moc, &error) : std::nullopt;
    const QString accountPath = account ? account->dirPath() : QString();
    moc->reset();
    if (!named || accountPath.isEmpty())
        return;
    // Item folders below the account's folder, then revision folders below each item's.
    const QDir items(itemsPath);
    for (const QString &item : removeUnnamedFolders(items, accountPath, *named))
        removeUnnamedFolders(items, item, *named);
}
