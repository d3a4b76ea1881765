// One mail list step of a backup run, as the reliability test runs it in a
// child process and stops it (SIGKILL) right after a chosen save:
//   mail_list_kill_runner DATA_DIR KEYRING_DIR USER TOKEN HOST:PORT ITERATION_START KILL_AT_SAVE
// The backup iteration starting at ITERATION_START (ISO 8601) is made on the
// first start and found again on the next, so a start after a kill carries on
// with the same run. KILL_AT_SAVE 0 never kills. Exits 0 when the step
// succeeded, 1 when it failed.
#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "mail/TDWMailListRetrievalOperation.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"
#include "status/TDWActivityMonitor.h"

#include <QCoreApplication>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

int fail(const char *what)
{
    std::fprintf(stderr, "mail_list_kill_runner: %s\n", what);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 8)
        return fail("usage: DATA_DIR KEYRING_DIR USER TOKEN HOST:PORT ITERATION_START KILL_AT_SAVE");
    const QString username = args[3];
    const QDateTime iterationStart = QDateTime::fromString(args[6], Qt::ISODate);
    const int killAtSave = args[7].toInt();

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
            && !TDWAccount::addAccountWithUsername(username, QString(), 1, {QStringLiteral("mail")}, false, *moc))
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

    // Counted from here: the saves of the mail list step itself.
    std::atomic<int> saves = 0;
    QObject::connect(coordinator.get(), &TDWPersistentStoreCoordinator::contextDidSave, coordinator.get(),
                     [&](const TDWSaveNotification &) {
                         if (++saves == killAtSave)
                             ::kill(::getpid(), SIGKILL);
                     },
                     Qt::DirectConnection);

    TDWActivityMonitor monitor;
    TDWActivityMonitor::setShared(&monitor);
    auto operation = std::make_shared<TDWMailListRetrievalOperation>(username, iterationId);
    TDWOperationQueue queue;
    queue.addOperation(operation);
    while (queue.operationCount() > 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    const auto record = monitor.indexRetrievalStatusForUsername(username, QStringLiteral("mail"));
    const bool succeeded = record && record->status == TDWActivityMonitor::RetrievingList;
    std::printf("saves %d\n", saves.load());
    TDWActivityMonitor::setShared(nullptr);
    master.setStoreMgr(nullptr);
    master.setPersistentStoreCoordinator(nullptr);
    return succeeded ? 0 : 1;
}
