#include "accounts/TDWPreflightMgr.h"

#include "accounts/TDWApiPreflightOperation.h"

#include "accounts/TDWPreflight.h"
#include "accounts/TDWPreflightDelegate.h"
#include "app/TDWRegisterClasses.h"
#include "common/TDWServiceTable.h"
#include "platform/foundation/TDWPropertyList.h"
#include "platform/foundation/TDWResources.h"

#include "FakeGoogleTest.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

namespace {

class RecordingDelegate : public TDWPreflightDelegate
{
public:
    void handlePreflightFailure(const TDWError &error) override { record(error.localizedDescription()); }
    void handlePreflightSuccess() override { record(QStringLiteral("success")); }

    QStringList outcomes;
    bool onMainThread = true;

private:
    void record(const QString &outcome)
    {
        onMainThread = onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        outcomes << outcome;
    }
};

class TDWPreflightMgrTest : public tdwtest::FakeGoogleTest
{
protected:
    static void SetUpTestSuite()
    {
        TDWRegisterClasses();
        startFake(QJsonObject{
            {QStringLiteral("accounts"),
             QJsonArray{QJsonObject{{QStringLiteral("email"), QStringLiteral("user@example.com")},
                                    {QStringLiteral("access_token"), QStringLiteral("at-user")}}}}});
    }
    void TearDown() override
    {
        TDWServiceTable::shared().load(TDWResources::path(QStringLiteral("Config"), QStringLiteral("plist")), nullptr);
    }

    static QString run(const QStringList &services, const QString &token = QStringLiteral("at-user"), TDWPreflight **mail = nullptr)
    {
        RecordingDelegate delegate;
        TDWPreflightMgr manager(QStringLiteral("user@example.com"), token, services, &delegate);
        manager.start();
        EXPECT_TRUE(delegate.outcomes.isEmpty()); // never before start() returns
        EXPECT_TRUE(tdwtest::waitUntil([&] { return !delegate.outcomes.isEmpty(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(delegate.outcomes.size(), 1);
        EXPECT_TRUE(delegate.onMainThread);
        if (mail) {
            *mail = manager.mailPreflightOperation();
            if (*mail) {
                EXPECT_EQ((*mail)->service(), QStringLiteral("mail"));
            }
        }
        return delegate.outcomes.value(0);
    }

    static QJsonObject fault(const QString &path, int status)
    {
        return {{QStringLiteral("path"), path}, {QStringLiteral("status"), status}};
    }
};

TEST_F(TDWPreflightMgrTest, EveryServiceIsCheckedWithTheTokenAndItsGDataVersion)
{
    EXPECT_EQ(run({QStringLiteral("docs"), QStringLiteral("contacts"), QStringLiteral("calendar")}), QStringLiteral("success"));
    const struct {
        const char *path;
        const char *gdataVersion;
    } cases[] = {
        {"/drive/v2/about", ""},
        {"/m8/feeds/contacts/default/full", "3.0"},
        {"/calendar/v3/users/me/calendarList", ""},
    };
    for (const auto &c : cases) {
        const QJsonArray log = s_fake->requestsTo(QString::fromLatin1(c.path));
        ASSERT_EQ(log.size(), 1) << c.path;
        const QJsonObject headers = log[0][QStringLiteral("headers")].toObject();
        EXPECT_EQ(headers[QStringLiteral("authorization")].toString(), QStringLiteral("Bearer at-user"));
        EXPECT_EQ(headers[QStringLiteral("gdata-version")].toString(), QLatin1String(c.gdataVersion)) << c.path;
    }
}

TEST_F(TDWPreflightMgrTest, TheFirstFailureInServiceOrderIsReported)
{
    // Contacts fails at once, Drive only later: Drive's failure is the one told.
    QJsonObject slowDrive = fault(QStringLiteral("/drive/v2/about"), 500);
    slowDrive[QStringLiteral("stall")] = 0.5;
    s_fake->addFault(slowDrive);
    s_fake->addFault(fault(QStringLiteral("/m8/feeds/contacts/default/full"), 503));
    EXPECT_EQ(run({QStringLiteral("docs"), QStringLiteral("contacts"), QStringLiteral("calendar")}),
              QStringLiteral("Unable to retrieve the Google Drive file list: Unexpected status code (500)"));

    s_fake->addFault(fault(QStringLiteral("/m8/feeds/contacts/default/full"), 403));
    EXPECT_EQ(run({QStringLiteral("docs"), QStringLiteral("contacts")}),
              QStringLiteral("Unable to retrieve the contact list: Unexpected status code (403)"));

    EXPECT_EQ(run({QStringLiteral("calendar")}, QStringLiteral("expired-token")),
              QStringLiteral("Unable to retrieve the calendar list: Unexpected status code (401)"));

    QJsonObject drop = fault(QStringLiteral("/calendar/v3/users/me/calendarList"), 200);
    drop[QStringLiteral("drop")] = true;
    s_fake->addFault(drop);
    EXPECT_TRUE(run({QStringLiteral("calendar")})
                    .startsWith(QStringLiteral("Unable to retrieve the calendar list: No HTTP response: The network connection was lost.")));
}

// The check's failure says how far it reaches: a refused sign-in, a missing
// list, a refusal or an overloaded server; the text stays as it was.
TEST_F(TDWPreflightMgrTest, AnUnwantedStatusCarriesTheScopeItMeans)
{
    const struct {
        int status;
        TDWError::Scope scope;
    } cases[] = {
        {401, TDWError::Scope::SignIn},
        {404, TDWError::Scope::Item},
        {403, TDWError::Scope::Request},
        {503, TDWError::Scope::Connection},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.status);
        s_fake->addFault(fault(QStringLiteral("/drive/v2/about"), c.status));
        TDWApiPreflightOperation check(QStringLiteral("User@Example.com"), QStringLiteral("at-user"), QStringLiteral("docs"));
        check.run();
        EXPECT_EQ(check.error().scope(), c.scope);
        EXPECT_EQ(check.error().localizedDescription(),
                  QStringLiteral("Unable to retrieve the Google Drive file list: Unexpected status code (%1)").arg(c.status));
    }
}

TEST_F(TDWPreflightMgrTest, EmptyServiceListSucceedsAtOnce)
{
    EXPECT_EQ(run({}), QStringLiteral("success"));
    EXPECT_TRUE(s_fake->requests().isEmpty());
}

TEST_F(TDWPreflightMgrTest, RedirectKeepsTheTokenOnlyOnTheSameHost)
{
    const struct {
        const char *location;
        const char *outcome;
        bool bearerOnSecondHop;
    } cases[] = {
        {"/m8/feeds/contacts/default/full?max-results=1&hop=2", "success", true},
        {"https://www.googleapis.com/m8/feeds/contacts/default/full", "Unable to retrieve the contact list: Unexpected status code (404)", false},
    };
    for (const auto &c : cases) {
        s_fake->clearRequests();
        QJsonObject redirect = fault(QStringLiteral("/m8/feeds/contacts/default/full"), 302);
        redirect[QStringLiteral("location")] = QString::fromLatin1(c.location);
        s_fake->addFault(redirect);
        EXPECT_EQ(run({QStringLiteral("contacts")}), QLatin1String(c.outcome));
        const QJsonArray log = s_fake->requestsTo(QStringLiteral("/m8/feeds/contacts/default/full"));
        ASSERT_EQ(log.size(), 2);
        const QJsonObject second = log[1][QStringLiteral("headers")].toObject();
        EXPECT_EQ(second[QStringLiteral("authorization")].toString(), c.bearerOnSecondHop ? QStringLiteral("Bearer at-user") : QString());
        EXPECT_EQ(second[QStringLiteral("gdata-version")].toString(), QStringLiteral("3.0"));
    }
}

TEST_F(TDWPreflightMgrTest, UnusablePreflightUrlFailsWithoutARequest)
{
    const QVariantMap service{{QStringLiteral("id"), QStringLiteral("docs")},
                              {QStringLiteral("listOfItemsLabel"), QStringLiteral("Google Drive file list")},
                              {QStringLiteral("preflightClass"), QStringLiteral("TDWApiPreflightOperation")},
                              {QStringLiteral("preflighturl"), QStringLiteral("https://exa mple.com/about")}};
    const QString path = tdwtest::freshDir() + QStringLiteral("/Config.plist");
    ASSERT_TRUE(TDWPropertyList::writeFile(QVariantMap{{QStringLiteral("services"), QVariantList{service}}}, path, nullptr));
    ASSERT_TRUE(TDWServiceTable::shared().load(path, nullptr));
    EXPECT_EQ(run({QStringLiteral("docs")}), QStringLiteral("Unable to retrieve the Google Drive file list: Unexpected error."));
    EXPECT_TRUE(s_fake->requests().isEmpty());
}

TEST_F(TDWPreflightMgrTest, DestroyingARunningManagerCancelsItsChecksAndReportsNothing)
{
    QJsonObject stall = fault(QStringLiteral("/drive/v2/about"), 200);
    stall[QStringLiteral("stall")] = 60;
    s_fake->addFault(stall);
    RecordingDelegate delegate;
    {
        TDWPreflightMgr manager(QStringLiteral("user@example.com"), QStringLiteral("at-user"), {QStringLiteral("docs")}, &delegate);
        manager.start();
        ASSERT_TRUE(tdwtest::waitUntil([&] { return s_fake->requestsTo(QStringLiteral("/drive/v2/about")).size() == 1; }));
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(delegate.outcomes.isEmpty());
}

} // namespace
