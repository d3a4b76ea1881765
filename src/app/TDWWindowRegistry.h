#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <memory>

class QMenu;
class TDWActivityMonitor;
class TDWActivityWindowController;
class TDWDiagnosticWindowController;
class TDWListDiagnosticWindowController;
class TDWMainWindowController;
class TDWOpenSourceWindowController;

// The program's windows after start-up: the main window of the current
// account, the Activity, notices and list-diagnostic windows (each made when
// first shown and kept to the end), the preferences, and the window
// controllers of other parts, kept alive here until they close.
class TDWWindowRegistry : public QObject
{
    Q_OBJECT

public:
    // The menus go into the main window's menu bar.
    explicit TDWWindowRegistry(QList<QMenu *> menus, QObject *parent = nullptr);
    ~TDWWindowRegistry() override;

    // A menu the main window carries at the end of its menu bar (the status
    // menu while there is no tray), or none.
    void setStatusMenu(QMenu *menu);

    // What the Activity window shows; set once start-up has made it.
    void setActivityMonitor(TDWActivityMonitor *monitor) { m_activityMonitor = monitor; }

    // The main window for the current account, or for the one used last (or
    // else the first) when none is chosen; nothing without an account.
    void showMainWindow();
    void showActivityWindow();
    void showOssWindow();
    void showListDiagnosticWindow();
    // A new item diagnostics window ("Perform diagnostics…"), kept here until it closes.
    TDWDiagnosticWindowController *showItemDiagnosticWindow(const QString &accountUsername, const QString &docId, const QString &service);
    void showPrefsWindow();
    void showAccountPrefs();
    // Brings the program forward: the main window (or, before there is an
    // account, the open windows), shown or restored and raised.
    void bringForward();
    void closedMainWindow();
    // A click on one of the program's desktop notifications.
    void userNotificationActivated(const QVariantMap &userInfo);

    // Arrange the windows for the product's screenshots.
    void screenShotsMainWindow();
    void screenShotsActivityWindow();
    void screenShotsStatusMenu();

    // Keeps another part's window controller alive (and owns it) until it is
    // removed; removing drops every occurrence and deletes it from the event loop.
    void addWindowController(QObject *controller);
    void removeWindowController(QObject *controller);
    QList<QObject *> miscWindowControllers() const;

    QString currentAccountUsername() const { return m_currentAccountUsername; }
    // Remembered as the last one chosen, and posted as "usernameSelected".
    void setCurrentAccountUsername(const QString &username);

    // Null until first shown (the main window: while closed).
    TDWMainWindowController *mainWindowController() const;
    TDWActivityWindowController *activityWindowController() const { return m_activityWindowController.get(); }
    TDWOpenSourceWindowController *ossWindowController() const { return m_ossWindowController.get(); }
    TDWListDiagnosticWindowController *listDiagnosticWindowController() const { return m_listDiagnosticWindowController.get(); }

private:
    QList<QMenu *> m_menus;
    QPointer<QMenu> m_statusMenu;
    TDWActivityMonitor *m_activityMonitor = nullptr;
    QString m_currentAccountUsername;
    QPointer<TDWMainWindowController> m_mainWindowController;
    QList<QPointer<QObject>> m_miscWindowControllers;
    std::unique_ptr<TDWActivityWindowController> m_activityWindowController;
    std::unique_ptr<TDWOpenSourceWindowController> m_ossWindowController;
    std::unique_ptr<TDWListDiagnosticWindowController> m_listDiagnosticWindowController;
};
