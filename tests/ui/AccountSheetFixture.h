#pragma once

#include "ui/TDWAccountViewDelegate.h"

#include "platform/notify/TDWNotificationCenter.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

class FakeGmailImap;
class TDWAccountFlowController;
class TDWFileKeyring;

namespace tdwtest {
class FakeGoogleServer;
class RecordingUrlHandler;
} // namespace tdwtest

// The sheet's owner as a test sees it: what it was told.
struct RecordingFlowDelegate : TDWAccountViewDelegate
{
    int cancelled = 0;
    int done = 0;
    int back = 0;
    bool canGoBack = false;
    void cancelAccountFlow() override { ++cancelled; }
    void doneAccountFlow() override { ++done; }
    bool canGoBackFromAccountView() const override { return canGoBack; }
    void backFromAccountView() override { ++back; }
};

// One posted notification: its name and the account it names.
struct Posted
{
    QString name;
    QString accountUsername;
    bool operator==(const Posted &) const = default;
};
void PrintTo(const Posted &posted, std::ostream *os);
// Readable failures for the Qt values the tests compare.
void PrintTo(const QString &value, std::ostream *os);
void PrintTo(const QStringList &value, std::ostream *os);

// The account sheet in a window of its own against the fake Google server
// (and, for Gmail, the fake Gmail IMAP server), with fresh metadata stores and
// a file keyring for each test. The desktop's https handler records the pages
// the sheet opens; tests play the browser with TestBrowser.
class AccountSheetFixture : public ::testing::Test
{
protected:
    // The Gmail account of the fake IMAP server: its address and the access token it takes.
    static inline const QString MailUser = QStringLiteral("mailbox@example.com");
    static inline const QString MailToken = QStringLiteral("at-mailbox");
    // Another token of that account. Sessions are cached by token for the whole
    // program and the servers are new for each suite: a suite after the first
    // uses this one, so as not to reach an earlier suite's server.
    static inline const QString OtherMailToken = QStringLiteral("at-mailbox-2");

    AccountSheetFixture();
    ~AccountSheetFixture() override;

    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // A user name of this test alone: the keychain manager's cache lives for the whole process.
    static QString user();

    // A flow for a new account (empty name) or a stored one.
    TDWAccountFlowController &makeFlow(const QString &accountUsername = {});

    // The account view's widget of that object name.
    template<typename T>
    T *control(const char *name) const;
    QWidget *shownView() const;
    bool showsAccountView() const;
    bool showsAuthView() const;
    bool showsLabelView() const;
    QString statusText() const;
    bool errorShown() const;

    void typeAddress(const QString &address);
    void setServices(const QStringList &enabled);
    void pressContinue();

    // The next page the sheet opened in the browser (waits for it).
    QUrl openedPage();
    // Plays the browser on the last page opened: the consent's "allow" or "deny".
    void answerConsent(const QString &decision);

    // The services stored as enabled for the account, in the service table's order.
    QStringList storedServices(const QString &username, qint64 *lastStatus = nullptr) const;
    // Stores a credential for the user and tells the fake Google server its tokens.
    void storeCredential(const QString &username, const QString &accessToken, const QStringList &serviceIds, bool expired = false,
                         bool refreshTokenInvalid = false, bool knownToGoogle = true);
    // The next code exchange answers this access token, which the fake then knows for `email`.
    void nextSignInGives(const QString &email, const QString &accessToken);

    QList<Posted> postedAccounts() const { return m_posted; }
    // "mailfolderlistchanged" and "mailfolderselectionschanged" posted with "setnew".
    QList<Posted> postedLabelChanges() const { return m_postedLabelChanges; }
    // The texts of the application-modal alerts shown so far; each was dismissed with OK.
    QStringList alertsShown() const { return m_alerts; }
    bool hasStoredCredential(const QString &username) const;

    static tdwtest::FakeGoogleServer *s_google;
    static FakeGmailImap *s_imap;
    std::unique_ptr<tdwtest::RecordingUrlHandler> browser;
    std::shared_ptr<TDWFileKeyring> keyring;
    std::unique_ptr<QWidget> window;
    RecordingFlowDelegate delegate;
    std::unique_ptr<TDWAccountFlowController> flow;

private:
    class AlertDismisser;

    TDWNotificationCenter::Token m_observer;
    QList<Posted> m_posted;
    QList<Posted> m_postedLabelChanges;
    QStringList m_alerts;
    std::unique_ptr<AlertDismisser> m_alertDismisser;
};

template<typename T>
T *AccountSheetFixture::control(const char *name) const
{
    T *found = shownView() ? shownView()->findChild<T *>(QString::fromLatin1(name)) : nullptr;
    EXPECT_TRUE(found) << name;
    return found;
}
