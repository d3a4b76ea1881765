#include "prefs/TDWTidewellPrefsWindowController.h"

#include <QApplication>
#include <QIcon>
#include <QStyle>
#include <QTimer>

namespace {

QPointer<TDWTidewellPrefsWindowController> &sharedInstance()
{
    static QPointer<TDWTidewellPrefsWindowController> shared;
    return shared;
}

TDWPrefsEnvironment &sharedEnvironment()
{
    static TDWPrefsEnvironment environment;
    return environment;
}

QIcon themeIcon(const char *name, QStyle::StandardPixmap fallback)
{
    return QIcon::fromTheme(QString::fromLatin1(name), QApplication::style()->standardIcon(fallback));
}

} // namespace

TDWTidewellPrefsWindowController::TDWTidewellPrefsWindowController() = default;

TDWTidewellPrefsWindowController *TDWTidewellPrefsWindowController::sharedPrefsWindowController()
{
    QPointer<TDWTidewellPrefsWindowController> &shared = sharedInstance();
    if (!shared)
        shared = new TDWTidewellPrefsWindowController;
    return shared;
}

bool TDWTidewellPrefsWindowController::hasSharedPrefsWindowController()
{
    return !sharedInstance().isNull();
}

void TDWTidewellPrefsWindowController::setEnvironment(TDWPrefsEnvironment environment)
{
    sharedEnvironment() = std::move(environment);
}

const TDWPrefsEnvironment &TDWTidewellPrefsWindowController::environment()
{
    return sharedEnvironment();
}

void TDWTidewellPrefsWindowController::setupToolbar()
{
    m_accountPrefsViewController = new TDWAccountPrefController;
    addView(m_accountPrefsViewController->view(), AccountsIdentifier, tr("Google Accounts"),
            themeIcon("system-users", QStyle::SP_DirHomeIcon), 0);
    m_generalPrefsController = new TDWGeneralPrefsController;
    addView(m_generalPrefsController->view(), GeneralIdentifier, tr("General"), themeIcon("preferences-system", QStyle::SP_ComputerIcon), 1);
    m_advancedPrefsController = new TDWAdvancedPrefsController;
    addView(m_advancedPrefsController->view(), AdvancedIdentifier, tr("Advanced"),
            themeIcon("preferences-other", QStyle::SP_FileDialogDetailedView), 2);
}

void TDWTidewellPrefsWindowController::showAccountSheetFor(const QString &username)
{
    if (attachedSheet()) {
        QApplication::beep();
        return;
    }
    toggleActivePreferenceView(AccountsIdentifier);
    displayViewForIdentifier(AccountsIdentifier, true);
    QTimer::singleShot(AccountSheetDelayMs, this, [this, username] {
        if (m_accountPrefsViewController)
            m_accountPrefsViewController->showAuthForUsername(username);
    });
}

void TDWTidewellPrefsWindowController::windowWillClose()
{
    if (sharedInstance() == this)
        sharedInstance() = nullptr;
    DBPrefsWindowController::windowWillClose();
}
