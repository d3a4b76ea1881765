#include "mail/TDWMailFolderListUpdateOperation.h"

#include "common/BKSNotUtils.h"
#include "common/TDWServiceIds.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWBackupSettingHistory.h"
#include "dataobjects/TDWMailFolder.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "mail/TDWImapConnectionMgr.h"
#include "mail/TDWMailUtils.h"
#include "platform/foundation/TDWLog.h"
#include "platform/imap/TDWImapSession.h"
#include "platform/store/TDWContextReset.h"

#include <QCoreApplication>
#include <QThread>

#include <thread>

TDWMailFolderListUpdateOperation::TDWMailFolderListUpdateOperation(const QString &accountUsername,
                                                                   const TDWManagedObjectID &backupIterationObjectID)
    : m_accountUsername(accountUsername)
    , m_backupIterationObjectID(backupIterationObjectID)
    , m_watch(std::make_shared<TDWImapRequestWatch>(QStringLiteral("ERROR: Timeout when retrieving the list of folders.")))
{
}

TDWMailFolderListUpdateOperation::~TDWMailFolderListUpdateOperation() = default;

bool TDWMailFolderListUpdateOperation::isConcurrent() const
{
    return true;
}

void TDWMailFolderListUpdateOperation::cancel()
{
    TDWOperation::cancel();
    m_watch->cancel();
}

bool TDWMailFolderListUpdateOperation::success() const
{
    return m_success;
}

void TDWMailFolderListUpdateOperation::main()
{
    m_watch->setOwner(weak_from_this());
    // The request blocks the thread it runs on, which must not be the main one.
    QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        std::thread([self = std::static_pointer_cast<TDWMailFolderListUpdateOperation>(shared_from_this())] { self->runAndFinish(); })
            .detach();
    else
        runAndFinish();
}

void TDWMailFolderListUpdateOperation::runAndFinish()
{
    m_success = update();
    finish();
}

bool TDWMailFolderListUpdateOperation::update()
{
    const auto storeMgr = TDWMasterStore::shared().storeMgr();
    m_accountServiceStore = storeMgr ? storeMgr->storeForAccountUsername(m_accountUsername, TDWServiceIds::Mail) : nullptr;
    if (!m_accountServiceStore) {
        tdwLog(QStringLiteral("ERROR: Unable to find account/service store."));
        return false;
    }
    const std::shared_ptr<TDWImapSession> session = TDWImapConnectionMgr::imapSessionForUsername(m_accountUsername);
    if (!session) {
        tdwLog(QStringLiteral("ERROR: Unable to retrieve foldersWithFlags in TDWMailFolderListUpdateOperation: no access token for %1")
                   .arg(m_accountUsername));
        return false;
    }
    QList<TDWImapFolder> folders;
    TDWError error;
    {
        const TDWImapRequestWatch::Installed watching = m_watch->install();
        folders = m_watch->request(session->fetchAllFoldersOperation(), &error);
    }
    if (isCancelled())
        return false;
    if (!error.isNull()) {
        tdwLog(QStringLiteral("ERROR: Unable to retrieve foldersWithFlags in TDWMailFolderListUpdateOperation: %1").arg(error.localizedDescription()));
        return false;
    }
    return handleFolders(folders);
}

bool TDWMailFolderListUpdateOperation::handleFolders(const QList<TDWImapFolder> &folders)
{
    const auto moc = TDWMasterStore::shared().newMoc();
    const TDWContextReset resetOnExit{moc.get()};
    const auto iteration = std::dynamic_pointer_cast<TDWBackupIteration>(moc->existingObjectWithID(m_backupIterationObjectID, nullptr));
    if (!iteration) {
        tdwLog(QStringLiteral("ERROR: Unable to retrieve backup iteration in TDWMailFolderListUpdateOperation."));
        return false;
    }
    const TDWAccount::Ptr account = TDWAccount::byUsername(m_accountUsername, *moc, nullptr);
    if (!account) {
        tdwLog(QStringLiteral("ERROR: Unable to retrieve account in TDWMailFolderListUpdateOperation."));
        return false;
    }
    const QDateTime date = iteration->iterationStartTime();
    // A missing required folder is logged there; the records still follow the list.
    TDWMailUtils::updateAccount(*account, TDWMailUtils::foldersWithFlagsFrom(folders), std::nullopt, date);

    TDWError error;
    const auto current = TDWMailFolder::byStore(m_accountServiceStore, QDateTime(), *moc, &error);
    if (!current) {
        tdwLog(QStringLiteral("Unable to retrieve list of mail folders in updateFolderPathsByAccount"));
        return false;
    }
    for (const TDWMailFolder::Ptr &folder : *current)
        TDWBackupSettingHistory::recordSetting(m_accountServiceStore, QStringLiteral("backupmailfolder:") + folder->folderPath(),
                                               folder->backup(), date, *moc);
    TDWBackupSettingHistory::recordSetting(m_accountServiceStore, QStringLiteral("backupunlabeled"), account->backupUnlabeled(), date, *moc);

    if (!moc->save(&error)) {
        tdwLog(QStringLiteral("ERROR: Unable to save in TDWMailFolderListUpdateOperation: %1").arg(error.localizedDescription()));
        return false;
    }
    BKSNotUtils::postNotificationName(QStringLiteral("mailfolderlistchanged"), this, {{QStringLiteral("accountUsername"), m_accountUsername}},
                                      false);
    return true;
}
