// The small shared pieces: first-time centring, fading, the link button and
// the enabled-flag colour.
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "ui/TDWDisabledColorTransformer.h"
#include "ui/TDWHyperlinkButton.h"
#include "ui/TDWWindowUtilities.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

void forget(const QString &name)
{
    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("firsttimewindow_") + name);
}

bool centred(const QWidget &window)
{
    return window.frameGeometry().center() == QGuiApplication::primaryScreen()->availableGeometry().center();
}

TEST(TDWWindowUtilitiesTest, CentresAWindowOnlyTheFirstTimeEver)
{
    forget(QStringLiteral("TestWindow"));
    QWidget first;
    first.setObjectName(QStringLiteral("TestWindow"));
    first.resize(200, 100);
    TDWWindowUtilities::centerFirstTime(&first);
    EXPECT_TRUE(centred(first));
    EXPECT_TRUE(TDWUserDefaults::standard()->boolForKey(QStringLiteral("firsttimewindow_TestWindow")));

    // The same window in a later run keeps the place it was given.
    QWidget later;
    later.setObjectName(QStringLiteral("TestWindow"));
    later.setGeometry(10, 20, 200, 100);
    TDWWindowUtilities::centerFirstTime(&later);
    EXPECT_EQ(later.pos(), QPoint(10, 20));
    forget(QStringLiteral("TestWindow"));
}

TEST(TDWWindowUtilitiesTest, WindowsWithoutANameShareOneFlag)
{
    forget(QString());
    QWidget a, b;
    a.resize(100, 100);
    b.setGeometry(5, 5, 100, 100);
    TDWWindowUtilities::centerFirstTime(&a);
    TDWWindowUtilities::centerFirstTime(&b);
    EXPECT_TRUE(centred(a));
    EXPECT_EQ(b.pos(), QPoint(5, 5));
    forget(QString());
}

TEST(TDWWindowUtilitiesTest, FadingEndsHiddenOrShown)
{
    TDWClock::setDurationScale(0.02);
    QWidget window;
    auto *view = new QWidget(&window);
    window.show();
    TDWWindowUtilities::setHiddenWithFade(view, true, true);
    EXPECT_TRUE(view->isHidden());
    EXPECT_EQ(view->graphicsEffect(), nullptr);
    TDWWindowUtilities::setHiddenWithFade(view, false, true);
    EXPECT_FALSE(view->isHidden());
    EXPECT_EQ(view->graphicsEffect(), nullptr);
    TDWWindowUtilities::setHiddenWithFade(view, true, false);
    EXPECT_TRUE(view->isHidden());
    TDWClock::setDurationScale(1.0);
}

TEST(TDWWindowUtilitiesTest, EnabledFlagColours)
{
    EXPECT_EQ(TDWDisabledColorTransformer::transformedValue(1), QColor(Qt::black));
    for (const QVariant &other : {QVariant(0), QVariant(2), QVariant()})
        EXPECT_EQ(TDWDisabledColorTransformer::transformedValue(other), QColor(Qt::gray));
    EXPECT_FALSE(TDWDisabledColorTransformer::allowsReverseTransformation());
}

TEST(TDWWindowUtilitiesTest, LinkButtonLooksLikeALink)
{
    TDWHyperlinkButton button(QStringLiteral("Web site"), QStringLiteral("https://www.tidewell.org/"));
    EXPECT_EQ(button.url(), QStringLiteral("https://www.tidewell.org/"));
    EXPECT_TRUE(button.font().underline());
    EXPECT_EQ(button.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(button.palette().color(QPalette::ButtonText), QColor::fromRgbF(0.1f, 0.1f, 1.0f, 1.0f));
}

} // namespace
