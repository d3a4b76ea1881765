// One step of a backup run, as the reliability tests run it in a child
// process that the kill point (TDW_TEST_KILL_AT_WRITE) stops with SIGKILL at
// a chosen durable write:
//   mail_kill_runner DATA_DIR KEYRING_DIR USER TOKEN HOST:PORT ITERATION_START STEP
// STEP "list" runs the mail list retrieval alone, "backup" the account's whole
// mail backup, made by name through the program's class registration. The
// backup iteration starting at ITERATION_START (ISO 8601) is made on the
// first start and found again on the next, so a start after a kill carries on
// with the same run. Prints "writes N" (the durable writes made), exits 0 when
// the step succeeded, 1 when it failed.
#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "agent/TDWBackupOperationClasses.h"
#include "app/TDWRegisterClasses.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "mail/TDWMailListRetrievalOperation.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWTestKillPoint.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"
#include "status/TDWActivityMonitor.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

namespace {

int fail(const char *what)
{
    std::fprintf(stderr, "mail_kill_runner: %s\n", what);
    return 2;
}

const QString Mail = QStringLiteral("mail");

// The step on a queue of its own, with the main thread's events turning.
void run(const std::shared_ptr<TDWOperation> &operation)
{
    TDWOperationQueue queue;
    queue.addOperation(operation);
    while (queue.operationCount() > 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
}

// Whether the mail list retrieval of the iteration ended well.
bool runList(const QString &username, const TDWManagedObjectID &iterationId, TDWActivityMonitor &monitor)
{
    run(std::make_shared<TDWMailListRetrievalOperation>(username, iterationId));
    const auto record = monitor.indexRetrievalStatusForUsername(username, Mail);
    return record && record->status == TDWActivityMonitor::RetrievingList;
}

// Whether the account's mail backup downloaded everything it queued.
bool runBackup(const QString &username)
{
    TDWRegisterClasses();
    const std::shared_ptr<TDWOperation> backup = TDWBackupOperationClasses::shared().create(QStringLiteral("TDWMailBackupOperation"), username, Mail);
    if (!backup)
        return false;
    run(backup);
    const auto moc = TDWMasterStore::shared().newMoc();
    const TDWAccount::Ptr account = TDWAccount::byUsername(username, *moc, nullptr);
    const auto setting = account ? account->settingForService(Mail) : nullptr;
    return setting && setting->allQueuedExportsBackedUpLast();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 8)
        return fail("usage: DATA_DIR KEYRING_DIR USER TOKEN HOST:PORT ITERATION_START list|backup");
    const QString username = args[3];
    const QDateTime iterationStart = QDateTime::fromString(args[6], Qt::ISODate);
    const QString step = args[7];
    if (step != QLatin1String("list") && step != QLatin1String("backup"))
        return fail("STEP is list or backup");

    TDWFileMgr::initAltDataDir(args[1]);
    TDWKeyring::setBackend(std::make_shared<TDWFileKeyring>(args[2]));
    TDWUserDefaults::standard()->setString(args[5], QStringLiteral("Hostname"));
    TDWMasterStore &master = TDWMasterStore::shared();
    const auto coordinator = master.persistentStoreCoordinatorMigrating(false);
    if (!coordinator)
        return fail("no store");
    master.setPersistentStoreCoordinator(coordinator);
    const auto storeMgr = TDWStoreMgr::initWithPersistentStoreCoordinator(coordinator, master.masterStore());
    if (!storeMgr)
        return fail("no store manager");
    master.setStoreMgr(storeMgr);

    auto credential = std::make_shared<TDWCredential>();
    credential->setRefreshToken(QStringLiteral("refresh"));
    credential->setAccessToken(args[4]);
    if (!TDWKeychainMgr::keychainMgr()->setCredential(credential, username, true))
        return fail("no credential");

    TDWManagedObjectID iterationId;
    {
        const auto moc = master.newMoc();
        if (!TDWAccount::byUsername(username, *moc, nullptr)
            && !TDWAccount::addAccountWithUsername(username, QString(), 1, {Mail}, false, *moc))
            return fail("no account");
        const auto found = TDWEntityFetch(*moc, QStringLiteral("BackupIteration"))
                               .where(QStringLiteral("iterationStartTime = %@"), {iterationStart})
                               .objects<TDWBackupIteration>(nullptr);
        TDWBackupIteration::Ptr iteration = found && !found->isEmpty() ? found->first() : nullptr;
        if (!iteration) {
            iteration = TDWBackupIteration::newWithMoc(*moc);
            iteration->setIterationStartTime(iterationStart);
            if (!moc->save(nullptr))
                return fail("no iteration");
        }
        iterationId = iteration->objectID();
    }

    TDWActivityMonitor monitor;
    TDWActivityMonitor::setShared(&monitor);
    const bool succeeded = step == QLatin1String("list") ? runList(username, iterationId, monitor) : runBackup(username);
    std::printf("writes %d\n", TDWTestKillPoint::writesSoFar());
    TDWActivityMonitor::setShared(nullptr);
    master.setStoreMgr(nullptr);
    master.setPersistentStoreCoordinator(nullptr);
    return succeeded ? 0 : 1;
}
