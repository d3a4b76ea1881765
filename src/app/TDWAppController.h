#pragma once

#include "agent/TDWBackupSchedulerEnvironment.h"
#include "app/TDWAppPrompts.h"
#include "platform/foundation/TDWError.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <mutex>

class TDWActivityMonitor;
class TDWAppMenus;
class TDWDesktopNotifier;
class TDWBackupScheduler;
class TDWFirstTimeUserController;
class TDWHttpOperation;
class TDWMigratingProgressWindowController;
class TDWMonitorApp;
class TDWOperationQueue;
class TDWQuitFlow;
class TDWRecoveryQueue;
class TDWRecoveryUserOperation;
class TDWStatusItemMgr;
class TDWStatusMgr;
class TDWTrayWatch;
class TDWWindowRegistry;
struct TDWUpgradeResult;

// The application's delegate: starts everything up (settings, the master
// store or the upgrade window, the first-run or main window, the backup
// machinery) and owns what start-up made for the whole run, and the pieces
// the rest is left to: the menus, the window registry, the restore queue and
// the quit flow. One per process, reached through shared().
//
// Start-up runs applicationWillFinishLaunching() before the event loop and
// applicationDidFinishLaunching() from it; the rest follows from the windows'
// answers. A fatal failure on the way shows its message and stops: stopped()
// is emitted and nothing further starts.
class TDWAppController : public QObject
{
    Q_OBJECT

public:
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
    const LoginItems &loginItems() const { return m_loginItems; }
    TDWAppPrompts &prompts() const { return *m_prompts; }
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

    // Another start of the program asked this one to come forward.
    void activate();
    void quitTidewellMonitor();

    // Sends the address to the maker's mailing list in the background (the
    // site from the setting "secureWebSiteURL"); the answer is not looked at.
    void subscribeEmail(const QString &emailAddress);

    // The user-chosen backup folder: a file URL, or an empty URL for the
    // default folder. Saving refuses (false, nothing changed) a URL that is
    // not an absolute local path.
    QUrl altBackupLoc() const;
    bool saveAltBackupLoc(const QUrl &url);

    // The pieces, made with the delegate and kept to the end.
    TDWAppMenus *appMenus() const { return m_appMenus.get(); }
    TDWWindowRegistry *windows() const { return m_windows.get(); }
    TDWRecoveryQueue *recoveryQueue() const { return m_recoveryQueue.get(); }
    // Starts a restore request and its status window (at most 4 requests run at once).
    void addRecoveryOperation(const std::shared_ptr<TDWRecoveryUserOperation> &request);
    TDWQuitFlow *quitFlow() const { return m_quitFlow.get(); }

    // What start-up made (null before it made them).
    TDWActivityMonitor *activityMonitor() const { return m_activityMonitor.get(); }
    std::shared_ptr<TDWStatusMgr> statusMgr() const;
    TDWBackupScheduler *backupScheduler() const { return m_backupScheduler.get(); }
    TDWStatusItemMgr *statusItemMgr() const;
    TDWFirstTimeUserController *firstTimeUserController() const;
    TDWMigratingProgressWindowController *migratingDatabaseWindowController() const;
    TDWMonitorApp *monitorApp() const { return m_monitorApp; }
    TDWDesktopNotifier *notifier() const { return m_notifier; }

    bool migrationInProgress() const { return m_migrationInProgress; }
    // True once start-up has failed for good or the application was told to end.
    bool isStopping() const { return m_stopping; }

signals:
    // The application is to end with this exit code.
    void stopped(int exitCode);
    // The backup machinery is running: start-up is complete.
    void startupFinished();

private:
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
    // The status menu in the tray, or else in the main window's menu bar;
    // the first time it goes there, the user is told (once per installation).
    void placeStatusMenu(bool trayAvailable);
    // Sets each one-time backup flag not yet set; true when one was unset.
    bool setOneTimeBackupFlags();
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
    std::unique_ptr<TDWRecoveryQueue> m_recoveryQueue;
    std::unique_ptr<TDWQuitFlow> m_quitFlow;
    // The registry's windows go before the menus in their menu bar.
    std::unique_ptr<TDWAppMenus> m_appMenus;
    std::unique_ptr<TDWWindowRegistry> m_windows;

    std::unique_ptr<TDWOperationQueue> m_statusQueue;
    std::unique_ptr<TDWActivityMonitor> m_activityMonitor;
    mutable std::mutex m_statusMutex; // guards m_statusMgr, written by the status thread too
    std::shared_ptr<TDWStatusMgr> m_statusMgr;
    std::unique_ptr<TDWBackupScheduler> m_backupScheduler;
    QPointer<TDWStatusItemMgr> m_statusItemMgr;
    std::unique_ptr<TDWTrayWatch> m_trayWatch;
    QPointer<TDWFirstTimeUserController> m_firstTimeUserController;
    QPointer<TDWMigratingProgressWindowController> m_migratingDatabaseWindowController;
    // Cancelled at the end if still running, so that quitting never waits for them.
    QList<std::weak_ptr<TDWHttpOperation>> m_subscriptions;

    bool m_migrationInProgress = false;
    bool m_stopping = false;

    mutable std::mutex m_fatalMutex; // guards m_fatalError, set from any thread
    TDWError m_fatalError;
};
