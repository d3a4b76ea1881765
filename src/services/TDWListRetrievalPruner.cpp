#include "services/TDWListRetrievalPruner.h"

#include "agent/TDWLockUnlockAllBackupFilesOperation.h"
#include "common/TDWFileMgr.h"
#include "common/TDWFileUtils.h"
#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocParent.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/store/TDWContextReset.h"
#include "services/TDWDocListRetrievalOperation.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {

QString eventStoresFolder()
{
    return QDir(TDWMasterStore::applicationSupportFolder()).filePath(QStringLiteral("calendarevents"));
}

// The revision's file and then its folder, so that the folder goes once its last file has.
void appendFileOf(const TDWDocRev::Ptr &rev, QStringList *paths)
{
    const QString filePath = rev->filePath();
    if (filePath.isEmpty())
        return;
    paths->append(filePath);
    paths->append(QFileInfo(filePath).path());
}

void appendFoldersOf(const TDWDoc::Ptr &doc, QStringList *paths, QStringList *eventStores)
{
    if (!doc->dirPath().isEmpty())
        paths->append(doc->dirPath());
    if (!doc->databaseFilePath().isEmpty())
        eventStores->append(doc->databaseFilePath());
}

// The integer that the name begins with (after blanks and a sign), 0 when none:
// the run folders are named by their start time in seconds.
qint64 leadingInteger(const QString &name)
{
    qsizetype i = 0;
    while (i < name.size() && name.at(i).isSpace())
        ++i;
    const qsizetype signAt = i;
    if (i < name.size() && (name.at(i) == u'-' || name.at(i) == u'+'))
        ++i;
    qsizetype end = i;
    while (end < name.size() && name.at(end) >= u'0' && name.at(end) <= u'9')
        ++end;
    return end == i ? 0 : name.mid(signAt, end - signAt).toLongLong();
}

} // namespace

TDWListRetrievalPruner::TDWListRetrievalPruner(const QString &accountUsername, const QString &service, TDWPersistentStorePtr accountServiceStore)
    : m_accountUsername(accountUsername)
    , m_service(service)
    , m_store(std::move(accountServiceStore))
{
}

std::optional<QDateTime> TDWListRetrievalPruner::cutOff(const QDateTime &now)
{
    const qint32 delta = qint32(TDWUserDefaults::standard()->integerForKey(TDWSettingsKeys::DeleteReferenceDeltaSeconds));
    if (delta == -1)
        return std::nullopt;
    return now.addSecs(-(delta == 0 ? DefaultKeepSeconds : qint64(delta)));
}

void TDWListRetrievalPruner::deleteOldBackups(bool limitedFullRun)
{
    const std::optional<QDateTime> before = cutOff(TDWClock::now());
    if (!before)
        return;
    Removals removals;
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
        const TDWContextReset reset(moc.get());
        if (!moc || !pruneStore(*before, limitedFullRun, *moc, &removals))
            return;
    }
    removeFromDisk(removals);
}

bool TDWListRetrievalPruner::pruneStore(const QDateTime &cutOff, bool limitedFullRun, TDWManagedObjectContext &moc, Removals *removals)
{
    TDWError error;
    if (!TDWAccount::byUsername(m_accountUsername, moc, &error)) {
        tdwLog(QStringLiteral("ERROR: deleteOldBackups failed - unable to retrieve account"));
        return false;
    }
    const std::optional<QList<TDWDocRev::Ptr>> oldRevs = TDWDocRev::olderThan(cutOff, m_store, moc, &error);
    if (!oldRevs) {
        tdwLog(QStringLiteral("ERROR: deleteOldBackups failed - unable to retrieve list of old docrev's: %1").arg(error.localizedDescription()));
        return false;
    }
    QList<TDWDoc::Ptr> docs;
    QSet<const TDWDoc *> seen;
    for (const TDWDocRev::Ptr &rev : *oldRevs) {
        const TDWDoc::Ptr doc = rev->doc();
        if (doc && !seen.contains(doc.get())) {
            seen.insert(doc.get());
            docs.append(doc);
        }
    }
    for (const TDWDoc::Ptr &doc : docs) {
        const std::optional<QList<TDWDocRev::Ptr>> revs = TDWDocRev::forDoc(doc, cutOff, moc, &error);
        for (const TDWDocRev::Ptr &rev : revs.value_or(QList<TDWDocRev::Ptr>())) {
            appendFileOf(rev, &removals->paths);
            moc.deleteObject(rev);
            if (TDWMetadataObject::allDeleted(doc->docRevs())) {
                appendFoldersOf(doc, &removals->paths, &removals->eventStores);
                moc.deleteObject(doc);
            }
        }
    }
    if (limitedFullRun && m_service == TDWServiceIds::Docs && !removeOtherThanGoogleDocs(moc, removals))
        return false;
    for (const TDWDocParent::Ptr &link : TDWDocParent::obsoletedBefore(cutOff, m_store, moc).value_or(QList<TDWDocParent::Ptr>()))
        moc.deleteObject(link);
    for (const TDWBackupIteration::Ptr &iteration :
         TDWBackupIteration::backupIterationsNotOutdatedBefore(cutOff, moc).value_or(QList<TDWBackupIteration::Ptr>()))
        iteration->setOutdated(true);
    if (!moc.save(&error)) {
        tdwLog(QStringLiteral("ERROR: Unable to save in deleteOldBackups: %1").arg(error.localizedDescription()));
        return false;
    }
    return true;
}

bool TDWListRetrievalPruner::removeOtherThanGoogleDocs(TDWManagedObjectContext &moc, Removals *removals)
{
    QStringList keep;
    for (const QVariant &item : TDWServiceTable::shared().docTypeConfigs()) {
        const QVariantMap docType = item.toMap();
        if (TDWDocListRetrievalOperation::googleDocMimeTypes().contains(docType.value(QStringLiteral("googleMimeType")).toString()))
            keep.append(docType.value(QStringLiteral("id")).toString());
    }
    TDWError error;
    const std::optional<QList<TDWDoc::Ptr>> docs = TDWDoc::byDocTypesNotIn(keep, m_store, moc, &error);
    if (!docs) {
        tdwLog(QStringLiteral("ERROR: Unable to retrieve docs that need deleting: %1").arg(error.localizedDescription()));
        return false;
    }
    for (const TDWDoc::Ptr &doc : *docs) {
        for (const TDWDocRev::Ptr &rev : doc->docRevs()) {
            appendFileOf(rev, &removals->paths);
            moc.deleteObject(rev);
        }
        appendFoldersOf(doc, &removals->paths, &removals->eventStores);
        moc.deleteObject(doc);
    }
    return true;
}

void TDWListRetrievalPruner::removeFromDisk(const Removals &removals) const
{
    const QDir items(TDWFileMgr::backedUpItemsPathForService(m_service));
    for (const QString &relative : removals.paths) {
        const QString path = items.filePath(relative);
        const QFileInfo info(path);
        if (!info.exists())
            continue;
        if (info.isDir()) {
            if (TDWFileUtils::emptyDir(path) && !QDir(path).removeRecursively())
                tdwLog(QStringLiteral("ERROR: Error deleting directory at “%1”: %2").arg(path, QStringLiteral("unable to remove")));
            continue;
        }
        // Backed-up files may be locked; the outcome is seen in the removal.
        TDWLockUnlockAllBackupFilesOperation::lock(false, path);
        tdwLog(QStringLiteral("Deleting file at %1").arg(path));
        QFile file(path);
        if (!file.remove())
            tdwLog(QStringLiteral("ERROR: Error deleting file at “%1”: %2").arg(path, file.errorString()));
    }
    const QDir eventStores(eventStoresFolder());
    for (const QString &relative : removals.eventStores) {
        const QString path = eventStores.filePath(relative);
        QFile file(path);
        if (file.exists() && !file.remove())
            tdwLog(QStringLiteral("ERROR: Error deleting file at “%1”: %2").arg(path, file.errorString()));
    }
}

void TDWListRetrievalPruner::deleteOldDocListFiles()
{
    QString accountDirPath;
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
        const TDWContextReset reset(moc.get());
        TDWError error;
        if (const TDWAccount::Ptr account = moc ? TDWAccount::byUsername(m_accountUsername, *moc, &error) : nullptr)
            accountDirPath = account->dirPath();
    }
    if (accountDirPath.isEmpty())
        return;
    const QDir folder(QDir(TDWFileMgr::itemListXmlPathForService(m_service)).filePath(accountDirPath));
    const qint64 limit = TDWClock::now().toSecsSinceEpoch() - ListPageKeepSeconds;
    for (const QString &name : folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const qint64 stamp = leadingInteger(name);
        if (stamp == 0 || stamp >= limit)
            continue;
        const QString path = folder.filePath(name);
        if (QFileInfo(path).isDir())
            QDir(path).removeRecursively();
        else
            QFile::remove(path);
    }
}
