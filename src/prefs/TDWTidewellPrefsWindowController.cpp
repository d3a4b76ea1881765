#include "prefs/TDWTidewellPrefsWindowController.h"

#include <QLabel>
#include <QTabWidget>

TDWTidewellPrefsWindowController *TDWTidewellPrefsWindowController::sharedPrefsWindowController()
{
    // Never destroyed: a widget must not outlive the application object, and
    // the application object's own end cannot delete one safely any more.
    static auto *shared = new TDWTidewellPrefsWindowController;
    return shared;
}

TDWTidewellPrefsWindowController::TDWTidewellPrefsWindowController()
    : m_window(new QTabWidget)
{
    m_window->setWindowTitle(tr("Tidewell Preferences"));
    m_accountsLabel = new QLabel;
    m_accountsLabel->setAlignment(Qt::AlignCenter);
    m_window->addTab(m_accountsLabel, tr("Google Accounts"));
    m_window->resize(640, 420);
}

TDWTidewellPrefsWindowController::~TDWTidewellPrefsWindowController()
{
    delete m_window;
}

void TDWTidewellPrefsWindowController::showWindow()
{
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void TDWTidewellPrefsWindowController::displayViewForIdentifier(const QString &identifier, bool)
{
    for (int i = 0; i < m_window->count(); ++i)
        if (m_window->tabText(i) == identifier)
            m_window->setCurrentIndex(i);
}

QString TDWTidewellPrefsWindowController::currentPaneIdentifier() const
{
    return m_window->tabText(m_window->currentIndex());
}

void TDWTidewellPrefsWindowController::showAccountSheetFor(const QString &username)
{
    m_accountSheetUsername = username;
    displayViewForIdentifier(tr("Google Accounts"), true);
    m_accountsLabel->setText(tr("Log in to: %1").arg(username));
    showWindow();
}
