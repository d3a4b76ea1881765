#pragma once

#include "platform/notify/TDWNotificationCenter.h"

#include <QDomDocument>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <memory>

class QTextBrowser;
class QWidget;

// The post-upgrade notes window, shown once to a returning user after an
// upgrade: the page "updatenotes", filled in for the user's accounts and
// settings. It says which accounts must sign in again (and how many), offers
// mail backup until the user has seen that once ("firsttimev2"), and the
// choice of calendars to back up; its "tw:" links act instead of navigating.
// Done marks the notes as read ("firsttimev2", "firsttimev25"), forgets
// "oauthMigrationResult" and closes the window; closing it otherwise shows it
// again at the next start.
class TDWFirstTimeV25WindowController : public QObject
{
    Q_OBJECT

public:
    // Every account after the upgrade, and those that must sign in again.
    TDWFirstTimeV25WindowController(const QStringList &allUsernames, const QStringList &failedUsernames, QObject *parent = nullptr);
    ~TDWFirstTimeV25WindowController() override;

    const QStringList &allUsernames() const { return m_allUsernames; }
    const QStringList &failedUsernames() const { return m_failedUsernames; }

    void showWindow();
    // The Done button.
    void done();

    QWidget *window() const { return m_window.get(); }
    QTextBrowser *webView() const { return m_webView; }
    // The page as it stands after the fill-ins (XHTML).
    QString pageSource() const { return m_page.toString(-1); }

    // A link of the page was followed: a "tw:" link acts, any other opens in the
    // user's browser. Answers whether the view should navigate (never).
    bool decidePolicyForNavigation(const QUrl &url);
    // Shows the "calendarAccessLevel" setting as the selected choice.
    void handleCalendarSettingChange();

signals:
    // Done: the window is closed and its controller may go.
    void finished();

private:
    // What the page gets once loaded.
    void didFinishLoad();
    void updateForAuthInfo();
    void updateForMail();
    void setCalendarAccessLevel(int level);
    void logInNow();
    void configureMail();
    // Shows the page, its radio inputs drawn as marks (the view has no form controls).
    void render();

    const QStringList m_allUsernames;
    const QStringList m_failedUsernames;
    std::unique_ptr<QWidget> m_window;
    QTextBrowser *m_webView = nullptr;
    QDomDocument m_page;
    TDWNotificationCenter::Token m_calendarObserver;
};
