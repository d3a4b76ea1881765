// The quit questions as the user sees them: real alerts, answered by keys and clicks.

#include "app/TDWAppAlerts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs `answer` on the alert once it is up, from the alert's own event loop.
void whenAlertShows(std::function<void(QMessageBox &)> answer)
{
    QTimer::singleShot(0, [answer] {
        (void)QTest::qWaitFor([] { return qobject_cast<QMessageBox *>(QApplication::activeModalWidget()) != nullptr; }, 30000);
        auto *alert = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_TRUE(alert);
        answer(*alert);
    });
}

QStringList buttonTexts(const QMessageBox &alert)
{
    QStringList texts;
    for (QAbstractButton *button : alert.buttons())
        texts.append(button->text());
    texts.sort();
    return texts;
}

QAbstractButton *button(const QMessageBox &alert, const QString &text)
{
    for (QAbstractButton *candidate : alert.buttons())
        if (candidate->text() == text)
            return candidate;
    return nullptr;
}

TEST(TDWAppAlerts, TheQuitQuestionOffersStartAtLoginOnlyWhenAskedAndEscapeNeverQuits)
{
    for (const bool offer : {false, true}) {
        QStringList seen;
        whenAlertShows([&](QMessageBox &alert) {
            seen = buttonTexts(alert);
            EXPECT_EQ(alert.text(), QStringLiteral("Quit Tidewell?"));
            EXPECT_EQ(alert.informativeText(), QStringLiteral("Tidewell only backs up your data when it is running."));
            ASSERT_TRUE(alert.checkBox());
            alert.checkBox()->setChecked(true);
            QTest::keyClick(&alert, Qt::Key_Escape);
        });
        const TDWAppPrompts::QuitAnswer answer = TDWAppAlerts().askToQuit(offer);

        QStringList expected{QStringLiteral("Don't Quit"), QStringLiteral("Quit")};
        if (offer)
            expected.append(QStringLiteral("Quit, but Start Tidewell at Login"));
        expected.sort();
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(answer.choice, TDWAppPrompts::QuitChoice::DontQuit);
        EXPECT_FALSE(answer.suppress);
    }
}

TEST(TDWAppAlerts, QuitWithTheBoxTickedAsksNeverAgain)
{
    whenAlertShows([](QMessageBox &alert) {
        alert.checkBox()->setChecked(true);
        button(alert, QStringLiteral("Quit"))->click();
    });
    const TDWAppPrompts::QuitAnswer answer = TDWAppAlerts().askToQuit(true);

    EXPECT_EQ(answer.choice, TDWAppPrompts::QuitChoice::Quit);
    EXPECT_TRUE(answer.suppress);
}

TEST(TDWAppAlerts, TheStartAtLoginQuestion)
{
    whenAlertShows([](QMessageBox &alert) {
        EXPECT_EQ(alert.text(), QStringLiteral("Start Tidewell at Login?"));
        button(alert, QStringLiteral("Start Tidewell at Login"))->click();
    });
    EXPECT_EQ(TDWAppAlerts().askToStartAtLogin().choice, TDWAppPrompts::StartAtLoginChoice::StartAtLogin);

    // Escape is "No thanks", and keeps the box's answer.
    whenAlertShows([](QMessageBox &alert) {
        alert.checkBox()->setChecked(true);
        QTest::keyClick(&alert, Qt::Key_Escape);
    });
    const TDWAppPrompts::StartAtLoginAnswer answer = TDWAppAlerts().askToStartAtLogin();
    EXPECT_EQ(answer.choice, TDWAppPrompts::StartAtLoginChoice::NoThanks);
    EXPECT_TRUE(answer.suppress);
}

} // namespace
