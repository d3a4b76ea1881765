// Start-up with stores of another layout and on the first start since sign-in
// moved to OAuth, driven the way main() drives the application's delegate.

#include "AppTestSupport.h"
#include "LaterMetadataModel.h"
#include "ScriptedKeyring.h"

#include "TestSupport.h"

#include "common/TDWFileMgr.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

using namespace apptest;

namespace {

const QString OlderVersionAlert = QStringLiteral(
    "Unable to read the metadata store.  This is probably because you are going back to an older version of Tidewell.  "
    "Please write to support@tidewell.org for assistance.");

QByteArray bytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString sqlite(const QString &path, const QString &sql)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {path, sql});
    shell.waitForFinished(30000);
    return QString::fromUtf8(shell.readAllStandardOutput()).trimmed();
}

class TDWUpgradeStartup : public AppFixture
{
protected:
    void TearDown() override
    {
        AppFixture::TearDown();
        TDWMasterStore::shared().setManagedObjectModel(nullptr);
        TDWKeyring::setBackend(nullptr);
    }

    // A returning user whose account has a made mail store; answers that store's path.
    QString returningUserWithAStore()
    {
        prepareReturningUser();
        TDWMasterStore &master = TDWMasterStore::shared();
        master.setPersistentStoreCoordinator(master.persistentStoreCoordinatorMigrating(false));
        auto storeMgr = TDWStoreMgr::initWithPersistentStoreCoordinator(master.persistentStoreCoordinator(), master.masterStore());
        const TDWPersistentStorePtr store = storeMgr ? storeMgr->storeForAccountUsername(QStringLiteral("returning@example.com"), QStringLiteral("mail"))
                                                     : nullptr;
        EXPECT_TRUE(store);
        master.setPersistentStoreCoordinator(nullptr);
        return store ? store->path() : QString();
    }
};

TEST_F(TDWUpgradeStartup, StoresOfAnEarlierLayoutAreMigratedBeforeTheStoreManagerOpensThem)
{
    const QString accountStore = returningUserWithAStore();
    // The next release's model, one layout on from the stores on disk.
    TDWMasterStore::shared().setManagedObjectModel(migrationtest::laterMetadataModel());
    makeController();
    launch();

    ASSERT_TRUE(startupFinished);
    EXPECT_TRUE(prompted->errors.isEmpty()) << prompted->errors.join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(TDWMasterStore::shared().storeMgr());
    EXPECT_EQ(TDWMasterStore::shared().persistentStoreCoordinator()->model(), TDWMasterStore::shared().managedObjectModel());
    for (const QString &path : {TDWFileMgr::dataFilePath(), accountStore}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(sqlite(path, QStringLiteral("SELECT value FROM tdw_metadata WHERE key = 'layoutVersion'")), QStringLiteral("2"));
        EXPECT_EQ(sqlite(path, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    }
    EXPECT_EQ(QFileInfo(TDWFileMgr::dataFilePath()).dir().entryList({QStringLiteral("TidewellData_backup_*.sqlite3")}).size(), 1);
    EXPECT_TRUE(TDWUserDefaults::standard()->boolForKey(QStringLiteral("setsorttitles")));
}

TEST_F(TDWUpgradeStartup, AStoreOfANewerLayoutGetsTheOlderVersionAlertAndStaysByteIdentical)
{
    for (const bool master : {true, false}) {
        SCOPED_TRACE(master ? "master store" : "account store");
        const QString accountStore = returningUserWithAStore();
        const QString stamped = master ? TDWFileMgr::dataFilePath() : accountStore;
        sqlite(stamped, QStringLiteral("UPDATE tdw_metadata SET value = 5 WHERE key = 'layoutVersion'"));
        const QByteArray before = bytes(stamped);
        makeController();
        launch();

        EXPECT_EQ(prompted->errors, QStringList{OlderVersionAlert});
        EXPECT_EQ(stops, QList<int>{EXIT_FAILURE});
        EXPECT_FALSE(startupFinished);
        EXPECT_TRUE(bytes(stamped) == before);

        TearDown();
        SetUp();
        prompted->errors.clear();
        stops.clear();
    }
}

TEST_F(TDWUpgradeStartup, TheFirstStartWithoutDoneOauthFinishesNamingOnlyAccountsTheKeyringDoesNotHold)
{
    for (const bool unavailable : {true, false}) {
        SCOPED_TRACE(unavailable ? "keyring unavailable" : "keyring answers");
        prepareReturningUser();
        TDWUserDefaults::standard()->setBool(false, QStringLiteral("doneoauth"));
        auto keyring = std::make_shared<ScriptedKeyring>(std::make_shared<TDWFileKeyring>(tdwtest::freshDir(QStringLiteral("keyring"))));
        keyring->unavailable = unavailable;
        TDWKeyring::setBackend(keyring);
        makeController();
        launch();

        ASSERT_TRUE(startupFinished);
        EXPECT_TRUE(TDWUserDefaults::standard()->boolForKey(QStringLiteral("doneoauth")));
        const QVariantMap result = TDWUserDefaults::standard()->dictionaryForKey(QStringLiteral("oauthMigrationResult"));
        EXPECT_EQ(result.value(QStringLiteral("allUsernames")).toStringList(), QStringList{QStringLiteral("returning@example.com")});
        EXPECT_EQ(result.value(QStringLiteral("failedOauthAccountUsernames")).toStringList(),
                  unavailable ? QStringList() : QStringList{QStringLiteral("returning@example.com")});

        TearDown();
        SetUp();
        startupFinished = false;
    }
}

} // namespace
