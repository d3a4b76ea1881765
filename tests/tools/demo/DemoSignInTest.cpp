// The demo's sign-in from end to end: the servers started as scripts/demo
// starts them, the program's sign-in engine with a browser that knows nothing
// of the host map or the test CA, and the program's IMAP layer logging in to
// the fake Gmail server with the token that sign-in stored.
#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "accounts/TDWOAuthSignIn.h"
#include "app/TDWRegisterClasses.h"
#include "mail/TDWImapConnectionMgr.h"
#include "mail/TDWMailPreflightOperation.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/imap/TDWImapSession.h"
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"

#include "DemoServers.h"
#include "FakeGoogleServer.h"
#include "TestSupport.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <optional>

namespace {

using demotest::DemoServers;

const QString Address = DemoServers::Address;

struct Page
{
    int status = 0;
    QByteArray body;
    QUrl location;
};

// The user's browser: Qt's own network stack, without the program's host map,
// its extra CA or a proxy, taking one step at a time.
class Browser
{
public:
    Browser() { m_manager.setProxy(QNetworkProxy::NoProxy); }

    Page get(const QUrl &url) { return wait(m_manager.get(request(url))); }

    Page post(const QUrl &url, const QByteArray &form)
    {
        QNetworkRequest post = request(url);
        post.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
        return wait(m_manager.post(post, form));
    }

private:
    static QNetworkRequest request(const QUrl &url)
    {
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        return request;
    }

    static Page wait(QNetworkReply *reply)
    {
        EXPECT_TRUE(tdwtest::waitUntil([reply] { return reply->isFinished(); }));
        Page page{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
                  reply->url().resolved(reply->header(QNetworkRequest::LocationHeader).toUrl())};
        reply->deleteLater();
        return page;
    }

    QNetworkAccessManager m_manager;
};

class DemoSignInTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        TDWRegisterClasses();
        s_servers = new DemoServers;
        ASSERT_TRUE(s_servers->start());
        s_servers->exportProgramEnvironment();
        TDWUserDefaults::standard()->setString(s_servers->imapHostname(), QStringLiteral("Hostname"));
        TDWKeyring::setBackend(std::make_shared<TDWFileKeyring>(tdwtest::freshDir(QStringLiteral("keyring"))));
    }

    static void TearDownTestSuite()
    {
        TDWKeyring::setBackend(nullptr);
        TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("Hostname"));
        s_servers->stop();
        delete s_servers;
        s_servers = nullptr;
    }

    static DemoServers *s_servers;
};

DemoServers *DemoSignInTest::s_servers = nullptr;

TEST_F(DemoSignInTest, AllowInTheBrowserSignsInAndTheIssuedTokenLogsInToImap)
{
    TDWOAuthSignIn signIn(Address, {QStringLiteral("mail")});
    QList<QUrl> opened;
    signIn.setUrlOpener([&](const QUrl &url) {
        opened << url;
        return true;
    });
    std::optional<TDWError> outcome;
    signIn.start([&](const TDWError &error) { outcome = error; });
    ASSERT_EQ(opened.size(), 1);
    const QUrl consent = opened[0];
    // The browser is sent to the fake's plain-HTTP port, not to a host only the program can reach.
    EXPECT_EQ(consent.adjusted(QUrl::RemoveQuery).toString().toStdString(),
              s_servers->value(QStringLiteral("TDW_AUTHORIZATION_URL")).toStdString());
    EXPECT_EQ(consent.host().toStdString(), "127.0.0.1");

    // The consent page, its form posted where the page says, Allow chosen.
    Browser browser;
    const Page page = browser.get(consent);
    ASSERT_EQ(page.status, 200) << page.body.constData();
    const QString html = QString::fromUtf8(page.body);
    const QRegularExpressionMatch action = QRegularExpression(QStringLiteral("<form method=\"post\" action=\"([^\"]+)\"")).match(html);
    const QRegularExpressionMatch request = QRegularExpression(QStringLiteral("name=\"request\" value=\"([^\"]+)\"")).match(html);
    ASSERT_TRUE(action.hasMatch() && request.hasMatch()) << html.toStdString();
    const Page answer = browser.post(consent.resolved(QUrl(action.captured(1))),
                                     "request=" + QUrl::toPercentEncoding(request.captured(1)) + "&decision=allow");
    ASSERT_EQ(answer.status, 302) << answer.body.constData();
    const Page closing = browser.get(answer.location);
    EXPECT_EQ(closing.status, 200);
    EXPECT_TRUE(closing.body.contains("You can close this window")) << closing.body.constData();

    ASSERT_TRUE(tdwtest::waitUntil([&] { return outcome.has_value(); }, std::chrono::seconds(90)));
    ASSERT_TRUE(outcome->isNull()) << outcome->localizedDescription().toStdString();
    // The sign-in's own Gmail check logged in to the fake IMAP server with the new token.
    const auto *mailCheck = dynamic_cast<const TDWMailPreflightOperation *>(signIn.mailPreflightOperation());
    ASSERT_NE(mailCheck, nullptr);
    EXPECT_TRUE(mailCheck->error().isNull()) << mailCheck->error().description().toStdString();
    EXPECT_EQ(mailCheck->numMessages(), 400);

    // The stored credential carries a token of the sign-in's own, and the IMAP
    // layer logs in with it as a backup would, and lists the sample labels.
    const auto credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(Address);
    ASSERT_TRUE(credential);
    EXPECT_NE(credential->accessToken().toStdString(), DemoServers::SampleToken.toStdString());
    const auto session = TDWImapConnectionMgr::imapSessionForUsername(Address);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->OAuth2Token().toStdString(), credential->accessToken().toStdString());
    std::optional<TDWError> listed;
    QStringList paths;
    session->fetchAllFoldersOperation()->start([&](const TDWError &error, const QList<TDWImapFolder> &folders) {
        for (const TDWImapFolder &folder : folders)
            paths << folder.path;
        listed = error;
    });
    ASSERT_TRUE(tdwtest::waitUntil([&] { return listed.has_value(); }, std::chrono::seconds(90)));
    EXPECT_TRUE(listed->isNull()) << listed->localizedDescription().toStdString();
    for (const char *label : {"INBOX", "Work", "Travel Plans", "[Gmail]/All Mail"})
        EXPECT_TRUE(paths.contains(QString::fromLatin1(label))) << label << " not in " << paths.join(QStringLiteral(", ")).toStdString();
}

} // namespace
