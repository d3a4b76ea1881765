#include "mail/TDWMailListRetrievalOperation.h"

#include "common/BKSNotUtils.h"
#include "common/TDWFileMgr.h"
#include "common/TDWServiceIds.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMailFolder.h"
#include "dataobjects/TDWMailItem.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "mail/TDWAllMailUpdateOperation.h"
#include "mail/TDWDeletedMessages.h"
#include "mail/TDWMailFolderListUpdateOperation.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWFileLock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWContextReset.h"
#include "status/TDWActivityMonitor.h"

#include <QDir>
#include <QFile>

namespace {


// The byte-count line of a message file holding no message.
const QByteArray EmptyMessageCountLine = QByteArrayLiteral("0         \n");

enum Outcome : qint32 { Done = 0, Cancelled = 1, Failed = 2 };

} // namespace

TDWMailListRetrievalOperation::TDWMailListRetrievalOperation(const QString &accountUsername, const TDWManagedObjectID &backupIterationObjectID)
    : TDWListRetrievalOperation(accountUsername, backupIterationObjectID, TDWServiceIds::Mail)
{
    m_opQueue.setMaxConcurrentOperationCount(1);
}

TDWMailListRetrievalOperation::~TDWMailListRetrievalOperation() = default;

void TDWMailListRetrievalOperation::cancel()
{
    m_opQueue.cancelAllOperations();
    TDWListRetrievalOperation::cancel();
}

bool TDWMailListRetrievalOperation::messageFileLooksEmpty(const QByteArray &firstBytes)
{
    return firstBytes.size() <= 10 || firstBytes.startsWith(EmptyMessageCountLine);
}

void TDWMailListRetrievalOperation::main()
{
    const auto storeMgr = TDWMasterStore::shared().storeMgr();
    m_accountServiceStore = storeMgr ? storeMgr->storeForAccountUsername(accountUsername(), TDWServiceIds::Mail) : nullptr;
    if (!m_accountServiceStore) {
        tdwLog(QStringLiteral("ERROR: Unable to find account/service store."));
        return;
    }
    bool initial = true;
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const TDWContextReset resetOnExit{moc.get()};
        if (const TDWAccount::Ptr account = TDWAccount::byUsername(accountUsername(), *moc, nullptr))
            initial = !account->lastListIterationForService(TDWServiceIds::Mail);
    }
    TDWActivityMonitor *monitor = TDWActivityMonitor::shared();
    if (monitor)
        monitor->startedRetrievingMailListForAccountUsername(accountUsername(), initial);

    qint32 outcome = Cancelled;
    // The last two stages go together: the iteration recorded, expiry follows.
    if (!isCancelled() && fixNullMessageBug() && !isCancelled() && updateFolderList() && !isCancelled() && processAllMail()
        && !isCancelled() && updateLastListIteration() && deleteExpiredMailItemsAndFolders())
        outcome = Done;
    if (outcome == Cancelled && !isCancelled())
        outcome = Failed;
    if (monitor)
        monitor->doneRetrievingListForAccountUsername(accountUsername(), service(), outcome);
}

template <class Operation>
bool TDWMailListRetrievalOperation::runStage()
{
    auto operation = std::make_shared<Operation>(accountUsername(), backupIterationObjectID());
    m_opQueue.addOperation(operation);
    m_opQueue.waitUntilAllOperationsAreFinished();
    return operation->success();
}

bool TDWMailListRetrievalOperation::updateFolderList()
{
    return runStage<TDWMailFolderListUpdateOperation>();
}

bool TDWMailListRetrievalOperation::processAllMail()
{
    return runStage<TDWAllMailUpdateOperation>();
}

bool TDWMailListRetrievalOperation::updateLastListIteration()
{
    const auto moc = TDWMasterStore::shared().newMoc();
    const TDWContextReset resetOnExit{moc.get()};
    const auto iteration = std::dynamic_pointer_cast<TDWBackupIteration>(moc->existingObjectWithID(backupIterationObjectID(), nullptr));
    if (!iteration) {
        tdwLog(QStringLiteral("ERROR: Unable to find backup iteration in TDWMailListRetrievalOperation"));
        return false;
    }
    const TDWAccount::Ptr account = TDWAccount::byUsername(accountUsername(), *moc, nullptr);
    if (!account) {
        tdwLog(QStringLiteral("ERROR: TDWMailListRetrievalOperation - unable to get account to save last list iteration"));
        return false;
    }
    account->setLastListIteration(iteration, TDWServiceIds::Mail);
    account->setLastStatus(1);
    TDWError error;
    if (!moc->save(&error)) {
        tdwLog(QStringLiteral("ERROR: Unable to save moc: %1").arg(error.localizedDescription()));
        return false;
    }
    return true;
}

bool TDWMailListRetrievalOperation::deleteExpiredMailItemsAndFolders()
{
    const std::optional<qint64> keeping = TDWDeletedMessages::keepingSeconds();
    if (!keeping)
        return true;
    const QDateTime cutoff = TDWClock::now().addSecs(-*keeping);
    const auto moc = TDWMasterStore::shared().newMoc();
    const TDWContextReset resetOnExit{moc.get()};
    for (const TDWMailFolder::Ptr &folder : TDWMailFolder::obsoletedSinceBefore(cutoff, m_accountServiceStore, *moc).value_or(QList<TDWMailFolder::Ptr>()))
        moc->deleteObject(folder);
    for (const TDWMailItem::Ptr &item : TDWMailItem::obsoletedSinceBefore(cutoff, *moc).value_or(QList<TDWMailItem::Ptr>()))
        moc->deleteObject(item);
    for (const TDWBackupIteration::Ptr &iteration :
         TDWBackupIteration::backupIterationsNotOutdatedBefore(cutoff, *moc).value_or(QList<TDWBackupIteration::Ptr>()))
        iteration->setOutdated(true);
    TDWError error;
    if (!moc->save(&error)) {
        tdwLog(QStringLiteral("ERROR: Unable to save in deleteExpiredMailItemsAndFolders: %1 -- %2").arg(error.localizedDescription(), error.description()));
        return false;
    }
    return true;
}

bool TDWMailListRetrievalOperation::fixNullMessageBug()
{
    const auto moc = TDWMasterStore::shared().newMoc();
    const TDWContextReset resetOnExit{moc.get()};
    const TDWAccount::Ptr account = TDWAccount::byUsername(accountUsername(), *moc, nullptr);
    const auto setting = account ? account->settingForService(TDWServiceIds::Mail) : nullptr;
    if (!setting)
        return false;
    if (setting->fixedMailData211BugFix())
        return true;

    tdwLog(QStringLiteral("Looking for messages to fix for the 2.1.1 bug fix update for %1").arg(accountUsername()));
    TDWError error;
    const auto backedUp = TDWDocRev::withPredicate(TDWPredicate::parse(QStringLiteral("exportStatus = %@"), {qint64(TDWDocRev::BackedUp)}),
                                                   {m_accountServiceStore}, *moc, &error);
    if (!backedUp) {
        tdwLog(QStringLiteral("ERROR: Unable to complete fixNullMessageBug because allDocs returned null."));
        return false;
    }
    const QDir mailFolder(TDWFileMgr::backedUpItemsPathForService(TDWServiceIds::Mail));
    QStringList emptyFiles;
    for (const TDWDocRev::Ptr &revision : *backedUp) {
        const TDWDoc::Ptr doc = revision->doc();
        if (!doc)
            continue;
        const QString fullPath = mailFolder.filePath(revision->filePath());
        QFile file(fullPath);
        const bool readable = file.open(QIODevice::ReadOnly);
        if (readable && !messageFileLooksEmpty(file.read(EmptyMessageCountLine.size())))
            continue;
        tdwLog(QStringLiteral("Marking previously backed up message as failed -- subject: %1, from: %2, to: %3, date: %4")
                   .arg(revision->title(), revision->from(), revision->to(), revision->lastModifiedDate().toString(Qt::ISODate)));
        revision->setExportStatus(TDWDocRev::DownloadFailed);
        // Only a file read and found empty goes; one that could not be read
        // is downloaded again over itself.
        if (readable)
            emptyFiles.append(fullPath);
        BKSNotUtils::postNotificationName(QStringLiteral("retrievalattempted"), this,
                                          {{QStringLiteral("docrev_status"), revision->exportStatus()},
                                           {QStringLiteral("docrev_docid"), doc->docId()},
                                           {QStringLiteral("accountUsername"), accountUsername()},
                                           {QStringLiteral("docrevobjectid"), QVariant::fromValue(revision->objectID())},
                                           {QStringLiteral("service"), doc->service()}},
                                          false);
    }
    setting->setFixedMailData211BugFix(true);
    if (!moc->save(&error)) {
        tdwLog(QStringLiteral("ERROR: Unable to save in fixNullMessageBug: %1").arg(error.localizedDescription()));
        return false;
    }
    for (const QString &path : std::as_const(emptyFiles)) {
        TDWFileLock::setLocked(path, false);
        if (!QFile::remove(path))
            tdwLog(QStringLiteral("ERROR: Unable to delete %1 in fixNullMessageBug").arg(path));
    }
    tdwLog(QStringLiteral("Finished looking for messages to fix for the 2.1.1 bug fix update for %1").arg(accountUsername()));
    return true;
}
