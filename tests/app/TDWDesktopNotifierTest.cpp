// The "Login required" notice, from the application's start-up wiring to the
// desktop's notification service and back. Runs in a private session bus
// where this program itself plays the notification service.

#include "AppTestSupport.h"

#include "accounts/TDWAccessTokenDelegate.h"
#include "accounts/TDWAccessTokenRetriever.h"
#include "accounts/TDWGoogleEndpoints.h"
#include "accounts/TDWKeychainMgr.h"
#include "accounts/TDWLoginNotifier.h"
#include "app/TDWDesktopNotifier.h"
#include "prefs/TDWAccountPrefController.h"
#include "prefs/TDWTidewellPrefsWindowController.h"
#include "ui/TDWAccountFlowController.h"
#include "FakeGoogleServer.h"
#include "TestSupport.h"
#include "platform/keychain/TDWKeyring.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QTabWidget>

using namespace apptest;

namespace {

struct Shown
{
    uint id;
    QString summary;
    QString body;
    QStringList actions;
};

// The desktop's notification service, as much of it as the program uses.
class FakeNotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit FakeNotificationService(QDBusConnection bus)
        : m_bus(std::move(bus))
    {
    }

    QList<Shown> shown;

    void click(uint id, const QString &action)
    {
        QDBusMessage signal = QDBusMessage::createSignal(TDWDesktopNotifier::ObjectPath, QStringLiteral("org.freedesktop.Notifications"),
                                                         QStringLiteral("ActionInvoked"));
        signal << id << action;
        m_bus.send(signal);
    }

public slots:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body, const QStringList &actions,
                const QVariantMap &, int)
    {
        shown.append({m_nextId, summary, body, actions});
        return m_nextId++;
    }

private:
    QDBusConnection m_bus;
    uint m_nextId = 7;
};

class TDWDesktopNotifierTest : public AppFixture
{
protected:
    // Registers the fake service on a connection of its own.
    FakeNotificationService &startService()
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-notifications"));
        EXPECT_TRUE(bus.isConnected());
        service = std::make_unique<FakeNotificationService>(bus);
        EXPECT_TRUE(bus.registerObject(TDWDesktopNotifier::ObjectPath, service.get(), QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(bus.registerService(TDWDesktopNotifier::ServiceName));
        return *service;
    }

    static TDWLoginNotifier::Notice loginRequired(const QString &username)
    {
        // As the access-token refresh sends it.
        return {QStringLiteral("Login required"), QStringLiteral("Please log in to: %1").arg(username), QStringLiteral("Log in…"),
                {{QStringLiteral("notificationType"), QStringLiteral("loginrequired")}, {QStringLiteral("accountUsername"), username}}};
    }

    std::unique_ptr<FakeNotificationService> service;
};

TEST_F(TDWDesktopNotifierTest, ClickingLoginRequiredOpensTheAccountsSignIn)
{
    FakeNotificationService &fake = startService();
    prepareReturningUser({QStringLiteral("needs@example.com")});
    makeController();
    launch();
    ASSERT_TRUE(startupFinished);
    // Start-up installed the desktop notifier for the access-token refresh.
    ASSERT_EQ(TDWLoginNotifier::shared(), controller->notifier());

    TDWLoginNotifier::shared()->deliver(loginRequired(QStringLiteral("needs@example.com")));
    ASSERT_TRUE(waitFor([&] { return !fake.shown.isEmpty(); }));
    EXPECT_EQ(fake.shown.first().summary, QStringLiteral("Login required"));
    EXPECT_EQ(fake.shown.first().body, QStringLiteral("Please log in to: needs@example.com"));
    EXPECT_TRUE(fake.shown.first().actions.contains(QStringLiteral("Log in…")));

    // Another program's notification with the same action is not ours.
    fake.click(fake.shown.first().id + 100, QStringLiteral("default"));
    fake.click(fake.shown.first().id, QStringLiteral("default"));

    TDWTidewellPrefsWindowController *prefs = TDWTidewellPrefsWindowController::sharedPrefsWindowController();
    ASSERT_TRUE(waitFor([&] { return prefs->window()->isVisible(); }));
    EXPECT_EQ(prefs->currentIdentifier(), QStringLiteral("accounts"));
    // The sign-in sheet of that account, on the Google Accounts pane.
    ASSERT_TRUE(waitFor([&] { return prefs->accountPrefsViewController()->accountFlowController() != nullptr; }));
    EXPECT_EQ(prefs->accountPrefsViewController()->accountFlowController()->accountUsername(), QStringLiteral("needs@example.com"));
    EXPECT_EQ(prefs->attachedSheet(), prefs->accountPrefsViewController()->accountSheet());
    prefs->window()->close();
}

class OutcomeDelegate : public TDWAccessTokenDelegate
{
public:
    void accessTokenRetrieverReceivedAccessToken(TDWAccessTokenRetriever *, const QString &) override { done = true; }
    void accessTokenRetrieverEncounteredError(TDWAccessTokenRetriever *, const TDWError &) override { done = true; }
    bool done = false;
};

// From end to end: after start-up, Google refusing an account's grant puts the
// "Login required" notice on the desktop.
TEST_F(TDWDesktopNotifierTest, ARefusedGrantAfterStartUpReachesTheDesktop)
{
    FakeNotificationService &fake = startService();
    tdwtest::FakeGoogleServer google;
    ASSERT_TRUE(google.start(QJsonObject{
        {QStringLiteral("clients"), QJsonObject{{TDWGoogleEndpoints::clientId(), TDWGoogleEndpoints::clientSecret()}}}}));
    const QString username = QStringLiteral("refused@example.com");
    prepareReturningUser({username});
    ASSERT_TRUE(TDWKeyring::backend()->store(TDWKeychainMgr::oauthServiceNameForUsername(username), username,
                                             R"({"refreshToken":"rt-revoked","serviceIds":["mail"]})", nullptr));
    makeController();
    launch();
    ASSERT_TRUE(startupFinished);

    OutcomeDelegate delegate;
    TDWAccessTokenRetriever retriever(username, &delegate);
    retriever.start();
    ASSERT_TRUE(waitFor([&] { return delegate.done; }));
    ASSERT_TRUE(waitFor([&] { return !fake.shown.isEmpty(); }));
    EXPECT_EQ(fake.shown.first().summary, QStringLiteral("Login required"));
    EXPECT_EQ(fake.shown.first().body, QStringLiteral("Please log in to: ") + username);
}

TEST_F(TDWDesktopNotifierTest, ClickingANoticeOfADeletedAccountOpensNothing)
{
    FakeNotificationService &fake = startService();
    prepareReturningUser({QStringLiteral("kept@example.com")});
    makeController();
    launch();

    TDWLoginNotifier::shared()->deliver(loginRequired(QStringLiteral("deleted@example.com")));
    ASSERT_TRUE(waitFor([&] { return !fake.shown.isEmpty(); }));
    bool activated = false;
    QObject::connect(controller->notifier(), &TDWDesktopNotifier::activated, [&] { activated = true; });
    fake.click(fake.shown.first().id, QStringLiteral("action"));
    ASSERT_TRUE(waitFor([&] { return activated; }));

    EXPECT_FALSE(TDWTidewellPrefsWindowController::hasSharedPrefsWindowController()
                 && TDWTidewellPrefsWindowController::sharedPrefsWindowController()->window()->isVisible());
}

TEST_F(TDWDesktopNotifierTest, WithoutANotificationServiceOrTrayTheNoticeIsLogged)
{
    tdwtest::LogCapture log;
    TDWDesktopNotifier notifier;

    notifier.deliver(loginRequired(QStringLiteral("someone@example.com")));

    EXPECT_TRUE(waitFor([&] { return log.contains(QStringLiteral("Unable to show the notice \"Login required\"")); }));
}

} // namespace

#include "TDWDesktopNotifierTest.moc"
