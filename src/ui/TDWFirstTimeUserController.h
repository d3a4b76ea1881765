#pragma once

#include "ui/TDWAccountViewDelegate.h"

#include <QObject>
#include <QString>

#include <memory>

class QWidget;
class TDWAccountFlowController;
class TDWInitConfigViewController;

// The first-run window: a page of initial settings, then, in the same window,
// the account sheet for the first account (Back on its account view returns
// to the settings page). When the account has been saved it hands the
// settings to the application (finished()), posts "newAccount" and
// "firsttimedone" and closes. Cancel on any page (or Escape, which presses
// it), or closing the window, closes it and asks the application to end
// (cancelled()), without anything written. Everything happens on the main thread, the end request included.
class TDWFirstTimeUserController : public QObject, public TDWAccountViewDelegate
{
    Q_OBJECT

public:
    explicit TDWFirstTimeUserController(QObject *parent = nullptr);
    ~TDWFirstTimeUserController() override;

    void showWindow();
    QWidget *window() const { return m_window.get(); }
    TDWInitConfigViewController *initConfigViewController() const { return m_initConfigViewController.get(); }
    // Null until the settings page's Continue.
    TDWAccountFlowController *accountFlowController() const { return m_accountFlowController.get(); }

    // The settings page's Continue: the account sheet for the first account.
    void doneInitConfigView();
    void showAccountView();
    void cancel();

    // TDWAccountViewDelegate
    bool canGoBackFromAccountView() const override { return true; }
    void backFromAccountView() override;
    void cancelAccountFlow() override;
    void doneAccountFlow() override;

signals:
    // The first account is saved. The address is empty unless it holds "@".
    // The receiver writes the settings and the one-time flags and shows the
    // main window on the account before the window posts its notifications.
    void finished(const QString &emailAddress, bool startAtLogin, const QString &accountUsername);
    // The application is to end.
    void cancelled();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void close();

    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<TDWInitConfigViewController> m_initConfigViewController;
    std::unique_ptr<TDWAccountFlowController> m_accountFlowController;
    bool m_done = false;
};
