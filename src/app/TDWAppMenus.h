#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QAction;
class QMenu;
class TDWAppController;

// The application's menus for the main window's menu bar (Tidewell, Window,
// Help with its Maintenance submenu), each item enabled as validateMenuItem()
// says when its menu opens, and the commands only menus give.
class TDWAppMenus : public QObject
{
    Q_OBJECT

public:
    explicit TDWAppMenus(TDWAppController &app);
    ~TDWAppMenus() override;

    const QList<QMenu *> &menus() const { return m_menus; }
    // An item is known by its object name, the command it sends ("showMainWindow:").
    bool validateMenuItem(const QAction *item) const;
    // Shows the Google Reader items of the main menu, hidden unless an
    // account has backed Reader up.
    void showGoogleReaderItems();

    static void showAboutBox();
    static void showTidewellWebSite();
    static void showFaq();
    // Why some messages wait for a later backup run.
    static void showThrottlingHelp();
    // Waits a second, then raises a TDWTestException ("Something went wrong")
    // on the calling thread.
    static void throwException();

private:
    void build();

    TDWAppController &m_app;
    QList<QMenu *> m_menus;
};
