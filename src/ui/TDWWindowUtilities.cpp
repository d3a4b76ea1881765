#include "ui/TDWWindowUtilities.h"

#include "common/TDWSettingsKeys.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QEventLoop>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>
#include <QWidget>

namespace {
constexpr std::chrono::milliseconds FadeDuration(500);
} // namespace

void TDWWindowUtilities::centerFirstTime(QWidget *window)
{
    const QString key = TDWSettingsKeys::FirstTimeWindowPrefix + window->objectName();
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    if (defaults->boolForKey(key))
        return;
    QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    defaults->setBool(true, key);
}

void TDWWindowUtilities::setHiddenWithFade(QWidget *view, bool hidden, bool fade)
{
    if (!fade) {
        view->setHidden(hidden);
        return;
    }
    if (!hidden)
        view->setHidden(false);
    auto *effect = new QGraphicsOpacityEffect(view);
    view->setGraphicsEffect(effect);
    QPropertyAnimation animation(effect, "opacity");
    animation.setDuration(int(TDWClock::duration(FadeDuration).count()));
    animation.setStartValue(hidden ? 1.0 : 0.0);
    animation.setEndValue(hidden ? 0.0 : 1.0);
    QEventLoop loop;
    QObject::connect(&animation, &QPropertyAnimation::finished, &loop, &QEventLoop::quit);
    animation.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    // The effect goes with the animation, so a visible view draws as before.
    view->setGraphicsEffect(nullptr);
    if (hidden)
        view->setHidden(true);
}
