// Start-up and quitting, driven the way main() drives the application's
// delegate, in private home and XDG folders under the offscreen platform.

#include "AppTestSupport.h"

#include "accounts/TDWKeychainMgr.h"
#include "agent/TDWBackupScheduler.h"
#include "app/TDWMonitorApp.h"
#include "common/BKSNotUtils.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "migration/TDWFirstTimeV25WindowController.h"
#include "migration/TDWMigratingProgressWindowController.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "status/TDWActivityMonitor.h"
#include "ui/TDWActivityWindowController.h"
#include "TestSupport.h"
#include "status/TDWStatusMgr.h"
#include "ui/TDWAccountFlowController.h"
#include "ui/TDWAccountViewController.h"
#include "ui/TDWFirstTimeUserController.h"
#include "ui/TDWInitConfigViewController.h"
#include "ui/TDWMainWindowController.h"
#include "ui/TDWStatusItemMgr.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QSemaphore>
#include <QThread>

#include <atomic>

using namespace apptest;

namespace {

TDWUserDefaults *defaults()
{
    return TDWUserDefaults::standard();
}

// Records the names of the notifications posted while it lives.
class PostedNames
{
public:
    PostedNames()
    {
        m_token = TDWNotificationCenter::defaultCenter().addObserver({}, [this](const TDWNotification &n) { names.append(n.name()); });
    }
    ~PostedNames() { TDWNotificationCenter::defaultCenter().removeObserver(m_token); }
    QStringList names;

private:
    TDWNotificationCenter::Token m_token;
};

using TDWAppControllerStartup = AppFixture;

TEST_F(TDWAppControllerStartup, FirstLaunchCreatesTheDataFolderAndStoreAndEndsInTheFirstRunWindow)
{
    ASSERT_FALSE(QFileInfo::exists(dataFolder()));
    RecordingHttpServer mailingList;
    defaults()->setString(mailingList.url(), QStringLiteral("secureWebSiteURL"));
    makeController();
    PostedNames posted;
    launch();

    ASSERT_TRUE(stops.isEmpty()) << prompted->errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(QFileInfo(dataFolder()).isDir());
    EXPECT_TRUE(QFileInfo(TDWFileMgr::dataFilePath()).isFile());
    ASSERT_TRUE(TDWMasterStore::shared().storeMgr());
    // The new user passed through the upgrade window, which is gone again.
    EXPECT_TRUE(waitFor([this] { return !controller->migratingDatabaseWindowController(); }));
    EXPECT_TRUE(defaults()->boolForKey(QStringLiteral("doneoauth")));
    EXPECT_FALSE(controller->migrationInProgress());
    EXPECT_EQ(defaults()->stringArrayForKey(QStringLiteral("knownservices")).first(), QStringLiteral("mail"));

    ASSERT_TRUE(controller->firstTimeUserController());
    EXPECT_TRUE(controller->firstTimeUserController()->window()->isVisible());
    EXPECT_FALSE(controller->windows()->mainWindowController());
    EXPECT_FALSE(startupFinished);
    EXPECT_FALSE(defaults()->boolForKey(QStringLiteral("firsttime")));

    // Finishing the window (here with an account backing nothing up, which
    // needs no sign-in) writes the one-time flags and starts the backup machinery.
    QWidget *settingsPage = controller->firstTimeUserController()->initConfigViewController()->view();
    settingsPage->findChild<QLineEdit *>(QStringLiteral("emailAddress"))->setText(QStringLiteral("user@example.com"));
    settingsPage->findChild<QPushButton *>(QStringLiteral("continue"))->click();
    ASSERT_TRUE(controller->firstTimeUserController()->accountFlowController());
    QWidget *accountView = controller->firstTimeUserController()->accountFlowController()->accountViewController()->view();
    accountView->findChild<QLineEdit *>(QStringLiteral("usernameField"))->setText(QStringLiteral("first@example.com"));
    for (QCheckBox *service : accountView->findChildren<QCheckBox *>())
        service->setChecked(false);
    accountView->findChild<QPushButton *>(QStringLiteral("continue"))->click();
    ASSERT_TRUE(waitFor([this] { return startupFinished; }));
    for (const char *flag : {"firsttime", "firsttimev2", "firsttimev25", "doneoauth", "tw216fix", "mail2"})
        EXPECT_TRUE(defaults()->boolForKey(QString::fromLatin1(flag))) << flag;
    EXPECT_EQ(defaults()->stringForKey(QStringLiteral("BKEmailAddress")), QStringLiteral("user@example.com"));
    // The address typed went to the mailing list too.
    ASSERT_TRUE(waitFor([&] { return !mailingList.requests.isEmpty(); }));
    EXPECT_TRUE(mailingList.requests.first().endsWith("\r\n\r\nemail=user%40example.com"));
    EXPECT_TRUE(QFileInfo(TDWFileMgr::defaultBackupLocation()).isDir());
    ASSERT_TRUE(controller->backupScheduler());
    EXPECT_EQ(backupRunsMade, 1);
    EXPECT_TRUE(controller->statusMgr());
    ASSERT_TRUE(controller->activityMonitor());
    EXPECT_EQ(TDWActivityMonitor::shared(), controller->activityMonitor());
    EXPECT_TRUE(controller->statusItemMgr());
    EXPECT_TRUE(posted.names.contains(QStringLiteral("firsttimedone")));
    EXPECT_TRUE(waitFor([this] { return !controller->firstTimeUserController(); }));
}

TEST_F(TDWAppControllerStartup, CancellingTheFirstRunWindowQuitsWithoutWritingAnyFlag)
{
    makeController();
    launch();
    ASSERT_TRUE(controller->firstTimeUserController());

    controller->firstTimeUserController()->cancel();

    EXPECT_EQ(stops, QList<int>{EXIT_SUCCESS});
    EXPECT_TRUE(prompted->asked.isEmpty());
    EXPECT_FALSE(defaults()->boolForKey(QStringLiteral("firsttime")));
    EXPECT_FALSE(startupFinished);
}

TEST_F(TDWAppControllerStartup, AReturningUserReachesTheMainWindowOnTheirAccount)
{
    prepareReturningUser({QStringLiteral("first@example.com"), QStringLiteral("second@example.com")});
    defaults()->setString(QStringLiteral("second@example.com"), QStringLiteral("lastCurrentAccountUsername"));
    makeController();
    launch();

    ASSERT_TRUE(startupFinished) << prompted->errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(controller->firstTimeUserController());
    EXPECT_FALSE(controller->migratingDatabaseWindowController());
    ASSERT_TRUE(controller->windows()->mainWindowController());
    EXPECT_TRUE(controller->windows()->mainWindowController()->window()->isVisible());
    EXPECT_EQ(controller->windows()->currentAccountUsername(), QStringLiteral("second@example.com"));
    ASSERT_TRUE(controller->statusItemMgr());
    // The status menu lists both accounts, the one shown checked, and its commands reach the application.
    const auto statusMenuItem = [this](const QString &title) -> QAction * {
        for (QAction *action : controller->statusItemMgr()->menu()->actions())
            if (action->text() == title)
                return action;
        return nullptr;
    };
    ASSERT_TRUE(statusMenuItem(QStringLiteral("first@example.com")));
    ASSERT_TRUE(statusMenuItem(QStringLiteral("second@example.com")));
    EXPECT_TRUE(statusMenuItem(QStringLiteral("second@example.com"))->isChecked());
    statusMenuItem(QStringLiteral("first@example.com"))->trigger();
    EXPECT_EQ(controller->windows()->currentAccountUsername(), QStringLiteral("first@example.com"));
    EXPECT_TRUE(statusMenuItem(QStringLiteral("first@example.com"))->isChecked());
    EXPECT_FALSE(statusMenuItem(QStringLiteral("second@example.com"))->isChecked());
    statusMenuItem(QStringLiteral("Activity"))->trigger();
    ASSERT_TRUE(controller->windows()->activityWindowController());
    EXPECT_TRUE(controller->windows()->activityWindowController()->window()->isVisible());
    // "mail2" was already set: a plain launch does not back up at once.
    EXPECT_EQ(backupRunsMade, 0);
    // The post-upgrade notes were read before.
    EXPECT_TRUE(controller->windows()->miscWindowControllers().isEmpty());
}

TEST_F(TDWAppControllerStartup, AReturningUserWhoHasNotReadTheUpgradeNotesSeesThemOnceBesideTheMainWindow)
{
    struct Case
    {
        const char *name;
        QVariant migrationResult;
        QStringList allUsernames;
        QStringList failedUsernames;
    };
    const QStringList accounts = {QStringLiteral("a@example.com"), QStringLiteral("b@example.com")};
    const Case cases[] = {
        {"after a conversion", QVariantMap{{QStringLiteral("allUsernames"), accounts},
                                           {QStringLiteral("failedOauthAccountUsernames"), QStringList{QStringLiteral("b@example.com")}}},
         accounts, {QStringLiteral("b@example.com")}},
        {"no conversion result", QVariant(), {}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        prepareReturningUser(accounts);
        defaults()->removeObjectForKey(QStringLiteral("firsttimev25"));
        defaults()->setObject(c.migrationResult, QStringLiteral("oauthMigrationResult"));
        makeController();
        launch();

        ASSERT_TRUE(startupFinished);
        ASSERT_TRUE(controller->windows()->mainWindowController());
        ASSERT_EQ(controller->windows()->miscWindowControllers().size(), 1);
        QPointer<TDWFirstTimeV25WindowController> notes = qobject_cast<TDWFirstTimeV25WindowController *>(controller->windows()->miscWindowControllers().first());
        ASSERT_TRUE(notes);
        EXPECT_TRUE(notes->window()->isVisible());
        EXPECT_EQ(notes->allUsernames(), c.allUsernames);
        EXPECT_EQ(notes->failedUsernames(), c.failedUsernames);

        notes->done();
        EXPECT_TRUE(controller->windows()->miscWindowControllers().isEmpty());
        EXPECT_TRUE(waitFor([&] { return notes.isNull(); }));
        EXPECT_TRUE(defaults()->boolForKey(QStringLiteral("firsttimev25")));
        EXPECT_FALSE(defaults()->objectForKey(QStringLiteral("oauthMigrationResult")).isValid());

        TearDown();
        SetUp();
        startupFinished = false;
    }
}

TEST_F(TDWAppControllerStartup, TheMainWindowFallsBackToTheFirstAccountWhenTheLastShownOneIsGone)
{
    prepareReturningUser({QStringLiteral("b@example.com"), QStringLiteral("a@example.com")});
    defaults()->setString(QStringLiteral("deleted@example.com"), QStringLiteral("lastCurrentAccountUsername"));
    makeController();
    launch();

    ASSERT_TRUE(controller->windows()->mainWindowController());
    EXPECT_EQ(controller->windows()->currentAccountUsername(), QStringLiteral("a@example.com"));
    EXPECT_EQ(defaults()->stringForKey(QStringLiteral("lastCurrentAccountUsername")), QStringLiteral("a@example.com"));
}

TEST_F(TDWAppControllerStartup, TheBackupSchedulerReadsTheStatusManagersGlobalStatus)
{
    // An enabled service that was never backed up: the backup is incomplete.
    prepareReturningUser();
    defaults()->setInteger(86400, QStringLiteral("SecondsBetweenBackups"));
    makeController();
    launch();
    ASSERT_TRUE(startupFinished);
    ASSERT_EQ(controller->statusMgr()->globalStatus(), 2);
    EXPECT_EQ(controller->backupScheduler()->getBackupInterval(), 3600);
    defaults()->setBool(true, QStringLiteral("DontIgnoreBackupIntervalWhenBackupIncomplete"));
    EXPECT_EQ(controller->backupScheduler()->getBackupInterval(), 86400);
}

TEST_F(TDWAppControllerStartup, QuittingEndsTheBackupSchedulerAndItsObservers)
{
    prepareReturningUser();
    makeController();
    launch();
    ASSERT_TRUE(startupFinished);
    ASSERT_TRUE(controller->backupScheduler());
    TDWNotificationCenter &center = TDWNotificationCenter::defaultCenter();
    center.post(QStringLiteral("excluderuleschanged"));
    ASSERT_TRUE(waitFor([this] { return ruleUpdatesRun == 1; }));

    // A rule update still under way is waited for; none starts afterwards.
    center.post(QStringLiteral("excluderuleschanged"));
    controller.reset();
    const int ran = ruleUpdatesRun;
    for (const char *name : {"excluderuleschanged", "mailfolderselectionschanged", "newAccount", "accountUpdate", "not_changed_calendar_access_settings"})
        center.post(QString::fromLatin1(name), nullptr, {{QStringLiteral("accountUsername"), QStringLiteral("returning@example.com")}});
    QCoreApplication::processEvents();
    EXPECT_EQ(ruleUpdatesRun, ran);
}

TEST_F(TDWAppControllerStartup, TheFirstLaunchThatFindsMail2UnsetBacksUpAtOnceAndOnlyThatOnce)
{
    prepareReturningUser();
    defaults()->removeObjectForKey(QStringLiteral("mail2"));
    makeController();
    launch();

    ASSERT_TRUE(startupFinished);
    EXPECT_EQ(backupRunsMade, 1);
    EXPECT_TRUE(defaults()->boolForKey(QStringLiteral("mail2")));
}

TEST_F(TDWAppControllerStartup, BackgroundAppShowsNoWindowButTheStatusItem)
{
    prepareReturningUser();
    defaults()->setBool(true, QStringLiteral("backgroundapp"));
    makeController();
    launch();

    ASSERT_TRUE(startupFinished);
    EXPECT_FALSE(controller->windows()->mainWindowController());
    for (QWidget *window : QApplication::topLevelWidgets())
        EXPECT_FALSE(window->isVisible()) << window->windowTitle().toStdString();
    EXPECT_TRUE(controller->statusItemMgr());
}

// The data folder cannot be made: a file stands where it goes.
TEST_F(TDWAppControllerStartup, ADataFolderThatCannotBeMadeIsShownAndStopsStartUp)
{
    QFile blocker(dataFolder());
    ASSERT_TRUE(QDir().mkpath(QFileInfo(dataFolder()).absolutePath()));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    makeController();
    tdwtest::LogCapture log;
    launch();
    // Whatever was queued meanwhile has run.
    QCoreApplication::processEvents();

    EXPECT_EQ(stops, QList<int>{EXIT_FAILURE});
    ASSERT_EQ(prompted->errors.size(), 1);
    // The folder's own failure, not a store failure that follows from it.
    EXPECT_EQ(prompted->errors.first(), QStringLiteral("Application Support Dir is a file"));
    // Nothing went on to look at a store that has nowhere to be.
    EXPECT_FALSE(log.contains(QStringLiteral("Unable to upgrade")));
    EXPECT_FALSE(controller->migratingDatabaseWindowController());
    EXPECT_FALSE(controller->firstTimeUserController());
    EXPECT_FALSE(TDWMasterStore::shared().storeMgr());
    EXPECT_FALSE(startupFinished);
}

TEST_F(TDWAppControllerStartup, AStoreThatCannotBeReadIsShownAndStopsStartUp)
{
    prepareReturningUser();
    QFile store(TDWFileMgr::dataFilePath());
    ASSERT_TRUE(store.open(QIODevice::WriteOnly | QIODevice::Truncate));
    store.write(QByteArray(4096, 'x'));
    store.close();
    makeController();
    launch();
    QCoreApplication::processEvents();

    EXPECT_EQ(stops, QList<int>{EXIT_FAILURE});
    ASSERT_EQ(prompted->errors.size(), 1);
    EXPECT_TRUE(prompted->errors.first().startsWith(QStringLiteral("Unable to read the metadata store.")));
    EXPECT_FALSE(controller->windows()->mainWindowController());
    EXPECT_FALSE(controller->firstTimeUserController());
    EXPECT_FALSE(TDWMasterStore::shared().storeMgr());
    EXPECT_FALSE(startupFinished);
    // The unreadable file is left as it was for the user or support to look at.
    EXPECT_EQ(QFileInfo(TDWFileMgr::dataFilePath()).size(), 4096);
}

TEST_F(TDWAppControllerStartup, AnAccountStoreThatCannotBeReadIsShownAndStopsStartUp)
{
    prepareReturningUser();
    QString accountStore;
    {
        TDWMasterStore &master = TDWMasterStore::shared();
        master.setPersistentStoreCoordinator(master.persistentStoreCoordinatorMigrating(false));
        auto storeMgr = TDWStoreMgr::initWithPersistentStoreCoordinator(master.persistentStoreCoordinator(), master.masterStore());
        ASSERT_TRUE(storeMgr);
        const TDWPersistentStorePtr store = storeMgr->storeForAccountUsername(QStringLiteral("returning@example.com"), QStringLiteral("mail"));
        ASSERT_TRUE(store);
        accountStore = store->path();
        master.setPersistentStoreCoordinator(nullptr);
    }
    QFile file(accountStore);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray(4096, 'x'));
    file.close();
    makeController();
    launch();
    QCoreApplication::processEvents();

    EXPECT_EQ(stops, QList<int>{EXIT_FAILURE});
    EXPECT_EQ(prompted->errors, QStringList{TDWMasterStore::unableToReadCoreDataMsg()});
    EXPECT_FALSE(controller->windows()->mainWindowController());
    EXPECT_FALSE(startupFinished);
}

TEST_F(TDWAppControllerStartup, TheMonitorIsStartedWhenInstalledAndOnlyThatProcessIsEndedAtQuit)
{
    const QString folder = tdwtest::freshDir(QStringLiteral("monitor"));
    const QString program = QDir(folder).filePath(QStringLiteral("tidewell-monitor"));
    QFile script(program);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nexec sleep 300\n");
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    // Another monitor that this run did not start.
    QProcess other;
    other.start(program, {});
    ASSERT_TRUE(other.waitForStarted());

    prepareReturningUser();
    defaults()->setBool(true, QStringLiteral("QuitNoPrompt_v2"));
    makeController();
    controller->setMonitorProgram(program);
    launch();
    ASSERT_TRUE(controller->monitorApp()->isRunning());
    EXPECT_NE(controller->monitorApp()->processId(), other.processId());

    controller->quitFlow()->quitConfirming();

    EXPECT_EQ(stops, QList<int>{EXIT_SUCCESS});
    EXPECT_FALSE(controller->monitorApp()->isRunning());
    EXPECT_EQ(other.state(), QProcess::Running);
    other.kill();
    other.waitForFinished();
}

TEST_F(TDWAppControllerStartup, AMissingMonitorIsNotStartedAndStartUpGoesOn)
{
    prepareReturningUser();
    makeController();
    controller->setMonitorProgram(QDir(tdwtest::freshDir()).filePath(QStringLiteral("tidewell-monitor")));
    launch();

    EXPECT_TRUE(startupFinished);
    EXPECT_FALSE(controller->monitorApp()->isRunning());
}

TEST_F(TDWAppControllerStartup, PasswordsGivenToAccountUpdatesReachTheKeychainManagersCache)
{
    makeController();
    launch();
    auto moc = TDWMasterStore::shared().newMoc();
    ASSERT_TRUE(moc);

    ASSERT_TRUE(TDWAccount::addAccountWithUsername(QStringLiteral("new@example.com"), QStringLiteral("secret"), 1, {QStringLiteral("mail")},
                                                   false, *moc));

    EXPECT_EQ(TDWKeychainMgr::keychainMgr()->passwordForUsername(QStringLiteral("new@example.com")), QStringLiteral("secret"));
}

// The menu items' enabling, by the item's action.
TEST_F(TDWAppControllerStartup, MenuItemsAreEnabledOnlyWhenTheyCanAct)
{
    makeController();
    auto item = [this](const char *selector) {
        for (QMenu *menu : controller->appMenus()->menus())
            for (QAction *action : menu->actions())
                if (action->objectName() == QLatin1String(selector))
                    return controller->appMenus()->validateMenuItem(action);
        ADD_FAILURE() << "no menu item " << selector;
        return false;
    };
    // Before the store is open.
    EXPECT_FALSE(item("showMainWindow:"));
    EXPECT_FALSE(item("showPrefsWindow:"));
    EXPECT_TRUE(item("quitConfirming:"));

    controller->applicationWillFinishLaunching();
    controller->applicationDidFinishLaunching();
    // The upgrade window runs (a new user passes through it): no quitting meanwhile.
    ASSERT_TRUE(controller->migrationInProgress());
    EXPECT_FALSE(item("quitConfirming:"));
    ASSERT_TRUE(waitFor([this] { return controller->firstTimeUserController() != nullptr; }));
    EXPECT_TRUE(item("quitConfirming:"));
    // No account yet, and the first run is not over.
    EXPECT_FALSE(item("showMainWindow:"));
    EXPECT_FALSE(item("showPrefsWindow:"));
    EXPECT_TRUE(item("showFaq:"));

    auto moc = TDWMasterStore::shared().newMoc();
    ASSERT_TRUE(TDWAccount::addAccountWithUsername(QStringLiteral("a@example.com"), {}, 1, {QStringLiteral("mail")}, false, *moc));
    defaults()->setBool(true, QStringLiteral("firsttimev25"));
    EXPECT_TRUE(item("showMainWindow:"));
    EXPECT_TRUE(item("showPrefsWindow:"));
}

TEST_F(TDWAppControllerStartup, SettingTheCurrentAccountRemembersItAndTellsTheWindows)
{
    makeController();
    PostedNames posted;
    QVariantMap lastUserInfo;
    const auto token = TDWNotificationCenter::defaultCenter().addObserver(
        QStringLiteral("usernameSelected"), [&](const TDWNotification &n) { lastUserInfo = n.userInfo(); });

    controller->windows()->setCurrentAccountUsername(QStringLiteral("a@example.com"));
    EXPECT_EQ(lastUserInfo.value(QStringLiteral("accountUsername")).toString(), QStringLiteral("a@example.com"));
    EXPECT_EQ(defaults()->stringForKey(QStringLiteral("lastCurrentAccountUsername")), QStringLiteral("a@example.com"));

    // None: an empty user info, and the remembered account stays.
    controller->windows()->setCurrentAccountUsername({});
    EXPECT_TRUE(lastUserInfo.isEmpty());
    EXPECT_EQ(defaults()->stringForKey(QStringLiteral("lastCurrentAccountUsername")), QStringLiteral("a@example.com"));
    EXPECT_EQ(posted.names.count(QStringLiteral("usernameSelected")), 2);
    TDWNotificationCenter::defaultCenter().removeObserver(token);
}

using TDWAppControllerQuit = AppFixture;

TEST_F(TDWAppControllerQuit, QuitNoPromptQuitsWithoutQuestions)
{
    prepareReturningUser();
    defaults()->setBool(true, QStringLiteral("QuitNoPrompt_v2"));
    makeController();
    bool inLoginItems = false;
    controller->setLoginItems({{}, [&] { return inLoginItems; }, {}, {}});
    launch();

    controller->quitFlow()->quitConfirming();

    EXPECT_TRUE(prompted->asked.isEmpty());
    EXPECT_EQ(stops, QList<int>{EXIT_SUCCESS});
    EXPECT_TRUE(controller->quitFlow()->userSaidQuit());
}

TEST_F(TDWAppControllerQuit, QuitDuringTheFirstRunAsksNothing)
{
    makeController();
    controller->setLoginItems({{}, [] { return false; }, {}, {}});
    launch();
    ASSERT_TRUE(controller->firstTimeUserController());

    controller->quitFlow()->quitConfirming();

    EXPECT_TRUE(prompted->asked.isEmpty());
    EXPECT_EQ(stops, QList<int>{EXIT_SUCCESS});
}

TEST_F(TDWAppControllerQuit, TheQuitQuestionsAnswers)
{
    struct Case
    {
        const char *name;
        bool inLoginItems;
        TDWAppPrompts::QuitAnswer answer;
        QStringList asked;
        bool quits;
        bool suppressed;
        int loginItemsAdded;
    };
    using C = TDWAppPrompts::QuitChoice;
    const Case cases[] = {
        {"quit", true, {C::Quit, false}, {QStringLiteral("quit")}, true, false, 0},
        {"quit, do not ask again", true, {C::Quit, true}, {QStringLiteral("quit")}, true, true, 0},
        {"don't quit (the box is not stored)", true, {C::DontQuit, true}, {QStringLiteral("quit")}, false, false, 0},
        // Answered once; no start-at-login question follows.
        {"quit, but start at login", false, {C::QuitAndStartAtLogin, false}, {QStringLiteral("quit+login")}, true, false, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        prepareReturningUser();
        makeController();
        int added = 0;
        bool inLoginItems = c.inLoginItems;
        controller->setLoginItems({{}, [&] { return inLoginItems; }, [&] { ++added; inLoginItems = true; }, {}});
        launch();
        prompts->quitAnswers = {c.answer};

        controller->quitFlow()->quitConfirming();
        if (c.quits) {
            EXPECT_TRUE(waitFor([this] { return !stops.isEmpty(); }));
        }

        EXPECT_EQ(prompted->asked, c.asked);
        EXPECT_EQ(stops.isEmpty(), !c.quits);
        EXPECT_EQ(defaults()->boolForKey(QStringLiteral("QuitNoPrompt_v2")), c.suppressed);
        EXPECT_EQ(added, c.loginItemsAdded);

        TearDown();
        SetUp();
        stops.clear();
        startupFinished = false;
        prompted = std::make_shared<ScriptedPrompts::Log>();
    }
}

TEST_F(TDWAppControllerQuit, TerminatingAsksOnceToStartAtLoginWhenTheUserHasNotSaidQuit)
{
    prepareReturningUser();
    makeController();
    int added = 0;
    bool inLoginItems = false;
    controller->setLoginItems({{}, [&] { return inLoginItems; }, [&] { ++added; inLoginItems = true; }, {}});
    launch();
    prompts->startAtLoginAnswers = {{TDWAppPrompts::StartAtLoginChoice::StartAtLogin, false}};

    EXPECT_EQ(controller->quitFlow()->applicationShouldTerminate(), TDWQuitFlow::TerminateReply::Cancel);
    EXPECT_EQ(added, 1);
    EXPECT_TRUE(controller->quitFlow()->userSaidQuit());
    // The delayed quit asks nothing more.
    ASSERT_TRUE(waitFor([this] { return !stops.isEmpty(); }));
    EXPECT_EQ(prompted->asked, QStringList{QStringLiteral("startAtLogin")});
}

TEST_F(TDWAppControllerQuit, NoThanksWithTheBoxTickedNeverAsksAgain)
{
    prepareReturningUser();
    makeController();
    controller->setLoginItems({{}, [] { return false; }, {}, {}});
    launch();
    prompts->startAtLoginAnswers = {{TDWAppPrompts::StartAtLoginChoice::NoThanks, true}};

    EXPECT_EQ(controller->quitFlow()->applicationShouldTerminate(), TDWQuitFlow::TerminateReply::Now);
    EXPECT_EQ(controller->quitFlow()->applicationShouldTerminate(), TDWQuitFlow::TerminateReply::Now);
    EXPECT_EQ(prompted->asked, QStringList{QStringLiteral("startAtLogin")});
    EXPECT_TRUE(defaults()->boolForKey(QStringLiteral("QuitNoPrompt_v2")));
}

// A restore that needs the main thread before it can finish (an alert, a
// blocking post) while the user quits: the quit waits for it and completes.
TEST_F(TDWAppControllerQuit, QuitDuringARunningRestoreWaitsForItAndCompletes)
{
    prepareReturningUser();
    defaults()->setBool(true, QStringLiteral("QuitNoPrompt_v2"));
    makeController();
    launch();
    PostedNames posted;

    QSemaphore restoreStarted;
    std::atomic<bool> mainThreadAnswered = false;
    std::atomic<bool> restoreFinished = false;
    controller->recoveryQueue()->addOperationWithBlock([&] {
        restoreStarted.release();
        QSemaphore answered;
        QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { answered.release(); }, Qt::QueuedConnection);
        // Bounded only so that a main thread that never answers fails the
        // test instead of hanging it.
        mainThreadAnswered = answered.tryAcquire(1, 20000);
        restoreFinished = true;
    });
    ASSERT_TRUE(restoreStarted.tryAcquire(1, 20000));
    EXPECT_TRUE(controller->recoveryQueue()->inProgress());

    controller->quitFlow()->quitConfirming();

    EXPECT_EQ(stops, QList<int>{EXIT_SUCCESS});
    EXPECT_TRUE(restoreFinished);
    EXPECT_TRUE(mainThreadAnswered);
    EXPECT_FALSE(controller->recoveryQueue()->inProgress());
    ASSERT_TRUE(waitFor([&] { return posted.names.contains(QStringLiteral("recovery_complete")); }));
    EXPECT_EQ(posted.names.filter(QStringLiteral("recovery_")),
              (QStringList{QStringLiteral("recovery_in_progress"), QStringLiteral("recovery_complete")}));
}

TEST_F(TDWAppControllerQuit, QuittingRemovesTheQuickLookFolder)
{
    prepareReturningUser();
    defaults()->setBool(true, QStringLiteral("QuitNoPrompt_v2"));
    makeController();
    launch();
    const QString quickLook = TDWMasterStore::quickLookFolder();
    ASSERT_TRUE(QDir().mkpath(QDir(quickLook).filePath(QStringLiteral("preview"))));

    controller->quitFlow()->quitConfirming();

    EXPECT_FALSE(QFileInfo::exists(quickLook));
}

} // namespace
