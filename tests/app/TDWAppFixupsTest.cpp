// The one-time fix-ups that start-up runs once the store is open, and the
// maintenance command that forces a full Drive listing.

#include "AppTestSupport.h"

#include "app/TDWTestException.h"

#include "TestSupport.h"
#include "accounts/TDWKeychainMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDataProperty.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QProcess>

using namespace apptest;

namespace {

const QString Username = QStringLiteral("drive@example.com");

TDWUserDefaults *defaults()
{
    return TDWUserDefaults::standard();
}

class TDWAppFixups : public AppFixture
{
protected:
    // A returning user whose Drive store holds a change id; returns the store file.
    QString prepareDriveUser()
    {
        prepareReturningUser({Username});
        TDWMasterStore &master = TDWMasterStore::shared();
        master.setPersistentStoreCoordinator(master.persistentStoreCoordinatorMigrating(false));
        auto storeMgr = TDWStoreMgr::initWithPersistentStoreCoordinator(master.persistentStoreCoordinator(), master.masterStore());
        auto moc = master.newMoc();
        TDWAccount::byUsername(Username, *moc, nullptr)->setEnabled(true, QStringLiteral("docs"));
        EXPECT_TRUE(moc->save(nullptr));
        const TDWPersistentStorePtr store = storeMgr->storeForAccountUsername(Username, QStringLiteral("docs"));
        EXPECT_TRUE(store);
        TDWDataProperty::setPropertyValue(QStringLiteral("4242"), QStringLiteral("lastChangeId"), store, *moc);
        EXPECT_TRUE(moc->save(nullptr));
        const QString path = store->path();
        moc.reset();
        master.setPersistentStoreCoordinator(nullptr);
        return path;
    }

    // The change id in the Drive store, read by the sqlite3 shell.
    static QString storedChangeIds(const QString &path)
    {
        QProcess shell;
        shell.start(QStringLiteral("sqlite3"), {path, QStringLiteral("SELECT count(*) FROM \"DataProperty\" WHERE \"tdwPropertyName\" = 'lastChangeId'")});
        shell.waitForFinished(30000);
        return QString::fromUtf8(shell.readAllStandardOutput()).trimmed();
    }

    static void sql(const QString &path, const QString &statement)
    {
        QProcess shell;
        shell.start(QStringLiteral("sqlite3"), {path, statement});
        ASSERT_TRUE(shell.waitForFinished(30000));
        ASSERT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    }
};

TEST_F(TDWAppFixups, TheDriveResetRunsOnceAndSetsItsFlag)
{
    const QString store = prepareDriveUser();
    defaults()->removeObjectForKey(QStringLiteral("gdriveall252"));
    ASSERT_EQ(storedChangeIds(store), QStringLiteral("1"));
    makeController();
    launch();

    ASSERT_TRUE(startupFinished);
    EXPECT_EQ(storedChangeIds(store), QStringLiteral("0"));
    EXPECT_TRUE(defaults()->boolForKey(QStringLiteral("gdriveall252")));
}

// The store refuses the change: the reset did not happen, so it must run again next time.
TEST_F(TDWAppFixups, AFailedDriveResetLeavesItsFlagUnsetForTheNextLaunch)
{
    const QString store = prepareDriveUser();
    defaults()->removeObjectForKey(QStringLiteral("gdriveall252"));
    sql(store, QStringLiteral("CREATE TRIGGER refuse BEFORE DELETE ON \"DataProperty\" BEGIN SELECT RAISE(ABORT, 'refused'); END;"));
    makeController();
    tdwtest::LogCapture log;
    launch();

    ASSERT_TRUE(startupFinished);
    EXPECT_EQ(storedChangeIds(store), QStringLiteral("1"));
    EXPECT_FALSE(defaults()->boolForKey(QStringLiteral("gdriveall252")));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to save in resetGoogleDriveBackup: ")));
}

TEST_F(TDWAppFixups, ForcingAFullDriveListingResetsWhateverTheFlagSays)
{
    const QString store = prepareDriveUser();
    makeController();
    launch();
    ASSERT_EQ(storedChangeIds(store), QStringLiteral("1"));

    ASSERT_TRUE(menuItem("forceFullOfGoogleDrive:"));
    menuItem("forceFullOfGoogleDrive:")->trigger();

    EXPECT_EQ(storedChangeIds(store), QStringLiteral("0"));
    EXPECT_TRUE(defaults()->boolForKey(QStringLiteral("gdriveall252")));
}

TEST_F(TDWAppFixups, TheExceptionCommandRaisesItsNamedException)
{
    makeController();
    try {
        TDWAppMenus::throwException();
        ADD_FAILURE() << "nothing was raised";
    } catch (const TDWTestException &exception) {
        EXPECT_STREQ(exception.what(), "Something went wrong");
    }
}

TEST_F(TDWAppFixups, ObsoleteListFoldersAreRemovedAndNothingElse)
{
    prepareReturningUser();
    const QStringList obsolete = {QStringLiteral("doclistxml"), QStringLiteral("readerlistxml"), QStringLiteral("calendarlistxml")};
    for (const QString &name : obsolete + QStringList{QStringLiteral("Auxiliary Stores")})
        ASSERT_TRUE(QDir(dataFolder()).mkpath(name + QStringLiteral("/page")));
    makeController();
    launch();

    for (const QString &name : obsolete)
        EXPECT_FALSE(QFileInfo::exists(QDir(dataFolder()).filePath(name))) << name.toStdString();
    EXPECT_TRUE(QFileInfo::exists(QDir(dataFolder()).filePath(QStringLiteral("Auxiliary Stores/page"))));
}

TEST_F(TDWAppFixups, CredentialsOfAccountsNotYetLockedDownAreRewrittenOnce)
{
    const QString withCredential = QStringLiteral("with@example.com");
    const QString without = QStringLiteral("without@example.com");
    const QString lockedDown = QStringLiteral("locked@example.com");
    prepareReturningUser({withCredential, without, lockedDown});
    {
        TDWMasterStore &master = TDWMasterStore::shared();
        master.setPersistentStoreCoordinator(master.persistentStoreCoordinatorMigrating(false));
        auto moc = master.newMoc();
        // Accounts stored before the flag existed.
        TDWAccount::byUsername(withCredential, *moc, nullptr)->setLockedDownKeychain(false);
        TDWAccount::byUsername(without, *moc, nullptr)->setLockedDownKeychain(false);
        ASSERT_TRUE(moc->save(nullptr));
        master.setPersistentStoreCoordinator(nullptr);
    }
    for (const QString &username : {withCredential, lockedDown}) {
        auto credential = std::make_shared<TDWCredential>();
        credential->setRefreshToken(QStringLiteral("refresh-") + username);
        ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, username, true));
    }
    makeController();
    tdwtest::LogCapture log;
    launch();

    auto moc = TDWMasterStore::shared().newMoc();
    EXPECT_TRUE(TDWAccount::byUsername(withCredential, *moc, nullptr)->lockedDownKeychain());
    EXPECT_FALSE(TDWAccount::byUsername(without, *moc, nullptr)->lockedDownKeychain());
    EXPECT_TRUE(log.contains(QStringLiteral("Updating credential for with@example.com")));
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to find credential for without@example.com")));
    EXPECT_FALSE(log.contains(QStringLiteral("credential for locked@example.com")));
    EXPECT_EQ(TDWKeychainMgr::keychainMgr()->credentialForUsername(withCredential)->refreshToken(), QStringLiteral("refresh-with@example.com"));
}

TEST_F(TDWAppFixups, GoogleReaderItemsShowOnlyWhenAReaderListWasRetrieved)
{
    for (const bool retrieved : {false, true}) {
        SCOPED_TRACE(retrieved ? "a Reader list retrieved" : "Reader settings without a list");
        prepareReturningUser();
        {
            TDWMasterStore &master = TDWMasterStore::shared();
            master.setPersistentStoreCoordinator(master.persistentStoreCoordinatorMigrating(false));
            auto moc = master.newMoc();
            TDWAccount::Ptr account = TDWAccount::byUsername(QStringLiteral("returning@example.com"), *moc, nullptr);
            if (retrieved) {
                auto iteration = TDWBackupIteration::newWithMoc(*moc);
                iteration->setIterationStartTime(QDateTime::currentDateTimeUtc());
                account->settingForService(QStringLiteral("reader"))->setLastListIteration(iteration);
            } else {
                account->settingForService(QStringLiteral("reader"));
            }
            ASSERT_TRUE(moc->save(nullptr));
            master.setPersistentStoreCoordinator(nullptr);
        }
        makeController();
        // The browser's menu layout: the Reader submenu, its items hidden.
        QMenu *reader = controller->appMenus()->menus().at(1)->addMenu(QStringLiteral("Google Reader"));
        reader->menuAction()->setData(444);
        QList<QAction *> items;
        for (int tag = 1000; tag <= 1008; ++tag) {
            QAction *item = reader->addAction(QString::number(tag));
            item->setData(tag);
            item->setVisible(false);
            items.append(item);
        }
        launch();

        for (QAction *item : items) {
            const int tag = item->data().toInt();
            EXPECT_EQ(item->isVisible(), retrieved && tag >= 1001 && tag <= 1007) << tag;
        }
        TearDown();
        SetUp();
        startupFinished = false;
    }
}

} // namespace
