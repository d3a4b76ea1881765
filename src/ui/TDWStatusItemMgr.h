#pragma once

#include "platform/foundation/TDWTimer.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QSystemTrayIcon;
class TDWAccount;
class TDWBackupScheduler;
class TDWManagedObjectContext;
class TDWNotification;
class TDWStatusAccountItems;
class TDWStatusMgr;

// The application's item in the desktop's status area (a tray icon) and its
// menu: when the last backup cycle ran or that one runs now, Back Up Now /
// Stop Backing Up, one group of lines per account with each service's status
// (TDWStatusAccountItems), and the application's commands. It follows the
// backup cycle, the accounts and outside operations through the program's
// notifications. The application's delegate makes exactly one after the
// status evaluator and the scheduler, calls draw() at once and keeps it for
// the run; everything here runs on the main thread.
//
// The menu enables and disables its items itself (nothing is enabled on
// showing), so an outside operation's disabling lasts until its end.
class TDWStatusItemMgr : public QObject
{
    Q_OBJECT

public:
    // The tag (QAction::data) of "Preferences…", which the end of the first run enables.
    static constexpr int PreferencesTag = 1000;
    // Seconds between refreshes of the status line's relative wording.
    static constexpr qint64 StatusUpdateInterval = 900;

    // `currentAccountUsername` names the account the main window shows (its
    // title line carries the check mark).
    TDWStatusItemMgr(TDWBackupScheduler *scheduler, std::shared_ptr<TDWPersistentStoreCoordinator> coordinator,
                     std::shared_ptr<TDWStatusMgr> statusMgr, std::function<QString()> currentAccountUsername, QObject *parent = nullptr);
    ~TDWStatusItemMgr() override;

    // Builds the menu, observes the notifications, starts the status-line
    // timer and shows the item shortly after, from the event loop. Once.
    void draw();

    // Back Up Now, or Stop Backing Up while a cycle runs.
    void handleNow();
    // Recomputes and installs the icon.
    void resetTopStatusIndicator();

    QMenu *menu() const { return m_menu.get(); }
    QSystemTrayIcon *trayIcon() const { return m_statusItem; }
    QAction *currentStatusItem() const { return m_currentStatusItem; }
    QAction *backUpNowItem() const { return m_backUpNowItem; }
    QAction *quitItem() const { return m_quitItem; }
    QDateTime lastBackupDate() const { return m_lastBackupDate; }
    bool backupInProgress() const { return m_backupInProgress; }
    const TDWTimer *statusUpdateTimer() const { return m_statusUpdateTimer.get(); }

    // The status line while idle: the last cycle's date, or "Not backed up".
    QString lastBackupMenuItemTitle() const;

signals:
    // An account title line was chosen that did not carry the check mark.
    void selectAccountRequested(const QString &username);
    void showMainWindowRequested();
    void showPrefsWindowRequested();
    void showAboutRequested();
    void showActivityWindowRequested();
    // "Help" beside a service whose items wait for the next run.
    void throttlingHelpRequested();
    void removeStartupItemRequested();
    void checkStartupItemStatusRequested();
    void throwExceptionRequested();
    void quitRequested();

private:
    std::unique_ptr<TDWManagedObjectContext> newMoc() const;
    void getMenu();
    void addStatusMenuItems();
    void addApplicationItems();
    QAction *addItem(const QString &title, void (TDWStatusItemMgr::*signal)());
    QList<QAction *> accountStatusItems(const QList<std::shared_ptr<TDWAccount>> &accounts, TDWManagedObjectContext &moc);
    QList<QAction *> menuItemsForAccount(const std::shared_ptr<TDWAccount> &account, TDWManagedObjectContext &moc);
    void updateAllAccountMenuItems();
    void updateAccountMenuItemsForUsername(const QString &username, TDWManagedObjectContext &moc);
    qsizetype indexOfMenuItemAfterThoseForUsername(const QString &username) const;
    qsizetype indexOfTitle(const QString &title) const;
    void insertItems(qsizetype index, const QList<QAction *> &items);
    void removeItems(qsizetype first, qsizetype count);
    QAction *noAccountsItem();
    void handleAccountSelection(QAction *sender, bool checkedNow);

    void observe();
    void backupStarted();
    void backupStopped();
    void accountAdded(const TDWNotification &notification);
    void accountDeleted(const TDWNotification &notification);
    void accountUpdated(const TDWNotification &notification);
    void toggledIncludeInStatus(const TDWNotification &notification);
    void clientSelectedUsername(const TDWNotification &notification);
    void outsideOpStarted();
    void outsideOpFinished();
    void firstTimeUserDone();

    void displayBackupStarted();
    void updateDateFormat();
    void resetBackupNowEnabled();
    void drawOnMain();
    void scheduleDrawTimer(std::chrono::milliseconds delay, void (TDWStatusItemMgr::*step)());

    TDWBackupScheduler *m_backupScheduler;
    std::shared_ptr<TDWPersistentStoreCoordinator> m_storeCoordinator;
    std::shared_ptr<TDWStatusMgr> m_statusMgr;
    std::function<QString()> m_currentAccountUsername;
    std::unique_ptr<TDWStatusAccountItems> m_accountItems;

    QSystemTrayIcon *m_statusItem;
    std::unique_ptr<QMenu> m_menu;
    QAction *m_currentStatusItem = nullptr;
    QAction *m_quitItem = nullptr;
    QAction *m_backUpNowItem = nullptr;
    QDateTime m_lastBackupDate;
    std::unique_ptr<TDWTimer> m_statusUpdateTimer;
    bool m_backupInProgress = false;
    QStringList m_accountUsernames;
    QAction *m_itemAfterAccounts = nullptr;
    std::optional<QList<QPointer<QAction>>> m_menuItemsDisabledForOutsideOp;
    QTimer m_drawTimer;
};
