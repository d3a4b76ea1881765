#pragma once

#include "prefs/TDWAccountDeleteConfirmationWindowController.h"
#include "ui/TDWAccountViewDelegate.h"

#include <QDialog>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

class QPushButton;
class TDWAccountFlowController;
class TDWAccountPrefCellView;
class TDWAccountTable;

// The Google Accounts pane: the accounts in user-name order, each with its
// services or what keeps it from being backed up, and the way to add, edit,
// sign in again, disable or delete one through the account sheet and the
// confirmation sheet, hosted on the preferences window. The list follows the
// account notifications. The controller lives as long as its view.
//
// Whether an account needs a sign-in is read from the keyring off the main
// thread (a locked keyring may wait on an unlock prompt), once per account
// and again when the account changes; until the answer is in, the row shows
// the services.
class TDWAccountPrefController : public QObject, public TDWAccountViewDelegate
{
    Q_OBJECT

public:
    // What the keyring told about an account's sign-in.
    enum class SignIn { Unknown, Valid, Required, KeyringUnavailable };

    TDWAccountPrefController();
    ~TDWAccountPrefController() override;

    QWidget *view() const { return m_view; }
    TDWAccountTable *tableView() const { return m_tableView; }
    QPushButton *addButton() const { return m_addButton; }
    // The sheet the account flow fills.
    QDialog *accountSheet() const { return m_accountSheet; }
    const QStringList &accountUsernames() const { return m_accountUsernames; }
    TDWAccountFlowController *accountFlowController() const { return m_accountFlowController.get(); }
    TDWAccountDeleteConfirmationWindowController *deleteConfirmationWindowController() const { return m_deleteConfirmationWindowController; }
    TDWAccountPrefCellView *rowView(int row) const;
    // The keyring's answer for the account, once it is in.
    SignIn signInState(const QString &username) const { return m_signIn.value(username, SignIn::Unknown); }

    void showNewAccountSheet();
    void showEditAccountSheet();
    void handleEditClick(const QString &username);
    void showAuthForUsername(const QString &username);
    void deleteAccount();

    // TDWAccountViewDelegate
    void cancelAccountFlow() override;
    void doneAccountFlow() override;

signals:
    // A keyring answer came in and its row shows it.
    void signInStateChanged(const QString &username);

private:
    void loadAccountUsernameList();
    void reloadTable();
    void reloadRow(int row);
    void accountListChanged();
    void accountUpdated(const QString &username);
    void lookUpSignIn(const QString &username);
    void openAccountSheet(const QString &username, bool forAuth);
    void selectUsername(const QString &username);
    QString selectedUsername() const;

    QWidget *m_view;
    TDWAccountTable *m_tableView;
    QPushButton *m_addButton;
    QPointer<QDialog> m_accountSheet;
    QStringList m_accountUsernames;
    std::unique_ptr<TDWAccountFlowController> m_accountFlowController;
    QPointer<TDWAccountDeleteConfirmationWindowController> m_deleteConfirmationWindowController;
    QHash<QString, SignIn> m_signIn;
    QSet<QString> m_lookingUp;
    QSet<QString> m_lookUpAgain;
};
