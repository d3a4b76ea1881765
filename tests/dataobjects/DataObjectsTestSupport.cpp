#include "DataObjectsTestSupport.h"

#include "TestSupport.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace dotest {

QDateTime at(int hour)
{
    return QDateTime(QDate(2024, 3, 1), QTime(0, 0), Qt::UTC).addSecs(3600LL * hour);
}

MetadataStack::MetadataStack()
    : MetadataStack(tdwtest::freshDir(QStringLiteral("metadata")))
{
}

MetadataStack::MetadataStack(const QString &existingFolder)
    : folder(existingFolder)
{
    TDWFileMgr::reset();
    TDWFileMgr::initAltDataDir(folder);
    open();
}

MetadataStack::~MetadataStack()
{
    moc.reset();
    TDWMasterStore::shared().setStoreMgr(nullptr);
    TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
    TDWFileMgr::reset();
}

void MetadataStack::open()
{
    TDWMasterStore &master = TDWMasterStore::shared();
    coordinator = master.persistentStoreCoordinatorMigrating(false);
    ASSERT_TRUE(coordinator);
    master.setPersistentStoreCoordinator(coordinator);
    storeMgr = TDWStoreMgr::initWithPersistentStoreCoordinator(coordinator, master.masterStore());
    ASSERT_TRUE(storeMgr);
    master.setStoreMgr(storeMgr);
    moc = master.newMoc();
}

void MetadataStack::reopen()
{
    moc.reset();
    storeMgr.reset();
    coordinator.reset();
    TDWMasterStore::shared().setStoreMgr(nullptr);
    TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
    open();
}

void MetadataStack::addAccount(const QString &username, const QStringList &services)
{
    ASSERT_TRUE(TDWAccount::addAccountWithUsername(username, {}, 1, services, false, *moc));
}

TDWPersistentStorePtr MetadataStack::store(const QString &username, const QString &service)
{
    return storeMgr->storeForAccountUsername(username, service);
}

QString sqlite(const QString &path, const QString &sql)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {path, sql});
    shell.waitForFinished(30000);
    return (QString::fromUtf8(shell.readAllStandardOutput()) + QString::fromUtf8(shell.readAllStandardError())).trimmed();
}

} // namespace dotest
