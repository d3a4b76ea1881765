#pragma once

#include "mail/TDWFoldersWithFlags.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class TDWAccountViewController;
class TDWAccountViewDelegate;
class TDWAuthViewController;
class TDWLabelViewController;
class TDWPreflight;

// The account sheet: adds an account, edits one, or signs an existing one in
// again, in a window its owner keeps (the first-run window, or the Google
// Accounts pane's sheet), whose content it swaps among the account settings
// view, the sign-in view and the Gmail label step. It ends by saving, posting
// "newAccount" (new account) or "accountUpdate" (edit, re-login) with
// {"accountUsername"}, and telling its delegate; it never closes the window.
// Main thread only.
class TDWAccountFlowController : public QObject
{
    Q_OBJECT

public:
    // `accountUsername` empty for a new account.
    TDWAccountFlowController(QWidget *window, TDWAccountViewDelegate *delegate, const QString &accountUsername,
                             QObject *parent = nullptr);
    ~TDWAccountFlowController() override;

    // Starts on the account settings view.
    void populate();
    // Re-login: starts on the sign-in view for the stored account's enabled
    // services; nothing happens when the account is not in the store.
    void populateForAuth();

    // The flow's account when it has one, else the address typed in the account view.
    QString accountUsername() const;

    // Calls of the step views.
    bool canGoBackFromAccountView() const;
    void backFromAccountView();
    void cancelledAccountView();
    void showAccountView();
    void doneAccountView(bool signInNeeded);
    void showAuthView();
    // A preflight passed, the sign-in view's or the account view's own: its
    // Gmail folder list (none when mail was not checked) goes to the label step.
    void doneAuthView(const std::optional<TDWFoldersWithFlags> &foldersWithFlags);
    void backFromAuthView();
    void backFromAuthViewWithError(const QString &message);
    void showLabelViewOnExistingAccount();
    void doneLabelView();
    void backFromLabelView();
    void applySettings();

    // The Gmail label step, for the account view's address: a new label view
    // with foldersWithFlags() (or, when there is none, the labels stored for
    // the account), or the one shown before for the same address, which
    // takes the newer folder list.
    void showLabelView();
    // The folder list handed to the label step: that of the last preflight
    // that passed with Gmail on.
    const std::optional<TDWFoldersWithFlags> &foldersWithFlags() const { return m_foldersWithFlags; }

    // The folder list of a passed preflight's Gmail check; none when no Gmail check ran.
    static std::optional<TDWFoldersWithFlags> foldersWithFlagsOf(const TDWPreflight *mailPreflightOperation);

    TDWAccountViewController *accountViewController() const { return m_accountViewController.get(); }
    TDWAuthViewController *authViewController() const;
    TDWLabelViewController *labelViewController() const { return m_labelViewController.get(); }

private:
    void showAuthViewFor(const QString &username, const QStringList &serviceIds);

    QPointer<QWidget> m_window;
    TDWAccountViewDelegate *m_delegate;
    QString m_accountUsername;
    std::optional<TDWFoldersWithFlags> m_foldersWithFlags;
    std::unique_ptr<TDWAccountViewController> m_accountViewController;
    // A child of the flow; a replaced one is deleted from the event loop, as
    // its own completion may still be on the stack.
    QPointer<TDWAuthViewController> m_authViewController;
    std::unique_ptr<TDWLabelViewController> m_labelViewController;
};
