#pragma once

#include <QAbstractAnimation>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

class QAction;
class QActionGroup;
class QIcon;
class QStackedWidget;
class QToolBar;

// A preferences window: one pane per toolbar item, the toolbar's items
// exclusive, the panes in a stack under it; the window takes each pane's size
// (its top edge staying where it is) and remembers the pane last chosen from
// the toolbar under "lasttoolbaridentifier". A subclass adds its panes in
// setupToolbar(), which runs again at every opening of the window, so the
// panes read their settings afresh. The window is released when it closes.
// Main thread only.
class DBPrefsWindowController : public QObject
{
    Q_OBJECT

public:
    static inline const QString LastToolbarIdentifierKey = QStringLiteral("lasttoolbaridentifier");
    static inline const QString FrameAutosaveName = QStringLiteral("tidewellprefs");

    explicit DBPrefsWindowController(QObject *parent = nullptr);
    ~DBPrefsWindowController() override;

    // The window, built on first use.
    QWidget *window();

    // Adds a pane (its view is taken over) at the end, or at `index`.
    void addView(QWidget *view, const QString &identifier, const QString &label, const QIcon &image, int index = -1);
    void removeViewWithIdentifier(const QString &identifier);

    // Brings a visible window forward; otherwise rebuilds the panes and shows
    // the remembered one (or the first).
    void showWindow();
    // Shows the pane; an unknown identifier changes nothing. Not remembered.
    void displayViewForIdentifier(const QString &identifier, bool animate);
    // The toolbar's choice: shows the pane (animated) and remembers it.
    void toggleActivePreferenceView(const QString &identifier);

    QStringList toolbarIdentifiers() const { return m_toolbarIdentifiers; }
    QAction *toolbarItem(const QString &identifier) const { return m_toolbarItems.value(identifier); }
    QWidget *toolbarView(const QString &identifier) const { return m_toolbarViews.value(identifier); }
    QToolBar *toolbar() const { return m_toolbar; }
    // The pane last asked for, and its identifier.
    QWidget *currentView() const { return m_currentView; }
    QString currentIdentifier() const;
    // A window-modal dialog open on the window (a sheet), or null.
    QWidget *attachedSheet() const;

    void setCrossFade(bool crossFade) { m_crossFade = crossFade; }
    void setShiftSlowsAnimation(bool slows) { m_shiftSlowsAnimation = slows; }
    // The running cross-fade, or null.
    QAbstractAnimation *viewAnimation() const { return m_viewAnimation; }

protected:
    // Adds the panes; the frame's own adds none.
    virtual void setupToolbar() {}
    // The window closed: the controller goes away from the event loop.
    virtual void windowWillClose();
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void windowDidLoad();
    void reconfigureToolbar();
    void crossFadeView(QWidget *oldView, QWidget *newView);
    // The window's size for the pane shown.
    QSize frameSizeForCurrentView() const;
    void makeCurrentPage(QWidget *view);

    std::unique_ptr<QWidget> m_window;
    QToolBar *m_toolbar = nullptr;
    QActionGroup *m_toolbarGroup = nullptr;
    QStackedWidget *m_contentSubview = nullptr;
    QStringList m_toolbarIdentifiers;
    QHash<QString, QWidget *> m_toolbarViews;
    QHash<QString, QAction *> m_toolbarItems;
    QPointer<QWidget> m_currentView;
    QPointer<QAbstractAnimation> m_viewAnimation;
    bool m_crossFade = true;
    bool m_shiftSlowsAnimation = true;
};
