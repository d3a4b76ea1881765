#include "ui/TDWFirstTimeUserController.h"

#include "common/BKSNotUtils.h"
#include "ui/TDWAccountFlowController.h"
#include "ui/TDWContentView.h"
#include "ui/TDWInitConfigViewController.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

TDWFirstTimeUserController::TDWFirstTimeUserController(QObject *parent)
    : QObject(parent)
    , m_window(std::make_unique<QWidget>())
{
    m_window->setWindowTitle(tr("Welcome to Tidewell"));
    m_initConfigViewController = std::make_unique<TDWInitConfigViewController>(this);
    TDWContentView::set(m_window.get(), m_initConfigViewController->view());
    m_window->resize(560, 420);
    m_window->installEventFilter(this);
}

TDWFirstTimeUserController::~TDWFirstTimeUserController()
{
    // The views go with their controllers, before the window.
    m_accountFlowController.reset();
    m_initConfigViewController.reset();
}

void TDWFirstTimeUserController::showWindow()
{
    if (const QScreen *screen = m_window->screen())
        m_window->move(screen->availableGeometry().center() - m_window->rect().center());
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void TDWFirstTimeUserController::doneInitConfigView()
{
    showAccountView();
}

void TDWFirstTimeUserController::showAccountView()
{
    if (m_done)
        return;
    if (!m_accountFlowController)
        m_accountFlowController = std::make_unique<TDWAccountFlowController>(m_window.get(), this, QString());
    m_accountFlowController->populate();
}

void TDWFirstTimeUserController::backFromAccountView()
{
    TDWContentView::set(m_window.get(), m_initConfigViewController->view());
}

void TDWFirstTimeUserController::cancelAccountFlow()
{
    cancel();
}

void TDWFirstTimeUserController::cancel()
{
    if (m_done)
        return;
    close();
    // Called from the window's controls, so on the main thread, where the
    // application's delegate is asked to end.
    emit cancelled();
}

void TDWFirstTimeUserController::doneAccountFlow()
{
    if (m_done)
        return;
    const QString accountUsername = m_accountFlowController->accountUsername();
    emit finished(m_initConfigViewController->emailAddress(), m_initConfigViewController->startAtLogin(), accountUsername);
    BKSNotUtils::postNotificationName(QStringLiteral("newAccount"), this, {{QStringLiteral("accountUsername"), accountUsername}});
    BKSNotUtils::postNotificationName(QStringLiteral("firsttimedone"), this);
    close();
}

void TDWFirstTimeUserController::close()
{
    m_done = true;
    m_window->close();
}

bool TDWFirstTimeUserController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window.get())
        return QObject::eventFilter(watched, event);
    // Closing the window by its title bar is a Cancel.
    if (event->type() == QEvent::Close && !m_done) {
        m_done = true;
        emit cancelled();
    }
    // Escape, which the focused control left unhandled, is the page's Cancel
    // button, as in a dialog; nothing while that button is disabled.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Cancel)) {
        const QWidget *page = TDWContentView::current(m_window.get());
        QPushButton *cancelButton = page ? page->findChild<QPushButton *>(QStringLiteral("cancel")) : nullptr;
        if (cancelButton && cancelButton->isVisible() && cancelButton->isEnabled())
            cancelButton->click();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
