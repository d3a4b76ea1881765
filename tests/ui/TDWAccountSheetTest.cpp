// The account sheet walked as a user walks it, offscreen, against the fake
// Google and Gmail servers: the account settings view's decisions on
// Continue, the sign-in in the (test's) browser, and what the sheet saves and
// posts at its end.
#include "AccountSheetFixture.h"

#include "FakeGoogleServer.h"
#include "TestBrowser.h"
#include "TestSupport.h"

#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWClock.h"
#include "ui/TDWAccountFlowController.h"
#include "ui/TDWAccountViewController.h"
#include "ui/TDWAuthViewController.h"
#include "ui/TDWLabelViewController.h"
#include "ui/TDWUIUtilities.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QUrlQuery>

#include <gtest/gtest.h>

using tdwtest::TestBrowser;

namespace {

// In the service table's order.
const QStringList AllButMail = {QStringLiteral("docs"), QStringLiteral("contacts"), QStringLiteral("calendar")};

class TDWAccountSheetTest : public AccountSheetFixture
{
protected:
    // A new account with these services, Continue pressed.
    void continueNewAccount(const QString &address, const QStringList &services)
    {
        makeFlow().populate();
        ASSERT_TRUE(showsAccountView());
        typeAddress(address);
        setServices(services);
        pressContinue();
    }

    static QString redirectUriOf(const QUrl &page)
    {
        return QUrlQuery(page).queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded);
    }
};

TEST(TDWUIUtilitiesTest, FixedUsername)
{
    const struct {
        const char *typed;
        const char *fixed;
    } cases[] = {
        {"", ""},
        {"  \n ", ""},
        {"Jane.Doe ", "jane.doe@gmail.com"},
        {" Jane@Example.COM\n", "jane@example.com"},
        {"jane@gmail.com", "jane@gmail.com"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TDWUIUtilities::fixedUsername(QString::fromUtf8(c.typed)), QString::fromUtf8(c.fixed)) << c.typed;
}

TEST_F(TDWAccountSheetTest, ANewAccountStartsEmptyWithEveryServiceOnAndContinueWaitsForAnAddress)
{
    makeFlow().populate();
    ASSERT_TRUE(showsAccountView());
    EXPECT_TRUE(control<QLineEdit>("usernameField")->text().isEmpty());
    for (const char *service : {"mail", "contacts", "calendar", "tasks", "docs"})
        EXPECT_TRUE(control<QCheckBox>(service)->isChecked()) << service;
    EXPECT_TRUE(control<QRadioButton>("allGoogleDocs")->isChecked());
    EXPECT_FALSE(control<QPushButton>("continue")->isEnabled());
    EXPECT_TRUE(control<QPushButton>("back")->isHidden()); // the delegate has nowhere to go back to
    EXPECT_FALSE(control<QPushButton>("requiredImapSettings")->isHidden());

    typeAddress(QStringLiteral("x"));
    EXPECT_TRUE(control<QPushButton>("continue")->isEnabled());
    // Blanks alone are no address: Continue does nothing and disables itself.
    typeAddress(QStringLiteral("   "));
    pressContinue();
    EXPECT_TRUE(control<QLineEdit>("usernameField")->text().isEmpty());
    EXPECT_FALSE(control<QPushButton>("continue")->isEnabled());
    EXPECT_TRUE(browser->opened.isEmpty());

    // Mail off hides the Gmail settings button; Drive off disables its choice.
    control<QCheckBox>("mail")->click();
    EXPECT_TRUE(control<QPushButton>("requiredImapSettings")->isHidden());
    control<QCheckBox>("mail")->click();
    EXPECT_FALSE(control<QPushButton>("requiredImapSettings")->isHidden());
    control<QCheckBox>("docs")->click();
    EXPECT_FALSE(control<QRadioButton>("limitGoogleDocs")->isEnabled());
    control<QCheckBox>("docs")->click();
    EXPECT_TRUE(control<QRadioButton>("limitGoogleDocs")->isEnabled());
}

TEST_F(TDWAccountSheetTest, ANewAccountWithEveryServiceOffIsSavedWithoutSignInOrNetwork)
{
    s_google->clearRequests();
    continueNewAccount(QStringLiteral(" Nothing.At.All "), {});
    EXPECT_EQ(delegate.done, 1);
    EXPECT_TRUE(browser->opened.isEmpty());
    EXPECT_FALSE(flow->authViewController());
    EXPECT_TRUE(s_google->requests().isEmpty());
    qint64 status = 0;
    EXPECT_EQ(storedServices(QStringLiteral("nothing.at.all@gmail.com"), &status), QStringList{});
    EXPECT_EQ(status, TDWAccount::NoServiceEnabledStatus);
    EXPECT_EQ(postedAccounts(), (QList<Posted>{{QStringLiteral("newAccount"), QStringLiteral("nothing.at.all@gmail.com")}}));
}

TEST_F(TDWAccountSheetTest, AnAddressAlreadyInTheListStaysOnTheView)
{
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        ASSERT_TRUE(TDWAccount::addAccountWithUsername(user(), {}, 1, {QStringLiteral("contacts")}, false, *moc));
    }
    continueNewAccount(user().toUpper(), AllButMail);
    EXPECT_EQ(statusText(), QStringLiteral("This account is already in the list."));
    EXPECT_FALSE(errorShown());
    EXPECT_TRUE(control<QPushButton>("continue")->isEnabled());
    EXPECT_TRUE(browser->opened.isEmpty());
    EXPECT_EQ(delegate.done, 0);
}

TEST_F(TDWAccountSheetTest, AFailedDuplicateCheckSaysSoAndStays)
{
    tdwtest::LogCapture log;
    TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
    continueNewAccount(user(), AllButMail);
    EXPECT_EQ(statusText(), QStringLiteral("Error adding account."));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to perform duplicate check: ")));
    EXPECT_TRUE(browser->opened.isEmpty());
}

// Each stored credential and each answer of Google's leads Continue one way:
// to the sign-in view, to a message on the view, or through its own access
// check to the end of the sheet.
TEST_F(TDWAccountSheetTest, ContinueDecidesByTheStoredCredential)
{
    enum Outcome { SignIn, Message, Saved };
    const struct Case {
        const char *name;
        std::function<void(const QString &user)> prepare;
        Outcome outcome;
        const char *message;
    } cases[] = {
        {"no credential", [](const QString &) {}, SignIn, nullptr},
        {"granted for contacts only",
         [this](const QString &u) { storeCredential(u, u + "-at", {QStringLiteral("contacts")}); }, SignIn, nullptr},
        {"refresh token marked invalid", [this](const QString &u) { storeCredential(u, u + "-at", AllButMail, false, true); }, SignIn,
         nullptr},
        {"expired, refresh refused", [this](const QString &u) { storeCredential(u, u + "-at", AllButMail, true, false, false); }, SignIn,
         nullptr},
        {"token of another account",
         [this](const QString &u) {
             storeCredential(u, u + "-at", AllButMail, false, false, false);
             s_google->addAccount(QJsonObject{{"email", "someone.else@example.com"}, {"access_token", u + "-at"}});
         },
         SignIn, nullptr},
        {"token refused by the e-mail check", [this](const QString &u) { storeCredential(u, u + "-at", AllButMail, false, false, false); },
         SignIn, nullptr},
        {"e-mail check failing otherwise",
         [this](const QString &u) {
             storeCredential(u, u + "-at", AllButMail);
             s_google->addFault(QJsonObject{{"path", "/userinfo/email"}, {"status", 503}});
         },
         Message, "Unexpected status code (503) when validating the account."},
        {"preflight failing",
         [this](const QString &u) {
             storeCredential(u, u + "-at", AllButMail);
             s_google->addFault(QJsonObject{{"path", "/m8/feeds/contacts/default/full"}, {"status", 503}});
         },
         Message, "Unable to retrieve the contact list: Unexpected status code (503)"},
        {"valid", [this](const QString &u) { storeCredential(u, u + "-at", AllButMail); }, Saved, nullptr},
        {"expired, refreshed", [this](const QString &u) { storeCredential(u, u + "-at", AllButMail, true); }, Saved, nullptr},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString u = QStringLiteral("case%1-").arg(++n) + user();
        delegate = RecordingFlowDelegate();
        browser->opened.clear();
        c.prepare(u);
        continueNewAccount(u, AllButMail);
        ASSERT_TRUE(tdwtest::waitUntil([&] { return showsAuthView() || delegate.done || errorShown(); }));
        switch (c.outcome) {
        case SignIn:
            EXPECT_TRUE(showsAuthView());
            EXPECT_EQ(redirectUriOf(openedPage()).left(17), QStringLiteral("http://127.0.0.1:"));
            EXPECT_EQ(flow->authViewController()->serviceIds(), AllButMail);
            break;
        case Message:
            EXPECT_TRUE(showsAccountView());
            EXPECT_TRUE(errorShown());
            EXPECT_EQ(statusText(), QString::fromUtf8(c.message));
            EXPECT_TRUE(control<QPushButton>("continue")->isEnabled());
            EXPECT_TRUE(control<QLineEdit>("usernameField")->isEnabled());
            EXPECT_EQ(delegate.done, 0);
            break;
        case Saved:
            EXPECT_EQ(delegate.done, 1);
            EXPECT_TRUE(browser->opened.isEmpty());
            EXPECT_EQ(storedServices(u), AllButMail);
            break;
        }
    }
}

TEST_F(TDWAccountSheetTest, AnExpiredTokenIsRefreshedSilentlyAndGoesStraightToThePreflight)
{
    storeCredential(user(), QStringLiteral("at-old"), AllButMail, true);
    s_google->clearRequests();
    continueNewAccount(user(), AllButMail);
    ASSERT_TRUE(tdwtest::waitUntil([this] { return delegate.done == 1; }));
    EXPECT_EQ(s_google->requestsTo(QStringLiteral("/o/oauth2/token")).size(), 1);
    EXPECT_TRUE(s_google->requestsTo(QStringLiteral("/userinfo/email")).isEmpty());
}

TEST_F(TDWAccountSheetTest, ConsentAllowedSignsInSavesTheAccountAndPostsNewAccount)
{
    continueNewAccount(user(), AllButMail);
    ASSERT_TRUE(showsAuthView());
    EXPECT_EQ(control<QLabel>("accountUsername")->text(), user());
    const QUrl page = openedPage();
    EXPECT_EQ(QUrlQuery(page).queryItemValue(QStringLiteral("login_hint"), QUrl::FullyDecoded), user());

    const QUrl redirect = TestBrowser::consent(page, QStringLiteral("allow"));
    EXPECT_EQ(TestBrowser::visit(redirect).response.statusCode(), 200);
    ASSERT_TRUE(tdwtest::waitUntil([this] { return delegate.done == 1; }));
    EXPECT_TRUE(hasStoredCredential(user()));
    EXPECT_EQ(storedServices(user()), AllButMail);
    EXPECT_EQ(postedAccounts(), (QList<Posted>{{QStringLiteral("newAccount"), user()}}));
    EXPECT_FALSE(flow->foldersWithFlags()); // mail was off

    // A second redirect finds no one listening and changes nothing.
    EXPECT_FALSE(TestBrowser::visit(redirect).error.isNull());
    QCoreApplication::processEvents();
    EXPECT_EQ(delegate.done, 1);
    EXPECT_EQ(s_google->requestsTo(QStringLiteral("/o/oauth2/token")).size(), 1);
}

TEST_F(TDWAccountSheetTest, ConsentAllowedWithGmailHandsTheFolderListToTheLabelStep)
{
    nextSignInGives(MailUser, MailToken);
    continueNewAccount(MailUser, {QStringLiteral("mail"), QStringLiteral("contacts")});
    ASSERT_TRUE(showsAuthView());
    answerConsent(QStringLiteral("allow"));
    ASSERT_TRUE(tdwtest::waitUntil([this] { return showsLabelView() || errorShown(); }));
    ASSERT_TRUE(showsLabelView()) << statusText().toStdString();
    ASSERT_TRUE(flow->foldersWithFlags());
    EXPECT_TRUE(flow->foldersWithFlags()->contains(QStringLiteral("INBOX")));
    EXPECT_TRUE(flow->foldersWithFlags()->contains(QStringLiteral("Work")));
    EXPECT_TRUE(flow->labelViewController()->userLabels().contains(QStringLiteral("Work")));
    pressContinue();
    EXPECT_EQ(delegate.done, 1);
    EXPECT_EQ(storedServices(MailUser), (QStringList{QStringLiteral("mail"), QStringLiteral("contacts")}));
}

// The address was free when Continue checked it but is taken when the
// signed-in account is saved: the sheet says so and leaves the user on the
// account view, where Cancel works, rather than on the finished sign-in view.
TEST_F(TDWAccountSheetTest, AnAccountThatCannotBeSavedAfterSignInLeavesTheUserOnTheAccountView)
{
    continueNewAccount(user(), AllButMail);
    ASSERT_TRUE(showsAuthView());
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        ASSERT_TRUE(TDWAccount::addAccountWithUsername(user(), {}, 1, {QStringLiteral("mail")}, false, *moc));
    }
    answerConsent(QStringLiteral("allow"));
    QMessageBox *sheet = nullptr;
    ASSERT_TRUE(tdwtest::waitUntil([&] { return (sheet = window->findChild<QMessageBox *>()) != nullptr; }));
    EXPECT_EQ(sheet->text(), QStringLiteral("Unable to save the account entry."));
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(showsAccountView());
    EXPECT_TRUE(control<QPushButton>("cancel")->isEnabled());
    EXPECT_EQ(delegate.done, 0);
    EXPECT_TRUE(postedAccounts().isEmpty());
    sheet->close();
    control<QPushButton>("cancel")->click();
    EXPECT_EQ(delegate.cancelled, 1);
}

TEST_F(TDWAccountSheetTest, TheSignInViewSaysWhenTheBrowserHasAnsweredAndAFailedExchangeComesBack)
{
    // The code exchange is held back a little, then refused.
    s_google->addFault(QJsonObject{{"path", "/o/oauth2/token"}, {"status", 503}, {"stall", 1.0}});
    makeFlow().populate();
    typeAddress(user());
    setServices(AllButMail);
    QTest::keyClick(control<QLineEdit>("usernameField"), Qt::Key_Return);
    ASSERT_TRUE(showsAuthView());
    EXPECT_EQ(control<QLabel>("statusText")->text(), QStringLiteral("Waiting for Google’s answer in your web browser…"));
    answerConsent(QStringLiteral("allow"));
    EXPECT_TRUE(tdwtest::waitUntil([this] { return control<QLabel>("statusText")->text() == QStringLiteral("Verifying access…"); }));
    ASSERT_TRUE(tdwtest::waitUntil([this] { return showsAccountView(); }));
    EXPECT_EQ(statusText(), QStringLiteral("Received an unexpected status code (503) when attempting to retrieve an authentication token."));
    EXPECT_TRUE(errorShown());
    EXPECT_FALSE(hasStoredCredential(user()));
}

TEST_F(TDWAccountSheetTest, ConsentDeniedReturnsToTheAccountViewWithTheMessage)
{
    continueNewAccount(user(), AllButMail);
    answerConsent(QStringLiteral("deny"));
    ASSERT_TRUE(tdwtest::waitUntil([this] { return showsAccountView(); }));
    EXPECT_EQ(statusText(), QStringLiteral("Access to the account was denied."));
    EXPECT_TRUE(errorShown());
    // The earlier entries are still there, and the user may try again.
    EXPECT_EQ(control<QLineEdit>("usernameField")->text(), user());
    EXPECT_FALSE(control<QCheckBox>("mail")->isChecked());
    EXPECT_TRUE(control<QPushButton>("continue")->isEnabled());
    EXPECT_FALSE(hasStoredCredential(user()));
    EXPECT_EQ(storedServices(user()), QStringList{QStringLiteral("(no account)")});
    EXPECT_EQ(delegate.done, 0);
    EXPECT_TRUE(postedAccounts().isEmpty());
}

TEST_F(TDWAccountSheetTest, ARedirectWithAnotherStateIsRefusedAndTheSignInGoesOn)
{
    continueNewAccount(user(), AllButMail);
    const QUrl redirect = TestBrowser::consent(openedPage(), QStringLiteral("allow"));
    QUrl forged = redirect;
    QUrlQuery query(forged);
    query.removeQueryItem(QStringLiteral("state"));
    query.addQueryItem(QStringLiteral("state"), QStringLiteral("x"));
    forged.setQuery(query);
    // Any local process can send the browser there: it gets an error page, and
    // the sheet still waits for the real answer.
    EXPECT_EQ(TestBrowser::visit(forged).response.statusCode(), 400);
    QCoreApplication::processEvents();
    EXPECT_TRUE(showsAuthView());
    EXPECT_TRUE(s_google->requestsTo(QStringLiteral("/o/oauth2/token")).isEmpty());

    EXPECT_EQ(TestBrowser::visit(redirect).response.statusCode(), 200);
    ASSERT_TRUE(tdwtest::waitUntil([this] { return delegate.done == 1; }));
    EXPECT_TRUE(hasStoredCredential(user()));
    EXPECT_EQ(s_google->requestsTo(QStringLiteral("/o/oauth2/token")).size(), 1);
}

TEST_F(TDWAccountSheetTest, NoAnswerFromTheBrowserInTimeReturnsToTheAccountView)
{
    // Every wait of the program shrinks: the ten minutes for the browser pass at once.
    const double scale = TDWClock::durationScale();
    TDWClock::setDurationScale(1e-6);
    continueNewAccount(user(), AllButMail);
    const QUrl page = openedPage();
    const bool returned = tdwtest::waitUntil([this] { return showsAccountView(); });
    TDWClock::setDurationScale(scale);
    ASSERT_TRUE(returned);
    EXPECT_EQ(statusText(), QStringLiteral("No authentication code or error was returned from Google."));
    EXPECT_TRUE(errorShown());
    // The listener is gone: a late answer reaches no one.
    EXPECT_FALSE(TestBrowser::visit(TestBrowser::consent(page, QStringLiteral("allow"))).error.isNull());
    EXPECT_TRUE(s_google->requestsTo(QStringLiteral("/o/oauth2/token")).isEmpty());
}

TEST_F(TDWAccountSheetTest, CancelAndBackOnTheSignInViewStopTheSignIn)
{
    for (const char *button : {"cancel", "back"}) {
        SCOPED_TRACE(button);
        delegate = RecordingFlowDelegate();
        continueNewAccount(user(), AllButMail);
        ASSERT_TRUE(showsAuthView());
        const QUrl page = openedPage();
        control<QPushButton>(button)->click();
        if (QLatin1String(button) == QLatin1String("cancel")) {
            EXPECT_EQ(delegate.cancelled, 1);
        } else {
            EXPECT_TRUE(showsAccountView());
            EXPECT_EQ(control<QLineEdit>("usernameField")->text(), user());
            EXPECT_TRUE(control<QPushButton>("continue")->isEnabled());
        }
        EXPECT_FALSE(TestBrowser::visit(TestBrowser::consent(page, QStringLiteral("allow"))).error.isNull());
        QCoreApplication::processEvents();
        EXPECT_EQ(delegate.done, 0);
        EXPECT_FALSE(hasStoredCredential(user()));
    }
}

// Back from a sign-in that never finished, then Continue with a credential
// that has become valid meanwhile: the label step gets the folder list of the
// check that has just passed, not the abandoned sign-in's (which has none).
TEST_F(TDWAccountSheetTest, AfterBackTheLabelStepGetsTheFolderListOfThePreflightThatPassed)
{
    continueNewAccount(MailUser, {QStringLiteral("mail")});
    ASSERT_TRUE(showsAuthView());
    openedPage();
    control<QPushButton>("back")->click();
    ASSERT_TRUE(showsAccountView());

    storeCredential(MailUser, MailToken, {QStringLiteral("mail")});
    pressContinue();
    ASSERT_TRUE(tdwtest::waitUntil([this] { return showsLabelView() || errorShown(); }));
    ASSERT_TRUE(showsLabelView()) << statusText().toStdString();
    ASSERT_TRUE(flow->foldersWithFlags());
    EXPECT_TRUE(flow->foldersWithFlags()->contains(QStringLiteral("INBOX")));
    EXPECT_TRUE(flow->foldersWithFlags()->contains(QStringLiteral("Work")));
}

TEST_F(TDWAccountSheetTest, ReLoginSignsTheStoredAccountInAgainAndPostsAccountUpdate)
{
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        ASSERT_TRUE(TDWAccount::addAccountWithUsername(user(), {}, 1, {QStringLiteral("contacts"), QStringLiteral("calendar")}, true, *moc));
    }
    makeFlow(user()).populateForAuth();
    ASSERT_TRUE(showsAuthView());
    EXPECT_FALSE(flow->accountViewController());
    QStringList services = flow->authViewController()->serviceIds();
    services.sort();
    EXPECT_EQ(services, (QStringList{QStringLiteral("calendar"), QStringLiteral("contacts")}));
    answerConsent(QStringLiteral("allow"));
    ASSERT_TRUE(tdwtest::waitUntil([this] { return delegate.done == 1; }));
    EXPECT_TRUE(hasStoredCredential(user()));
    EXPECT_EQ(postedAccounts(), (QList<Posted>{{QStringLiteral("accountUpdate"), user()}}));
    // The flow wrote nothing to the account.
    qint64 status = 0;
    EXPECT_EQ(storedServices(user(), &status), (QStringList{QStringLiteral("contacts"), QStringLiteral("calendar")}));
    EXPECT_EQ(status, 1);
}

TEST_F(TDWAccountSheetTest, ReLoginOfAnAccountNotInTheStoreDoesNothing)
{
    tdwtest::LogCapture log;
    makeFlow(user()).populateForAuth();
    EXPECT_FALSE(shownView());
    EXPECT_TRUE(browser->opened.isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to find account in TDWAccountFlowController populateForAuth.")));
}

TEST_F(TDWAccountSheetTest, EditingAStoredAccountShowsItsSettingsAndSavesTheChange)
{
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        ASSERT_TRUE(TDWAccount::addAccountWithUsername(user(), {}, 1, {QStringLiteral("mail"), QStringLiteral("docs")}, true, *moc));
    }
    delegate.canGoBack = true;
    makeFlow(user()).populate();
    ASSERT_TRUE(showsAccountView());
    EXPECT_TRUE(control<QLineEdit>("usernameField")->isHidden());
    EXPECT_EQ(control<QLabel>("usernameLabel")->text(), user());
    EXPECT_TRUE(control<QCheckBox>("mail")->isChecked());
    EXPECT_FALSE(control<QCheckBox>("contacts")->isChecked());
    EXPECT_TRUE(control<QRadioButton>("limitGoogleDocs")->isChecked());
    EXPECT_TRUE(control<QPushButton>("continue")->isEnabled());
    // Mail is on: its labels can be chosen, until the mail choice changes.
    EXPECT_FALSE(control<QPushButton>("labels")->isHidden());
    EXPECT_TRUE(control<QPushButton>("labels")->isEnabled());
    EXPECT_TRUE(control<QPushButton>("requiredImapSettings")->isHidden());
    control<QCheckBox>("mail")->click();
    EXPECT_FALSE(control<QPushButton>("labels")->isEnabled());
    EXPECT_FALSE(control<QPushButton>("back")->isHidden());
    control<QPushButton>("back")->click();
    EXPECT_EQ(delegate.back, 1);

    // Everything off: saved at once, no duplicate check refusing the stored address.
    setServices({});
    pressContinue();
    EXPECT_EQ(delegate.done, 1);
    qint64 status = 0;
    EXPECT_EQ(storedServices(user(), &status), QStringList{});
    EXPECT_EQ(status, TDWAccount::NoServiceEnabledStatus);
    EXPECT_EQ(postedAccounts(), (QList<Posted>{{QStringLiteral("accountUpdate"), user()}}));
}

// The label step's Continue saves the account as the account view shows it and ends the sheet.
TEST_F(TDWAccountSheetTest, TheGmailLabelsButtonOfAStoredAccountLeadsToTheLabelStep)
{
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        ASSERT_TRUE(TDWAccount::addAccountWithUsername(user(), {}, 1, {QStringLiteral("mail")}, false, *moc));
    }
    makeFlow(user()).populate();
    control<QCheckBox>("calendar")->click();
    control<QPushButton>("labels")->click();
    ASSERT_TRUE(showsLabelView());
    EXPECT_EQ(delegate.done, 0);
    pressContinue();
    EXPECT_EQ(delegate.done, 1);
    EXPECT_TRUE(browser->opened.isEmpty());
    EXPECT_EQ(storedServices(user()), (QStringList{QStringLiteral("mail"), QStringLiteral("calendar")}));
    EXPECT_EQ(postedAccounts(), (QList<Posted>{{QStringLiteral("accountUpdate"), user()}}));
}

} // namespace
