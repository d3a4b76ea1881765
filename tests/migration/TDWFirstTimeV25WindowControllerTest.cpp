// The post-upgrade notes window: what it tells about accounts whose sign-in
// was lost, and what Done records.

#include "migration/TDWFirstTimeV25WindowController.h"

#include "platform/foundation/TDWUserDefaults.h"

#include <QSignalSpy>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

const QStringList NoteKeys = {QStringLiteral("firsttimev2"), QStringLiteral("firsttimev25"), QStringLiteral("oauthMigrationResult")};

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
        {"one failed", {a, b}, {b}, {QStringLiteral("your “b@example.com” account"), QStringLiteral("sign in to that account"),
                                     QStringLiteral("an authentication token")}},
        {"the only account failed: one, not all", {a}, {a}, {QStringLiteral("your “a@example.com” account")}},
        {"all failed", {a, b}, {a, b}, {QStringLiteral("sign-in of your accounts"), QStringLiteral("sign in to your accounts"),
                                        QStringLiteral("authentication tokens")}},
        {"some failed", {a, b, c}, {a, c}, {QStringLiteral("some of your accounts (a@example.com, c@example.com)"),
                                            QStringLiteral("sign in to those accounts")}},
        {"no list of all accounts", {}, {a, c}, {QStringLiteral("some of your accounts (a@example.com, c@example.com)")}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        TDWFirstTimeV25WindowController window(k.all, k.failed);
        const QString text = window.notesText();
        EXPECT_EQ(text.contains(QStringLiteral("could not convert")), !k.failed.isEmpty()) << text.toStdString();
        for (const QString &words : k.says)
            EXPECT_TRUE(text.contains(words)) << text.toStdString();
    }
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
