#pragma once

#include <QList>
#include <QObject>

#include <memory>

class QAction;
class QLabel;
class QMainWindow;
class QMenu;

// The backup browser's window. Its menu bar carries the application's menus.
// The browser itself is not part of this program yet: the window names the
// account it shows.
class TDWMainWindowController : public QObject
{
    Q_OBJECT

public:
    // The menus stay owned by the caller and must outlive the window.
    explicit TDWMainWindowController(const QList<QMenu *> &menus, QObject *parent = nullptr);
    ~TDWMainWindowController() override;

    // Shows the window, restored if minimised, in front.
    void showWindow();
    QMainWindow *window() const { return m_window.get(); }

    void setAccountUsername(const QString &username);
    // A menu shown at the end of the menu bar (the status menu on a desktop
    // without a tray), or none; it stays owned by the caller.
    void setStatusMenu(QMenu *menu);

signals:
    // The user closed the window.
    void closed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::unique_ptr<QMainWindow> m_window;
    QLabel *m_accountLabel = nullptr;
    QAction *m_statusMenuAction = nullptr;
};
