#pragma once

#include "agent/TDWBackupSchedulerEnvironment.h"
#include "app/TDWAppPrompts.h"
#include "platform/foundation/TDWError.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QAction;
class QMenu;
class TDWActivityMonitor;
class TDWActivityWindowController;
class TDWDesktopNotifier;
class TDWBackupScheduler;
class TDWFirstTimeUserController;
class TDWHttpOperation;
class TDWListDiagnosticWindowController;
class TDWMainWindowController;
class TDWMigratingProgressWindowController;
class TDWMonitorApp;
class TDWOpenSourceWindowController;
class TDWOperation;
class TDWOperationQueue;
class TDWStatusItemMgr;
class TDWStatusMgr;
struct TDWUpgradeResult;

// The application's delegate: starts everything up (settings, the master
// store or the upgrade window, the first-run or main window, the backup
// machinery), holds what start-up made for the whole run, and asks and waits
// for what it must at quit. One per process, reached through shared().
//
// Start-up runs applicationWillFinishLaunching() before the event loop and
// applicationDidFinishLaunching() from it; the rest follows from the windows'
// answers. A fatal failure on the way shows its message and stops: stopped()
// is emitted and nothing further starts.
class TDWAppController : public QObject
{
    Q_OBJECT

public:
    enum class TerminateReply { Now, Cancel };

    // The login items: the user's autostart entry unless replaced.
    struct LoginItems
    {
        std::function<void()> migrateLoginItem;
        std::function<bool()> inLoginItems;
        std::function<void()> addToLoginItems;
        std::function<void()> removeFromLoginItems;
    };

    explicit TDWAppController(std::unique_ptr<TDWAppPrompts> prompts, QObject *parent = nullptr);
    ~TDWAppController() override;

    // The application's delegate, or null before it exists.
    static TDWAppController *shared();

    void setLoginItems(LoginItems loginItems);
    // The monitor program to start at launch (default: next to the executable).
    void setMonitorProgram(const QString &path);
    // What the backup scheduler stands on (default: the system's network and
    // power layers, timers and the engine's operations).
    void setBackupSchedulerEnvironment(std::function<TDWBackupSchedulerEnvironment()> makeEnvironment);

    // Start-up.
    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    void initAfterStoreCoordinator(bool backUpImmediately);
    void finishedUpgradingDb(const TDWUpgradeResult &result);
    void handleDbUpgradeFailure();
    void doneFirstTimeUser(bool backUpImmediately);
    void makeForegroundApp();

    // Quitting. terminate() asks applicationShouldTerminate() and stops when it
    // answers Now.
    void quitConfirming();
    void terminate();
    TerminateReply applicationShouldTerminate();
    void quitTidewellMonitor();
    void deleteQuickLookFolder();
    void setRestartingTemp();
    // Another start of the program asked this one to come forward.
    void activate();

    // Menu actions and their enabling.
    void showMainWindow();
    void showActivityWindow();
    void showOssWindow();
    void showPrefsWindow();
    void showAccountPrefs();
    void showTidewellWebSite();
    void showFaq();
    void showAboutBox();
    bool validateMenuItem(const QAction *item) const;
    // The application menu, for the main window's menu bar.
    const QList<QMenu *> &menus() const { return m_menus; }

    // One-time fix-ups and maintenance commands. resetGoogleDriveBackup()
    // answers whether its change was saved.
    void showGoogleReaderMenuItemsIfNecessary();
    void deleteOldDocListXmlFolders();
    void lockDownKeychainItems();
    bool resetGoogleDriveBackup();
    void forceFullOfGoogleDrive();
    void copyScreenShotPrefs();
    // Waits a second, then raises a TDWTestException ("Something went wrong")
    // on the calling thread.
    void throwException();
    // Arrange the windows for the product's screenshots.
    void screenShotsMainWindow();
    void screenShotsActivityWindow();
    void screenShotsStatusMenu();
    // Kept for the menu layout's sake: taking screenshots is left to the desktop.
    void takeAllScreenShots();
    void showListDiagnosticWindow();

    // A click on one of the program's desktop notifications.
    void userNotificationActivated(const QVariantMap &userInfo);
    TDWDesktopNotifier *notifier() const { return m_notifier; }

    // Windows.
    void closedMainWindow();
    // Keeps another part's window controller alive (and owns it) until it is
    // removed; removing drops every occurrence and deletes it from the event loop.
    void addWindowController(QObject *controller);
    void removeWindowController(QObject *controller);
    QList<QObject *> miscWindowControllers() const;
    QString currentAccountUsername() const { return m_currentAccountUsername; }
    void setCurrentAccountUsername(const QString &username);

    // Sends the address to the maker's mailing list in the background (the
    // site from the setting "secureWebSiteURL"); the answer is not looked at.
    void subscribeEmail(const QString &emailAddress);

    // The user-chosen backup folder: a file URL, or an empty URL for the
    // default folder. Saving refuses (false, nothing changed) a URL that is
    // not an absolute local path.
    QUrl altBackupLoc() const;
    bool saveAltBackupLoc(const QUrl &url);

    // The restore queue: at most 4 restores at once; quitting waits for them.
    void addRecoveryOperation(const std::shared_ptr<TDWOperation> &operation);
    void addRecoveryOperationWithBlock(std::function<void()> block);
    bool recoveryInProgress() const { return m_recoveryInProgress; }

    // What start-up made (null before it made them).
    TDWActivityMonitor *activityMonitor() const { return m_activityMonitor.get(); }
    std::shared_ptr<TDWStatusMgr> statusMgr() const;
    TDWBackupScheduler *backupScheduler() const { return m_backupScheduler.get(); }
    TDWStatusItemMgr *statusItemMgr() const;
    TDWMainWindowController *mainWindowController() const;
    TDWActivityWindowController *activityWindowController() const { return m_activityWindowController.get(); }
    TDWOpenSourceWindowController *ossWindowController() const { return m_ossWindowController.get(); }
    TDWListDiagnosticWindowController *listDiagnosticWindowController() const { return m_listDiagnosticWindowController.get(); }
    TDWFirstTimeUserController *firstTimeUserController() const;
    TDWMigratingProgressWindowController *migratingDatabaseWindowController() const;
    TDWMonitorApp *monitorApp() const { return m_monitorApp; }

    bool userSaidQuit() const { return m_userSaidQuit; }
    bool migrationInProgress() const { return m_migrationInProgress; }
    // True once start-up has failed for good or the application was told to end.
    bool isStopping() const { return m_stopping; }

signals:
    // The application is to end with this exit code.
    void stopped(int exitCode);
    // The backup machinery is running: start-up is complete.
    void startupFinished();

private:
    void buildMenus();
    void runStartupFixups();
    void openWebSiteLink(const QString &page);
    bool checkServiceTable();
    void registerDefaults();
    void writeKnownServices();
    void openMasterStore();
    void showUpgradeWindow(bool updateDatabase, bool updateOauth);
    void showFirstTimeUserWindow();
    void showFirstTimeV25Window();
    void firstTimeUserFinished(const QString &emailAddress, bool startAtLogin, const QString &accountUsername);
    void getStatusInfo(bool backUpImmediately);
    void finishInitializationAfterStatus(bool backUpImmediately);
    // The status menu's commands.
    void connectStatusItemMgr(TDWStatusItemMgr *statusItemMgr);
    // Sets each one-time backup flag not yet set; true when one was unset.
    bool setOneTimeBackupFlags();
    void recoveryCountChanged(int count);
    void waitForRecoveryOperations();
    bool inLoginItems() const;
    void addToLoginItemsThenQuit();
    // Shows the message, then stops (once; later calls do nothing).
    void stopWithError(const QString &message);
    void stop(int exitCode);
    void fileLayoutFailed(const TDWError &error);
    // The first failure of the file layout, or a null error.
    TDWError fatalError() const;

    std::unique_ptr<TDWAppPrompts> m_prompts;
    LoginItems m_loginItems;
    std::function<TDWBackupSchedulerEnvironment()> m_makeSchedulerEnvironment;
    TDWMonitorApp *m_monitorApp = nullptr;
    TDWDesktopNotifier *m_notifier = nullptr;
    QList<QMenu *> m_menus;

    std::unique_ptr<TDWOperationQueue> m_recoveryOperations;
    std::unique_ptr<TDWOperationQueue> m_statusQueue;
    std::unique_ptr<TDWActivityMonitor> m_activityMonitor;
    mutable std::mutex m_statusMutex; // guards m_statusMgr, written by the status thread too
    std::shared_ptr<TDWStatusMgr> m_statusMgr;
    std::unique_ptr<TDWBackupScheduler> m_backupScheduler;
    QPointer<TDWStatusItemMgr> m_statusItemMgr;
    QPointer<TDWMainWindowController> m_mainWindowController;
    QPointer<TDWFirstTimeUserController> m_firstTimeUserController;
    QPointer<TDWMigratingProgressWindowController> m_migratingDatabaseWindowController;
    QList<QPointer<QObject>> m_miscWindowControllers;
    std::unique_ptr<TDWActivityWindowController> m_activityWindowController;
    std::unique_ptr<TDWOpenSourceWindowController> m_ossWindowController;
    std::unique_ptr<TDWListDiagnosticWindowController> m_listDiagnosticWindowController;
    // Cancelled at the end if still running, so that quitting never waits for them.
    QList<std::weak_ptr<TDWHttpOperation>> m_subscriptions;

    QString m_currentAccountUsername;
    bool m_userSaidQuit = false;
    bool m_migrationInProgress = false;
    bool m_restartingTemp = false;
    std::atomic<bool> m_recoveryInProgress = false;
    bool m_stopping = false;
    bool m_terminating = false; // inside terminate()

    mutable std::mutex m_fatalMutex; // guards m_fatalError, set from any thread
    TDWError m_fatalError;
};
