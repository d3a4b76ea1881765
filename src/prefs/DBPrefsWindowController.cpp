#include "prefs/DBPrefsWindowController.h"

#include "platform/foundation/TDWUserDefaults.h"
#include "ui/TDWWindowUtilities.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QGraphicsOpacityEffect>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QStackedWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

constexpr int CrossFadeMs = 250;
constexpr int SlowCrossFadeMs = 1250;

} // namespace

DBPrefsWindowController::DBPrefsWindowController(QObject *parent)
    : QObject(parent)
{
}

DBPrefsWindowController::~DBPrefsWindowController()
{
    if (m_viewAnimation)
        m_viewAnimation->stop();
    if (m_window)
        m_window->removeEventFilter(this);
}

QWidget *DBPrefsWindowController::window()
{
    if (!m_window)
        windowDidLoad();
    return m_window.get();
}

void DBPrefsWindowController::windowDidLoad()
{
    m_window = std::make_unique<QWidget>();
    m_window->setObjectName(FrameAutosaveName);
    m_window->setWindowTitle(tr("Preferences"));
    m_window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
    auto *layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_toolbar = new QToolBar(m_window.get());
    m_toolbar->setObjectName(QStringLiteral("DBPreferencesToolbar"));
    m_toolbar->setMovable(false);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolbarGroup = new QActionGroup(m_toolbar);
    m_toolbarGroup->setExclusive(true);
    layout->addWidget(m_toolbar);
    m_contentSubview = new QStackedWidget(m_window.get());
    layout->addWidget(m_contentSubview, 1, Qt::AlignTop);
    m_window->installEventFilter(this);
}

void DBPrefsWindowController::addView(QWidget *view, const QString &identifier, const QString &label, const QIcon &image, int index)
{
    Q_ASSERT_X(view, "addView", "Attempted to add a nil view when calling -addView:label:image:.");
    if (!view)
        return;
    window();
    if (index < 0 || index > m_toolbarIdentifiers.size())
        index = int(m_toolbarIdentifiers.size());
    auto *item = new QAction(image, label, m_toolbarGroup);
    item->setObjectName(identifier);
    item->setCheckable(true);
    connect(item, &QAction::triggered, this, [this, identifier] { toggleActivePreferenceView(identifier); });
    QAction *before = index < m_toolbarIdentifiers.size() ? m_toolbarItems.value(m_toolbarIdentifiers.at(index)) : nullptr;
    m_toolbar->insertAction(before, item);
    m_toolbarIdentifiers.insert(index, identifier);
    m_toolbarViews.insert(identifier, view);
    m_toolbarItems.insert(identifier, item);
    // Only the pane shown counts for the window's size. (A pane's size may
    // not depend on its width: the stack would take the height another pane
    // asks for at that width.)
    view->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    m_contentSubview->addWidget(view);
}

void DBPrefsWindowController::removeViewWithIdentifier(const QString &identifier)
{
    const qsizetype position = m_toolbarIdentifiers.indexOf(identifier);
    if (position < 0)
        return;
    QAction *item = m_toolbarItems.take(identifier);
    const bool wasSelected = item && item->isChecked();
    m_toolbarIdentifiers.removeAt(position);
    QWidget *view = m_toolbarViews.take(identifier);
    delete item;
    if (view) {
        m_contentSubview->removeWidget(view);
        view->deleteLater();
    }
    if (wasSelected && !m_toolbarIdentifiers.isEmpty()) {
        const QString first = m_toolbarIdentifiers.first();
        m_toolbarItems.value(first)->setChecked(true);
        displayViewForIdentifier(first, true);
    }
}

void DBPrefsWindowController::showWindow()
{
    QWidget *shown = window();
    if (!shown->isVisible()) {
        reconfigureToolbar();
        TDWWindowUtilities::centerFirstTime(shown);
    }
    shown->show();
    shown->raise();
    shown->activateWindow();
}

void DBPrefsWindowController::reconfigureToolbar()
{
    for (const QString &identifier : QStringList(m_toolbarIdentifiers)) {
        QWidget *view = m_toolbarViews.value(identifier);
        delete m_toolbarItems.value(identifier);
        m_contentSubview->removeWidget(view);
        delete view;
    }
    m_toolbarIdentifiers.clear();
    m_toolbarViews.clear();
    m_toolbarItems.clear();
    m_currentView = nullptr;
    setupToolbar();
    Q_ASSERT_X(!m_toolbarIdentifiers.isEmpty(), "reconfigureToolbar", "No items were added to the toolbar in -setupToolbar.");
    if (m_toolbarIdentifiers.isEmpty())
        return;
    QString chosen = TDWUserDefaults::standard()->stringForKey(LastToolbarIdentifierKey);
    if (!m_toolbarItems.contains(chosen))
        chosen = m_toolbarIdentifiers.first();
    m_toolbarItems.value(chosen)->setChecked(true);
    displayViewForIdentifier(chosen, false);
}

void DBPrefsWindowController::toggleActivePreferenceView(const QString &identifier)
{
    if (QAction *item = m_toolbarItems.value(identifier))
        item->setChecked(true);
    displayViewForIdentifier(identifier, true);
    TDWUserDefaults::standard()->setString(identifier, LastToolbarIdentifierKey);
}

QString DBPrefsWindowController::currentIdentifier() const
{
    return m_toolbarViews.key(m_currentView);
}

QWidget *DBPrefsWindowController::attachedSheet() const
{
    if (!m_window)
        return nullptr;
    for (QDialog *dialog : m_window->findChildren<QDialog *>())
        if (dialog->isVisible() && dialog->windowModality() != Qt::NonModal)
            return dialog;
    return nullptr;
}

void DBPrefsWindowController::displayViewForIdentifier(const QString &identifier, bool animate)
{
    QWidget *view = m_toolbarViews.value(identifier);
    if (!view)
        return;
    QWidget *oldView = m_contentSubview->currentWidget();
    m_currentView = view;
    if (m_toolbarItems.value(identifier) && !m_toolbarItems.value(identifier)->isChecked())
        m_toolbarItems.value(identifier)->setChecked(true);
    if (oldView == view && m_contentSubview->currentWidget() == view && !m_viewAnimation)
        return;
    if (m_viewAnimation)
        m_viewAnimation->stop();
    makeCurrentPage(view);
    if (animate && m_crossFade && oldView && oldView != view) {
        crossFadeView(oldView, view);
        return;
    }
    view->setGraphicsEffect(nullptr);
    m_window->resize(frameSizeForCurrentView());
}

void DBPrefsWindowController::makeCurrentPage(QWidget *view)
{
    for (int i = 0; i < m_contentSubview->count(); ++i)
        m_contentSubview->widget(i)->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    view->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    m_contentSubview->setCurrentWidget(view);
    view->setFocus();
}

void DBPrefsWindowController::crossFadeView(QWidget *, QWidget *newView)
{
    const bool slow = m_shiftSlowsAnimation && QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
    const int duration = slow ? SlowCrossFadeMs : CrossFadeMs;
    auto *group = new QParallelAnimationGroup(this);
    auto *opacity = new QGraphicsOpacityEffect(newView);
    newView->setGraphicsEffect(opacity);
    auto *fadeIn = new QPropertyAnimation(opacity, "opacity", group);
    fadeIn->setDuration(duration);
    fadeIn->setStartValue(0.0);
    fadeIn->setEndValue(1.0);
    fadeIn->setEasingCurve(QEasingCurve::InOutQuad);
    auto *resize = new QPropertyAnimation(m_window.get(), "size", group);
    resize->setDuration(duration);
    resize->setStartValue(m_window->size());
    resize->setEndValue(frameSizeForCurrentView());
    resize->setEasingCurve(QEasingCurve::InOutQuad);
    connect(group, &QAbstractAnimation::finished, this, [newView = QPointer<QWidget>(newView)] {
        if (newView) {
            newView->setGraphicsEffect(nullptr);
            if (QWidget *next = newView->nextInFocusChain())
                next->setFocus();
        }
    });
    m_viewAnimation = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

QSize DBPrefsWindowController::frameSizeForCurrentView() const
{
    // The toolbar above the pane (the other panes count for nothing); the
    // window's top edge stays where it is, as resizing keeps the position.
    // Pending changes of the panes' own layouts (controls shown or hidden) first.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    m_window->layout()->invalidate();
    return m_window->layout()->totalSizeHint().expandedTo(m_window->layout()->totalMinimumSize());
}

bool DBPrefsWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window.get() && event->type() == QEvent::Close && event->isAccepted())
        windowWillClose();
    return QObject::eventFilter(watched, event);
}

void DBPrefsWindowController::windowWillClose()
{
    // From the event loop: the window is inside its close event.
    deleteLater();
}
