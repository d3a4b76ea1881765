#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTabWidget>


class QLabel;


// The preferences window, one per process. Its panes' settings are not part
// of this program yet: the Google Accounts pane names the account whose
// sign-in was asked for.
class TDWTidewellPrefsWindowController : public QObject
{
    Q_OBJECT

public:
    static TDWTidewellPrefsWindowController *sharedPrefsWindowController();
    ~TDWTidewellPrefsWindowController() override;

    void showWindow();
    QTabWidget *window() const { return m_window; }

    // Selects the pane with that identifier (its title); unknown ones are ignored.
    void displayViewForIdentifier(const QString &identifier, bool animate);
    QString currentPaneIdentifier() const;

    // Shows the Google Accounts pane with the sign-in for that account.
    void showAccountSheetFor(const QString &username);
    QString accountSheetUsername() const { return m_accountSheetUsername; }

private:
    TDWTidewellPrefsWindowController();

    QPointer<QTabWidget> m_window;
    QLabel *m_accountsLabel = nullptr;
    QString m_accountSheetUsername;
};
