#pragma once

#include "prefs/DBPrefsWindowController.h"
#include "prefs/TDWAccountPrefController.h"
#include "prefs/TDWAdvancedPrefsController.h"
#include "prefs/TDWGeneralPrefsController.h"
#include "prefs/TDWPrefsEnvironment.h"

#include <QPointer>
#include <QString>

// The application's preferences window: the Google Accounts, General and
// Advanced panes ("accounts", "general", "advanced"), each made afresh at
// every opening. One at a time; a closed window is released, and the next
// call makes a new one. There is no software-update pane: distribution
// packages update the program.
class TDWTidewellPrefsWindowController : public DBPrefsWindowController
{
    Q_OBJECT

public:
    static inline const QString AccountsIdentifier = QStringLiteral("accounts");
    static inline const QString GeneralIdentifier = QStringLiteral("general");
    static inline const QString AdvancedIdentifier = QStringLiteral("advanced");
    // After the pane has come up, the sign-in sheet opens on it.
    static constexpr int AccountSheetDelayMs = 250;

    static TDWTidewellPrefsWindowController *sharedPrefsWindowController();
    // Whether a window exists now (without making one).
    static bool hasSharedPrefsWindowController();

    // What the panes act on; start-up sets it once for the whole run.
    static void setEnvironment(TDWPrefsEnvironment environment);
    static const TDWPrefsEnvironment &environment();

    // The Google Accounts pane with the sign-in sheet of that account; only a
    // beep while a sheet is open on the window.
    void showAccountSheetFor(const QString &username);

    TDWAccountPrefController *accountPrefsViewController() const { return m_accountPrefsViewController; }
    TDWGeneralPrefsController *generalPrefsController() const { return m_generalPrefsController; }
    TDWAdvancedPrefsController *advancedPrefsController() const { return m_advancedPrefsController; }

protected:
    void setupToolbar() override;
    void windowWillClose() override;

private:
    TDWTidewellPrefsWindowController();

    QPointer<TDWAccountPrefController> m_accountPrefsViewController;
    QPointer<TDWGeneralPrefsController> m_generalPrefsController;
    QPointer<TDWAdvancedPrefsController> m_advancedPrefsController;
};
