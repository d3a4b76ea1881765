#pragma once

// How the account sheet reports to the window that hosts it: the first-run
// window, or the Google Accounts pane.
class TDWAccountViewDelegate
{
public:
    virtual ~TDWAccountViewDelegate() = default;

    // Cancel on any step: the owner closes its window.
    virtual void cancelAccountFlow() = 0;
    // The account was saved (or signed in again) and its notification posted.
    virtual void doneAccountFlow() = 0;

    // Whether Back on the account settings view leads anywhere: the view
    // shows its Back button only then.
    virtual bool canGoBackFromAccountView() const { return false; }
    // Back on the account settings view; sent only when the above holds.
    virtual void backFromAccountView() {}
};
