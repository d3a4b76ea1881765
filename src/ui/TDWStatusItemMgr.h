#pragma once

#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QObject>

#include <memory>

class QMenu;
class QSystemTrayIcon;
class TDWBackupScheduler;

// The status-bar item (a tray icon) and its menu. Per-service backup status
// lines are not part of this program yet: the menu opens the main window and quits.
class TDWStatusItemMgr : public QObject
{
    Q_OBJECT

public:
    TDWStatusItemMgr(TDWBackupScheduler *scheduler, std::shared_ptr<TDWPersistentStoreCoordinator> coordinator, QObject *parent = nullptr);
    ~TDWStatusItemMgr() override;

    // Shows the item, or redraws it. Without a system tray nothing is shown
    // and the menu still exists.
    void draw();

    QMenu *menu() const { return m_menu.get(); }
    // Null until draw() found a system tray.
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }

signals:
    void showMainWindowRequested();
    void quitRequested();

private:
    TDWBackupScheduler *m_scheduler;
    std::shared_ptr<TDWPersistentStoreCoordinator> m_coordinator;
    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon *m_trayIcon = nullptr;
};
