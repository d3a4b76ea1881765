// The list diagnostics window against the fake Google server with the demo's
// data: a golden report of the contacts in pages of two, "next" links that
// point elsewhere (another host, plain http, text that looks like an option)
// never getting the token, and hostile page bodies read safely.
#include "DiagnosticFixture.h"
#include "DiagnosticTestSupport.h"
#include "TestSupport.h"

#include "accounts/TDWKeychainMgr.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "prefs/TDWDiagnosticReportView.h"
#include "prefs/TDWListDiagnosticWindowController.h"

#include <QComboBox>
#include <QJsonArray>
#include <QJsonObject>
#include <QPushButton>

using namespace diagtest;

namespace {

const QString Groups = QStringLiteral("/m8/feeds/groups/default/full");

QString feed(const QString &links)
{
    return QStringLiteral("<?xml version='1.0' encoding='UTF-8'?><feed xmlns='http://www.w3.org/2005/Atom'><id>x</id>%1</feed>").arg(links);
}

class TDWListDiagnosticTest : public DiagnosticTest
{
protected:
    QString runReport(TDWListDiagnosticWindowController &window)
    {
        window.button()->click();
        EXPECT_TRUE(tdwtest::waitUntil([&] { return window.button()->isEnabled(); }, std::chrono::seconds(120)));
        return window.textView()->toPlainText();
    }
};

TEST_F(TDWListDiagnosticTest, TheDemosContactsInPagesOfTwo)
{
    TDWListDiagnosticWindowController window;
    ASSERT_EQ(window.accountPopup()->count(), 1);
    EXPECT_EQ(window.accountPopup()->currentText(), Demo);
    // Only the contacts are offered.
    ASSERT_EQ(window.servicePopup()->count(), 1);
    EXPECT_EQ(window.servicePopup()->currentText(), QStringLiteral("Contacts"));
    const QString text = runReport(window);
    expectGolden(text, QStringLiteral("list-demo-contacts"));
    saveScreenshot(window.window(), QStringLiteral("list-diagnostics"));
    // Three groups and three contacts, two a page: two pages each.
    EXPECT_EQ(text.count(QStringLiteral("Executing command: ")), 4);
    EXPECT_EQ(text.count(QStringLiteral("Parsed XML document.")), 4);
    EXPECT_FALSE(text.contains(DemoToken));
    EXPECT_TRUE(text.contains(QStringLiteral("\"Authorization: [REDACTED]\"")));
    EXPECT_TRUE(tokenLeaks(fake()).isEmpty());
}

TEST_F(TDWListDiagnosticTest, NextLinksElsewhereNeverGetTheToken)
{
    const QString other = QStringLiteral("https://127.0.0.1:%1/elsewhere").arg(fake().httpsPort());
    fake().addFault({{"path", Groups}, {"content_type", "application/atom+xml"},
                     {"body", feed(QStringLiteral("<link rel='next' href='%1'/>").arg(other))}});
    fake().addFault({{"path", "/elsewhere"}, {"content_type", "application/atom+xml"},
                     {"body", feed(QStringLiteral("<link rel='next' href='http://www.google.com/m8/plain'/>"))}});
    fake().addFault({{"path", "/m8/feeds/contacts/default/full"}, {"content_type", "application/atom+xml"},
                     {"body", feed(QStringLiteral("<link rel='next' href='-K/etc/passwd'/><link rel='alternate' href='/x'/>"))}});
    TDWListDiagnosticWindowController window;
    const QString text = runReport(window);
    expectGolden(text, QStringLiteral("list-next-links"));
    const QJsonArray elsewhere = fake().requestsTo(QStringLiteral("/elsewhere"));
    ASSERT_EQ(elsewhere.size(), 1);
    EXPECT_FALSE(elsewhere[0][QStringLiteral("headers")].toObject().contains(QStringLiteral("authorization")));
    // curl speaks only https: the plain-http link is refused before any request.
    EXPECT_TRUE(fake().requestsTo(QStringLiteral("/m8/plain")).isEmpty());
    // A link that looks like an option is a path next to the page.
    EXPECT_EQ(fake().requestsTo(QStringLiteral("/m8/feeds/contacts/default/-K/etc/passwd")).size(), 1);
    EXPECT_TRUE(tokenLeaks(fake()).isEmpty()) << tokenLeaks(fake()).join(u'\n').toStdString();
}

TEST_F(TDWListDiagnosticTest, HostileOrBrokenBodiesAreReportedNotExpanded)
{
    fake().addFault({{"path", Groups}, {"content_type", "application/atom+xml"},
                     {"body", "<?xml version='1.0'?><!DOCTYPE feed [<!ENTITY x SYSTEM 'file:///etc/passwd'>]><feed>&x;</feed>"}});
    fake().addFault({{"path", "/m8/feeds/contacts/default/full"}, {"content_type", "application/json"}, {"body", "{\"feed\": []}"}});
    TDWListDiagnosticWindowController window;
    const QString text = runReport(window);
    expectGolden(text, QStringLiteral("list-hostile-bodies"));
    EXPECT_FALSE(text.contains(QStringLiteral("root:")));
    EXPECT_EQ(text.count(QStringLiteral("Unable to parse XML document: ")), 2);
}

TEST_F(TDWListDiagnosticTest, NoAnswerAndAMissingCredentialAreReported)
{
    fake().addFault({{"path", Groups}, {"drop", true}});
    TDWListDiagnosticWindowController window;
    const QString dropped = runReport(window);
    EXPECT_TRUE(dropped.contains(QStringLiteral("curl: (52)"))) << dropped.toStdString();
    EXPECT_TRUE(dropped.contains(QStringLiteral("Did not find end of headers.")));

    TDWKeychainMgr::keychainMgr()->deleteCredentialForUsername(Demo);
    fake().clearRequests();
    EXPECT_EQ(runReport(window), QStringLiteral("The refresh token is either invalid or missing.  Please log in using the Preferences window.\n\n"));
    EXPECT_TRUE(fake().requests().isEmpty());
}

TEST_F(TDWListDiagnosticTest, TheAccountListFollowsAddedAccountsAndKeepsTheChoice)
{
    TDWListDiagnosticWindowController window;
    stack.addAccount(QStringLiteral("aaa@example.com"), {QStringLiteral("contacts")});
    TDWNotificationCenter::defaultCenter().post(QStringLiteral("newAccount"));
    ASSERT_EQ(window.accountPopup()->count(), 2);
    EXPECT_EQ(window.accountPopup()->itemText(0), QStringLiteral("aaa@example.com"));
    EXPECT_EQ(window.accountPopup()->currentText(), Demo);
}

} // namespace
