// The upgrade window: a pass-through with nothing to do, a store migration
// shown as it goes, a refused store reported as a failure, and the sign-in
// survey that stands in for converting stored passwords.
#include "DataObjectsTestSupport.h"
#include "LaterMetadataModel.h"
#include "ScriptedKeyring.h"

#include "TestSupport.h"

#include "accounts/TDWKeychainMgr.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWMasterStore.h"
#include "migration/TDWMigratingProgressWindowController.h"
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QFileInfo>
#include <QPixmap>
#include <QProgressBar>
#include <QSignalSpy>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

class TDWMigratingProgressWindowControllerTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        TDWMasterStore::shared().setManagedObjectModel(nullptr);
        TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
        TDWKeyring::setBackend(nullptr);
        TDWFileMgr::reset();
    }

    // A data folder of today's layout with the accounts, closed, and the file layout pointed at it.
    static void dataFolder(const QStringList &usernames)
    {
        QString folder;
        {
            dotest::MetadataStack stack;
            for (const QString &user : usernames) {
                stack.addAccount(user, {QStringLiteral("docs")});
                ASSERT_TRUE(stack.store(user, QStringLiteral("docs")));
            }
            folder = stack.folder;
        }
        TDWFileMgr::reset();
        TDWFileMgr::initAltDataDir(folder);
    }

    static TDWUpgradeResult runWindow(bool updateDatabase, bool updateOauth, bool *failed, const std::function<void(TDWMigratingProgressWindowController &)> &during = {})
    {
        TDWMigratingProgressWindowController window(updateDatabase, updateOauth);
        QSignalSpy finished(&window, &TDWMigratingProgressWindowController::finished);
        QSignalSpy failure(&window, &TDWMigratingProgressWindowController::failed);
        if (during)
            during(window);
        window.showWindow();
        QElapsedTimer waiting;
        waiting.start();
        while (finished.isEmpty() && failure.isEmpty() && waiting.elapsed() < 30000)
            QTest::qWait(10);
        EXPECT_EQ(finished.size() + failure.size(), 1);
        *failed = !failure.isEmpty();
        return finished.isEmpty() ? TDWUpgradeResult{} : finished.first().first().value<TDWUpgradeResult>();
    }
};

TEST_F(TDWMigratingProgressWindowControllerTest, WithNothingToDoItHandsBackAnEmptyResult)
{
    TDWMigratingProgressWindowController window(false, false);
    EXPECT_EQ(window.labelText(), QStringLiteral("Updating authentication credentials…"));
    bool failed = true;
    const TDWUpgradeResult result = runWindow(false, false, &failed);
    EXPECT_FALSE(failed);
    EXPECT_FALSE(result.destPsc);
    EXPECT_FALSE(result.allUsernames);
    EXPECT_TRUE(result.failedOauthAccountUsernames.isEmpty());
}

TEST_F(TDWMigratingProgressWindowControllerTest, AMigrationShowsItsProgressAndHandsBackTheNewStores)
{
    dataFolder({QStringLiteral("a@example.com"), QStringLiteral("b@example.com")});
    TDWMasterStore::shared().setManagedObjectModel(migrationtest::laterMetadataModel());
    QList<int> shown;
    bool failed = true;
    const TDWUpgradeResult result = runWindow(true, false, &failed, [&](TDWMigratingProgressWindowController &window) {
        EXPECT_EQ(window.labelText(), QStringLiteral("Updating the backup database…"));
        EXPECT_EQ(window.progressIndicator()->maximum(), 0); // spinning
        QObject::connect(window.progressIndicator(), &QProgressBar::valueChanged, [&window, &shown](int value) {
            if (shown.isEmpty() && !qEnvironmentVariableIsEmpty("TDW_PICTURE_DIR"))
                window.window()->grab().save(QDir(qEnvironmentVariable("TDW_PICTURE_DIR")).filePath(QStringLiteral("upgrade.png")));
            shown.append(value);
        });
    });
    EXPECT_FALSE(failed);
    ASSERT_TRUE(result.destPsc);
    EXPECT_EQ(result.destPsc->model(), TDWMasterStore::shared().managedObjectModel());
    EXPECT_EQ(shown, (QList<int>{333, 666, 1000}));
    EXPECT_EQ(QFileInfo(TDWFileMgr::dataFilePath()).dir().entryList({QStringLiteral("TidewellData_backup_*.sqlite3")}).size(), 1);
}

TEST_F(TDWMigratingProgressWindowControllerTest, ANewerStoreIsAFailureWithTheStoreUntouched)
{
    dataFolder({QStringLiteral("a@example.com")});
    const QString data = TDWFileMgr::dataFilePath();
    dotest::sqlite(data, QStringLiteral("UPDATE tdw_metadata SET value = 5 WHERE key = 'layoutVersion'"));
    QFile file(data);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    bool failed = false;
    tdwtest::LogCapture log;
    runWindow(true, false, &failed);
    EXPECT_TRUE(failed);
    EXPECT_TRUE(log.contains(QStringLiteral("Migration failed.")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == before);
}

TEST_F(TDWMigratingProgressWindowControllerTest, OnlyAccountsTheKeyringSaysItDoesNotHoldNeedASignIn)
{
    const QString signedIn = QStringLiteral("survey.signed.in@example.com");
    const QString missing = QStringLiteral("survey.missing@example.com");
    dataFolder({signedIn, missing});
    auto keyring = std::make_shared<ScriptedKeyring>(std::make_shared<TDWFileKeyring>(tdwtest::freshDir(QStringLiteral("keyring"))));
    TDWKeyring::setBackend(keyring);
    TDWKeychainMgr keychain;
    auto credential = std::make_shared<TDWCredential>();
    credential->setAccessToken(QStringLiteral("at"));
    ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, signedIn, true));
    TDWMasterStore::shared().setPersistentStoreCoordinator(TDWMasterStore::shared().persistentStoreCoordinatorMigrating(false));

    // A keyring that cannot answer names no one.
    keyring->unavailable = true;
    bool failed = true;
    TDWUpgradeResult result = runWindow(false, true, &failed);
    EXPECT_FALSE(failed);
    ASSERT_TRUE(result.allUsernames);
    EXPECT_EQ(QSet<QString>(result.allUsernames->begin(), result.allUsernames->end()), (QSet<QString>{signedIn, missing}));
    EXPECT_TRUE(result.failedOauthAccountUsernames.isEmpty());

    keyring->unavailable = false;
    result = runWindow(false, true, &failed);
    EXPECT_EQ(result.failedOauthAccountUsernames, QStringList{missing});
}

} // namespace
