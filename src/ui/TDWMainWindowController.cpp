#include "ui/TDWMainWindowController.h"

#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

TDWMainWindowController::TDWMainWindowController(const QList<QMenu *> &menus, QObject *parent)
    : QObject(parent)
    , m_window(std::make_unique<QMainWindow>())
{
    m_window->setWindowTitle(QStringLiteral("Tidewell"));
    for (QMenu *menu : menus)
        m_window->menuBar()->addMenu(menu);
    m_accountLabel = new QLabel;
    m_accountLabel->setAlignment(Qt::AlignCenter);
    m_window->setCentralWidget(m_accountLabel);
    m_window->resize(900, 600);
    m_window->installEventFilter(this);
}

TDWMainWindowController::~TDWMainWindowController() = default;

void TDWMainWindowController::showWindow()
{
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void TDWMainWindowController::setAccountUsername(const QString &username)
{
    m_accountLabel->setText(username);
}

void TDWMainWindowController::setStatusMenu(QMenu *menu)
{
    if (m_statusMenuAction)
        m_window->menuBar()->removeAction(m_statusMenuAction);
    m_statusMenuAction = menu ? m_window->menuBar()->addMenu(menu) : nullptr;
}

bool TDWMainWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window.get() && event->type() == QEvent::Close)
        emit closed();
    return QObject::eventFilter(watched, event);
}
