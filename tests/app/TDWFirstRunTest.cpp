// The first run through the application's own start-up: the settings page,
// the first account's sheet with its sign-in in the (test's) browser against
// the fake Google server, and what the run leaves behind; and Cancel on every
// page, which ends the application from the main thread without a trace.
#include "AppTestSupport.h"

#include "FakeGoogleServer.h"
#include "TestBrowser.h"
#include "TestSupport.h"

#include "accounts/TDWGoogleEndpoints.h"
#include "accounts/TDWKeychainMgr.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "loginitem/TDWLoginItemMgr.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "ui/TDWAccountFlowController.h"
#include "ui/TDWAccountViewController.h"
#include "ui/TDWAuthViewController.h"
#include "ui/TDWContentView.h"
#include "ui/TDWFirstTimeUserController.h"
#include "ui/TDWInitConfigViewController.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>

using namespace apptest;

namespace {

TDWUserDefaults *defaults()
{
    return TDWUserDefaults::standard();
}

const QString FirstAccount = QStringLiteral("first.user@example.com");

class TDWFirstRunTest : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        QFile::remove(TDWLoginItemMgr::launcherEntryPath());
        // An earlier test's sign-in stays cached in the keychain manager for the whole process.
        TDWKeychainMgr::keychainMgr()->deleteCredentialForUsername(FirstAccount);
        m_observer = TDWNotificationCenter::defaultCenter().addObserver({}, [this](const TDWNotification &n) {
            if (n.name() == QLatin1String("newAccount") || n.name() == QLatin1String("firsttimedone"))
                posted << n.name() + QLatin1Char(' ') + QString::fromLatin1(n.object() ? n.object()->metaObject()->className() : "-") + QLatin1Char(' ')
                              + n.userInfo().value(QStringLiteral("accountUsername")).toString();
        });
    }
    void TearDown() override
    {
        TDWNotificationCenter::defaultCenter().removeObserver(m_observer);
        AppFixture::TearDown();
    }

    TDWFirstTimeUserController *firstRun() const { return controller->firstTimeUserController(); }

    // A button of the page the first-run window shows now.
    QPushButton *button(const char *name) const
    {
        QWidget *page = TDWContentView::current(firstRun()->window());
        QPushButton *found = page ? page->findChild<QPushButton *>(QString::fromLatin1(name)) : nullptr;
        EXPECT_TRUE(found) << name;
        return found;
    }

    // The settings page's Continue, then the account view filled in.
    void fillInFirstAccount(const QStringList &services)
    {
        button("continue")->click();
        ASSERT_TRUE(firstRun()->accountFlowController());
        QWidget *accountView = firstRun()->accountFlowController()->accountViewController()->view();
        ASSERT_EQ(TDWContentView::current(firstRun()->window()), accountView);
        accountView->findChild<QLineEdit *>(QStringLiteral("usernameField"))->setText(FirstAccount);
        for (QCheckBox *service : accountView->findChildren<QCheckBox *>())
            service->setChecked(services.contains(service->objectName()));
    }

    QStringList posted;

private:
    TDWNotificationCenter::Token m_observer;
};

TEST_F(TDWFirstRunTest, AFullFirstRunSignsTheFirstAccountInAndLeavesTheSettingsBehind)
{
    tdwtest::FakeGoogleServer google;
    ASSERT_TRUE(google.start(
        QJsonObject{{QStringLiteral("clients"), QJsonObject{{TDWGoogleEndpoints::clientId(), TDWGoogleEndpoints::clientSecret()}}}}));
    tdwtest::RecordingUrlHandler browser;
    makeController();
    launch();
    ASSERT_TRUE(firstRun());
    ASSERT_TRUE(firstRun()->window()->isVisible());

    // Back on the account view returns to the settings page, which keeps what was chosen.
    firstRun()->initConfigViewController()->view()->findChild<QLineEdit *>(QStringLiteral("emailAddress"))->setText(QStringLiteral("news@example.com"));
    fillInFirstAccount({QStringLiteral("contacts"), QStringLiteral("calendar")});
    button("back")->click();
    ASSERT_EQ(TDWContentView::current(firstRun()->window()), firstRun()->initConfigViewController()->view());
    EXPECT_EQ(firstRun()->initConfigViewController()->emailAddress(), QStringLiteral("news@example.com"));
    fillInFirstAccount({QStringLiteral("contacts"), QStringLiteral("calendar")});
    button("continue")->click();

    // The sign-in page opens in the browser; the user allows access there.
    ASSERT_TRUE(waitFor([&] { return !browser.opened.isEmpty(); }));
    ASSERT_TRUE(firstRun()->accountFlowController()->authViewController());
    EXPECT_EQ(tdwtest::TestBrowser::answerConsent(browser.opened.first(), QStringLiteral("allow")).response.statusCode(), 200);
    ASSERT_TRUE(waitFor([this] { return startupFinished; }));

    for (const char *flag : {"firsttime", "firsttimev2", "firsttimev25", "doneoauth", "tw216fix"})
        EXPECT_TRUE(defaults()->boolForKey(QString::fromLatin1(flag))) << flag;
    EXPECT_EQ(defaults()->stringForKey(QStringLiteral("BKEmailAddress")), QStringLiteral("news@example.com"));
    EXPECT_TRUE(QFileInfo(TDWLoginItemMgr::launcherEntryPath()).isFile()); // start at login was left on
    EXPECT_TRUE(QFileInfo(TDWFileMgr::defaultBackupLocation()).isDir());
    EXPECT_EQ(posted, (QStringList{QStringLiteral("newAccount TDWAccountFlowController ") + FirstAccount,
                                   QStringLiteral("newAccount TDWFirstTimeUserController ") + FirstAccount,
                                   QStringLiteral("firsttimedone TDWFirstTimeUserController ")}));
    EXPECT_EQ(controller->windows()->currentAccountUsername(), FirstAccount);
    ASSERT_TRUE(controller->windows()->mainWindowController());
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const TDWAccount::Ptr account = TDWAccount::byUsername(FirstAccount, *moc, nullptr);
        ASSERT_TRUE(account);
        EXPECT_TRUE(account->enabledForService(QStringLiteral("contacts")));
        EXPECT_FALSE(account->enabledForService(QStringLiteral("mail")));
    }
    EXPECT_TRUE(waitFor([this] { return !firstRun(); }));
}

// Cancel on any page closes the window and ends the application, asked on
// the main thread, with nothing written: the next launch is a first run again.
// Escape, pressed in a control of the page, is Cancel.
enum class CancelBy { Button, EscapeKey };

class TDWFirstRunCancelTest : public TDWFirstRunTest, public ::testing::WithParamInterface<std::tuple<int, CancelBy>>
{
};

TEST_P(TDWFirstRunCancelTest, EndsTheApplicationFromTheMainThreadWithoutATrace)
{
    tdwtest::RecordingUrlHandler browser; // the sign-in page goes nowhere
    makeController();
    QList<QThread *> stoppedOn;
    QObject::connect(controller.get(), &TDWAppController::stopped, [&] { stoppedOn << QThread::currentThread(); });
    launch();
    ASSERT_TRUE(firstRun());
    const auto [pageNumber, cancelBy] = GetParam();
    if (pageNumber >= 1)
        fillInFirstAccount({QStringLiteral("contacts")});
    if (pageNumber >= 2) {
        button("continue")->click();
        ASSERT_TRUE(firstRun()->accountFlowController()->authViewController());
        ASSERT_TRUE(waitFor([&] { return !browser.opened.isEmpty(); }));
    }
    QWidget *window = firstRun()->window();

    if (cancelBy == CancelBy::Button) {
        button("cancel")->click();
    } else {
        QWidget *page = TDWContentView::current(window);
        QWidget *control = page->findChild<QLineEdit *>();
        QTest::keyClick(control ? control : page, Qt::Key_Escape);
    }
    ASSERT_TRUE(waitFor([&] { return !stops.isEmpty(); }));
    EXPECT_EQ(stops, QList<int>{EXIT_SUCCESS});
    EXPECT_EQ(stoppedOn, QList<QThread *>{QCoreApplication::instance()->thread()});
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(prompted->asked.isEmpty());
    EXPECT_FALSE(defaults()->boolForKey(QStringLiteral("firsttime")));
    EXPECT_FALSE(QFileInfo::exists(TDWLoginItemMgr::launcherEntryPath()));
    EXPECT_TRUE(posted.isEmpty());
}

// The settings page, the account view, the sign-in view.
std::string cancelCaseName(const ::testing::TestParamInfo<std::tuple<int, CancelBy>> &info)
{
    const char *pages[] = {"SettingsPage", "AccountView", "SignInView"};
    return std::string(pages[std::get<0>(info.param)]) + (std::get<1>(info.param) == CancelBy::Button ? "ByButton" : "ByEscape");
}

INSTANTIATE_TEST_SUITE_P(OnEachPage, TDWFirstRunCancelTest,
                         ::testing::Combine(::testing::Values(0, 1, 2), ::testing::Values(CancelBy::Button, CancelBy::EscapeKey)),
                         cancelCaseName);

TEST_F(TDWFirstRunTest, AnEndRequestedFromAnotherThreadIsCarriedOutOnTheMainThread)
{
    makeController();
    launch();
    QList<QThread *> stoppedOn;
    QObject::connect(controller.get(), &TDWAppController::stopped, [&] { stoppedOn << QThread::currentThread(); });
    std::unique_ptr<QThread> worker(QThread::create([this] { controller->quitFlow()->terminate(); }));
    worker->start();
    worker->wait();
    ASSERT_TRUE(waitFor([&] { return !stops.isEmpty(); }));
    EXPECT_EQ(stoppedOn, QList<QThread *>{QCoreApplication::instance()->thread()});
}

} // namespace
