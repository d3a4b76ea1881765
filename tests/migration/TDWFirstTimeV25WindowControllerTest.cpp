// The post-upgrade notes window: what it tells about accounts whose sign-in
// was lost, and what Done records.

#include "migration/TDWFirstTimeV25WindowController.h"

#include "platform/foundation/TDWUserDefaults.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "prefs/TDWAccountPrefController.h"
#include "prefs/TDWTidewellPrefsWindowController.h"
#include "ui/TDWAccountFlowController.h"

#include <QDir>
#include <QDomDocument>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

const QStringList NoteKeys = {QStringLiteral("firsttimev2"), QStringLiteral("firsttimev25"), QStringLiteral("oauthMigrationResult"),
                              QStringLiteral("calendarAccessLevel")};

class TDWFirstTimeV25WindowControllerTest : public ::testing::Test
{
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear()
    {
        for (const QString &key : NoteKeys)
            TDWUserDefaults::standard()->removeObjectForKey(key);
    }
};

// The paragraph's text once filled in; empty when the section was removed.
QString paragraph(const TDWFirstTimeV25WindowController &window)
{
    QDomDocument page;
    page.setContent(window.pageSource());
    const QDomNodeList paragraphs = page.elementsByTagName(QStringLiteral("p"));
    for (int i = 0; i < paragraphs.size(); ++i)
        if (paragraphs.at(i).toElement().attribute(QStringLiteral("id")) == QStringLiteral("authMigrationParagraph"))
            return paragraphs.at(i).toElement().text();
    return {};
}

TEST_F(TDWFirstTimeV25WindowControllerTest, TheNotesNameTheAccountsToSignInAgainByHowManyFailed)
{
    struct Case
    {
        const char *name;
        QStringList all;
        QStringList failed;
        QStringList says;
    };
    const QString a = QStringLiteral("a@example.com");
    const QString b = QStringLiteral("b@example.com");
    const QString c = QStringLiteral("c@example.com");
    const Case cases[] = {
        {"none failed", {a, b}, {}, {}},
        {"one failed", {a, b, c}, {b}, {QStringLiteral("sign-in of your “b@example.com” account."), QStringLiteral("sign in to that account again"),
                                        QStringLiteral("password combination,"), QStringLiteral("receives an authentication token.")}},
        {"the only account failed: one, not all", {a}, {a}, {QStringLiteral("your “a@example.com” account"), QStringLiteral("that account")}},
        {"all failed", {a, b}, {a, b}, {QStringLiteral("sign-in of your accounts."), QStringLiteral("sign in to your accounts again"),
                                        QStringLiteral("password combinations,"), QStringLiteral("receives authentication tokens.")}},
        {"some failed", {a, b, c}, {a, c}, {QStringLiteral("sign-in of some of your accounts."), QStringLiteral("sign in to those accounts again")}},
        {"no list of all accounts", {}, {a, c}, {QStringLiteral("some of your accounts")}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        TDWFirstTimeV25WindowController window(k.all, k.failed);
        const QString text = paragraph(window);
        EXPECT_EQ(text.isEmpty(), k.failed.isEmpty()) << text.toStdString();
        EXPECT_EQ(window.webView()->toPlainText().contains(QStringLiteral("Sign in again")), !k.failed.isEmpty());
        for (const QString &words : k.says)
            EXPECT_TRUE(text.contains(words)) << text.toStdString();
        if (!text.isEmpty()) {
            EXPECT_FALSE(text.contains(QLatin1Char('['))) << text.toStdString();
            EXPECT_TRUE(text.contains(QStringLiteral("the Google Accounts preferences and sign in with the appropriate Google name")));
        }
    }
}

TEST_F(TDWFirstTimeV25WindowControllerTest, MailSectionStaysUntilTheUserHasSeenIt)
{
    for (const bool seen : {false, true}) {
        TDWUserDefaults::standard()->setBool(seen, QStringLiteral("firsttimev2"));
        TDWFirstTimeV25WindowController window({}, {});
        EXPECT_EQ(window.pageSource().contains(QStringLiteral("id=\"enablemail\"")), !seen);
    }
}

TEST_F(TDWFirstTimeV25WindowControllerTest, CalendarLinksStoreTheLevelAndThePageFollowsTheSetting)
{
    TDWUserDefaults::standard()->setInteger(1, QStringLiteral("calendarAccessLevel"));
    TDWFirstTimeV25WindowController window({}, {});
    int posted = 0;
    const auto token = TDWNotificationCenter::defaultCenter().addObserver(QStringLiteral("not_changed_calendar_access_settings"),
                                                                          [&](const TDWNotification &) { ++posted; });
    const auto checked = [&] {
        QDomDocument page;
        page.setContent(window.pageSource());
        QStringList ids;
        const QDomNodeList inputs = page.elementsByTagName(QStringLiteral("input"));
        for (int i = 0; i < inputs.size(); ++i)
            if (inputs.at(i).toElement().hasAttribute(QStringLiteral("checked")))
                ids.append(inputs.at(i).toElement().attribute(QStringLiteral("id")));
        return ids;
    };
    EXPECT_EQ(checked(), QStringList{QStringLiteral("calRadio.1")});

    EXPECT_FALSE(window.decidePolicyForNavigation(QUrl(QStringLiteral("tw:calendars.2"))));
    EXPECT_EQ(TDWUserDefaults::standard()->integerForKey(QStringLiteral("calendarAccessLevel")), 2);
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(checked(), QStringList{QStringLiteral("calRadio.2")});
    EXPECT_TRUE(window.webView()->toPlainText().contains(QStringLiteral("◉ Your calendars and those shared with you")));
    // A change made elsewhere (the preferences) shows too.
    TDWUserDefaults::standard()->setInteger(3, QStringLiteral("calendarAccessLevel"));
    TDWNotificationCenter::defaultCenter().post(QStringLiteral("not_changed_calendar_access_settings"));
    EXPECT_EQ(checked(), QStringList{QStringLiteral("calRadio.3")});
    TDWNotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(TDWFirstTimeV25WindowControllerTest, SignInLinkOpensTheSheetOfTheOneAccountOrThePane)
{
    TDWTidewellPrefsWindowController *prefs = TDWTidewellPrefsWindowController::sharedPrefsWindowController();
    {
        TDWFirstTimeV25WindowController window({QStringLiteral("a@example.com"), QStringLiteral("b@example.com")}, {QStringLiteral("b@example.com")});
        window.decidePolicyForNavigation(QUrl(QStringLiteral("tw:loginnow")));
        EXPECT_TRUE(prefs->window()->isVisible());
        ASSERT_TRUE(QTest::qWaitFor([&] { return prefs->accountPrefsViewController()->accountFlowController() != nullptr; }));
        EXPECT_EQ(prefs->accountPrefsViewController()->accountFlowController()->accountUsername(), QStringLiteral("b@example.com"));
        prefs->accountPrefsViewController()->cancelAccountFlow();
    }
    prefs->window()->hide();
    TDWFirstTimeV25WindowController window({QStringLiteral("a@example.com"), QStringLiteral("b@example.com")},
                                           {QStringLiteral("a@example.com"), QStringLiteral("b@example.com")});
    window.decidePolicyForNavigation(QUrl(QStringLiteral("tw:loginnow")));
    EXPECT_TRUE(prefs->window()->isVisible());
    EXPECT_EQ(prefs->currentIdentifier(), QStringLiteral("accounts"));
    prefs->window()->hide();
}

TEST_F(TDWFirstTimeV25WindowControllerTest, Picture)
{
    TDWUserDefaults::standard()->setInteger(2, QStringLiteral("calendarAccessLevel"));
    TDWFirstTimeV25WindowController window({QStringLiteral("a@example.com"), QStringLiteral("b@example.com")}, {QStringLiteral("b@example.com")});
    window.showWindow();
    const QString path = qEnvironmentVariable("TDW_PICTURE_DIR");
    if (!path.isEmpty())
        EXPECT_TRUE(window.window()->grab().save(QDir(path).filePath(QStringLiteral("notes.png"))));
    EXPECT_FALSE(window.window()->grab().isNull());
}

TEST_F(TDWFirstTimeV25WindowControllerTest, DoneMarksTheNotesReadForgetsTheResultAndCloses)
{
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    defaults->setObject(QVariantMap{{QStringLiteral("allUsernames"), QStringList{QStringLiteral("a@example.com")}}},
                        QStringLiteral("oauthMigrationResult"));
    TDWFirstTimeV25WindowController window({QStringLiteral("a@example.com")}, {});
    QSignalSpy finished(&window, &TDWFirstTimeV25WindowController::finished);
    window.showWindow();
    ASSERT_TRUE(window.window()->isVisible());

    window.done();

    EXPECT_TRUE(defaults->boolForKey(QStringLiteral("firsttimev2")));
    EXPECT_TRUE(defaults->boolForKey(QStringLiteral("firsttimev25")));
    EXPECT_FALSE(defaults->objectForKey(QStringLiteral("oauthMigrationResult")).isValid());
    EXPECT_FALSE(window.window()->isVisible());
    EXPECT_EQ(finished.count(), 1);
}

} // namespace
