#include "app/TDWWindowRegistry.h"

#include "common/BKSNotUtils.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "prefs/TDWDiagnosticWindowController.h"
#include "prefs/TDWListDiagnosticWindowController.h"
#include "prefs/TDWTidewellPrefsWindowController.h"
#include "ui/TDWActivityWindowController.h"
#include "ui/TDWMainWindowController.h"
#include "ui/TDWOpenSourceWindowController.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QMainWindow>
#include <QScreen>
#include <QWidget>

namespace {

// The screenshots' window frames: x and y of the lower-left corner, counted
// from the lower-left corner of the primary screen, then width and height.
const QRect ScreenShotMainWindowFrame(50, 50, 1340, 800);
const QRect ScreenShotNarrowMainWindowFrame(50, 50, 867, 800);
const QRect ScreenShotActivityWindowFrame(967, 541, 423, 309);
const QRect ScreenShotStatusMenuMainWindowFrame(50, 50, 920, 800);

TDWUserDefaults *defaults()
{
    return TDWUserDefaults::standard();
}

// Places the window's frame, title bar included, given from the lower left as above.
void setFrameFromLowerLeft(QWidget *window, const QRect &frame)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect placed(screen.x() + frame.x(), screen.y() + screen.height() - frame.y() - frame.height(), frame.width(), frame.height());
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    const QMargins decoration(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                              outer.bottom() - inner.bottom());
    window->setGeometry(placed.marginsRemoved(decoration));
}

} // namespace

TDWWindowRegistry::TDWWindowRegistry(QList<QMenu *> menus, QObject *parent)
    : QObject(parent)
    , m_menus(std::move(menus))
{
}

TDWWindowRegistry::~TDWWindowRegistry()
{
    delete m_mainWindowController;
    const QList<QObject *> kept = miscWindowControllers();
    qDeleteAll(kept);
}

void TDWWindowRegistry::setStatusMenu(QMenu *menu)
{
    m_statusMenu = menu;
    if (m_mainWindowController)
        m_mainWindowController->setStatusMenu(menu);
}

void TDWWindowRegistry::showMainWindow()
{
    if (m_currentAccountUsername.isEmpty()) {
        QString username = defaults()->stringForKey(TDWSettingsKeys::LastCurrentAccountUsername);
        if (std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc()) {
            if (!username.isEmpty() && !TDWAccount::byUsername(username, *moc, nullptr))
                username.clear();
            if (username.isEmpty()) {
                const auto accounts = TDWAccount::all(*moc, nullptr);
                if (accounts && !accounts->isEmpty())
                    username = accounts->first()->username();
            }
            moc->reset();
        } else {
            username.clear();
        }
        if (username.isEmpty())
            return;
        setCurrentAccountUsername(username);
    }
    if (!m_mainWindowController) {
        auto *controller = new TDWMainWindowController(m_menus, this);
        m_mainWindowController = controller;
        connect(controller, &TDWMainWindowController::closed, this, &TDWWindowRegistry::closedMainWindow);
        controller->setStatusMenu(m_statusMenu);
    }
    m_mainWindowController->setAccountUsername(m_currentAccountUsername);
    m_mainWindowController->showWindow();
}

void TDWWindowRegistry::showActivityWindow()
{
    if (!m_activityWindowController)
        m_activityWindowController = std::make_unique<TDWActivityWindowController>(m_activityMonitor);
    m_activityWindowController->showWindow();
}

void TDWWindowRegistry::showOssWindow()
{
    if (!m_ossWindowController)
        m_ossWindowController = std::make_unique<TDWOpenSourceWindowController>();
    m_ossWindowController->showWindow();
}

void TDWWindowRegistry::showListDiagnosticWindow()
{
    if (!m_listDiagnosticWindowController)
        m_listDiagnosticWindowController = std::make_unique<TDWListDiagnosticWindowController>();
    m_listDiagnosticWindowController->showWindow();
}

TDWDiagnosticWindowController *TDWWindowRegistry::showItemDiagnosticWindow(const QString &accountUsername, const QString &docId,
                                                                          const QString &service)
{
    auto *controller = new TDWDiagnosticWindowController(accountUsername, docId, service);
    connect(controller, &TDWDiagnosticWindowController::windowClosed, this, [this](TDWDiagnosticWindowController *closed) {
        removeWindowController(closed);
    });
    addWindowController(controller);
    controller->showWindow();
    return controller;
}

void TDWWindowRegistry::showPrefsWindow()
{
    TDWTidewellPrefsWindowController::sharedPrefsWindowController()->showWindow();
}

void TDWWindowRegistry::showAccountPrefs()
{
    TDWTidewellPrefsWindowController *prefs = TDWTidewellPrefsWindowController::sharedPrefsWindowController();
    prefs->showWindow();
    prefs->displayViewForIdentifier(TDWTidewellPrefsWindowController::AccountsIdentifier, true);
}

void TDWWindowRegistry::bringForward()
{
    // The main window, shown again if it was closed and restored if minimised.
    // Whatever else is open (the status icon among them) does not stand in for it.
    showMainWindow();
    if (m_mainWindowController)
        return;
    // No account yet: the window the user is working in (the first run) comes forward.
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && (window->windowType() == Qt::Window || window->windowType() == Qt::Dialog)) {
            window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
            window->raise();
            window->activateWindow();
        }
    }
}

void TDWWindowRegistry::closedMainWindow()
{
    // Dropped from the event loop: the window is still inside its close event.
    if (m_mainWindowController)
        m_mainWindowController->deleteLater();
    m_mainWindowController = nullptr;
}

void TDWWindowRegistry::userNotificationActivated(const QVariantMap &userInfo)
{
    if (userInfo.value(QStringLiteral("notificationType")).toString() != QLatin1String("loginrequired"))
        return;
    const QString username = userInfo.value(QStringLiteral("accountUsername")).toString();
    bool exists = false;
    if (std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc()) {
        exists = TDWAccount::byUsername(username, *moc, nullptr) != nullptr;
        moc->reset();
    }
    if (!exists) {
        // Deleted since the notice was shown.
        QApplication::beep();
        return;
    }
    showPrefsWindow();
    TDWTidewellPrefsWindowController::sharedPrefsWindowController()->showAccountSheetFor(username);
}

void TDWWindowRegistry::screenShotsMainWindow()
{
    showMainWindow();
    if (m_mainWindowController)
        setFrameFromLowerLeft(m_mainWindowController->window(), ScreenShotMainWindowFrame);
}

void TDWWindowRegistry::screenShotsActivityWindow()
{
    showActivityWindow();
    showMainWindow();
    setFrameFromLowerLeft(m_activityWindowController->window(), ScreenShotActivityWindowFrame);
    if (m_mainWindowController)
        setFrameFromLowerLeft(m_mainWindowController->window(), ScreenShotNarrowMainWindowFrame);
}

void TDWWindowRegistry::screenShotsStatusMenu()
{
    showMainWindow();
    if (m_mainWindowController)
        setFrameFromLowerLeft(m_mainWindowController->window(), ScreenShotStatusMenuMainWindowFrame);
}

void TDWWindowRegistry::addWindowController(QObject *controller)
{
    if (controller)
        m_miscWindowControllers.append(controller);
}

void TDWWindowRegistry::removeWindowController(QObject *controller)
{
    if (!controller || m_miscWindowControllers.removeAll(controller) == 0)
        return;
    // Later: the controller may be inside its own close handler.
    controller->deleteLater();
}

QList<QObject *> TDWWindowRegistry::miscWindowControllers() const
{
    // Each once, and none that was deleted elsewhere meanwhile.
    QList<QObject *> controllers;
    for (const QPointer<QObject> &controller : m_miscWindowControllers)
        if (controller && !controllers.contains(controller.data()))
            controllers.append(controller.data());
    return controllers;
}

void TDWWindowRegistry::setCurrentAccountUsername(const QString &username)
{
    m_currentAccountUsername = username;
    QVariantMap userInfo;
    if (!username.isEmpty()) {
        userInfo.insert(QStringLiteral("accountUsername"), username);
        defaults()->setString(username, TDWSettingsKeys::LastCurrentAccountUsername);
    }
    if (m_mainWindowController)
        m_mainWindowController->setAccountUsername(username);
    BKSNotUtils::postNotificationName(QStringLiteral("usernameSelected"), this, userInfo, true);
}

TDWMainWindowController *TDWWindowRegistry::mainWindowController() const
{
    return m_mainWindowController;
}
