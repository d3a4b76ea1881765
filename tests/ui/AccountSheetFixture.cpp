#include "AccountSheetFixture.h"

#include "FakeGmailImap.h"
#include "FakeGoogleServer.h"
#include "TestBrowser.h"
#include "TestSupport.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWGoogleEndpoints.h"
#include "accounts/TDWKeychainMgr.h"
#include "app/TDWRegisterClasses.h"
#include "common/TDWFileMgr.h"
#include "common/TDWServiceTable.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "mail/TDWMailPreflightOperation.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"
#include "ui/TDWAccountFlowController.h"
#include "ui/TDWAccountViewController.h"
#include "ui/TDWAuthViewController.h"
#include "ui/TDWContentView.h"
#include "ui/TDWLabelViewController.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

// Records every application-modal alert as it shows and dismisses it, so that
// a test goes on past an alert that waits for the user.
class AccountSheetFixture::AlertDismisser : public QObject
{
public:
    explicit AlertDismisser(QStringList *texts)
        : m_texts(texts)
    {
        qApp->installEventFilter(this);
    }
    ~AlertDismisser() override { qApp->removeEventFilter(this); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *alert = qobject_cast<QMessageBox *>(watched);
        if (alert && event->type() == QEvent::Show && alert->windowModality() == Qt::ApplicationModal) {
            *m_texts << alert->text();
            QMetaObject::invokeMethod(alert, [alert] { alert->done(QMessageBox::Ok); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    QStringList *m_texts;
};

tdwtest::FakeGoogleServer *AccountSheetFixture::s_google = nullptr;
FakeGmailImap *AccountSheetFixture::s_imap = nullptr;

void PrintTo(const QString &value, std::ostream *os)
{
    *os << '"' << value.toStdString() << '"';
}

void PrintTo(const QStringList &value, std::ostream *os)
{
    *os << '[' << value.join(QStringLiteral(", ")).toStdString() << ']';
}

void PrintTo(const Posted &posted, std::ostream *os)
{
    *os << posted.name.toStdString() << "(" << posted.accountUsername.toStdString() << ")";
}

AccountSheetFixture::AccountSheetFixture() = default;
AccountSheetFixture::~AccountSheetFixture() = default;

void AccountSheetFixture::SetUpTestSuite()
{
    TDWRegisterClasses();
    s_google = new tdwtest::FakeGoogleServer;
    // Listing the client makes the fake check the client identity and secret.
    ASSERT_TRUE(s_google->start(
        QJsonObject{{QStringLiteral("clients"), QJsonObject{{TDWGoogleEndpoints::clientId(), TDWGoogleEndpoints::clientSecret()}}}}));
    s_imap = new FakeGmailImap;
    ASSERT_TRUE(s_imap->start(QJsonObject{
        {QStringLiteral("accounts"),
         QJsonArray{QJsonObject{{QStringLiteral("user"), MailUser},
                                {QStringLiteral("tokens"), QJsonArray{MailToken, OtherMailToken}},
                                {QStringLiteral("mailbox"), QJsonObject{{QStringLiteral("generate"), 20}}}}}}}));
}

void AccountSheetFixture::TearDownTestSuite()
{
    delete s_imap;
    s_imap = nullptr;
    delete s_google;
    s_google = nullptr;
}

void AccountSheetFixture::SetUp()
{
    ASSERT_TRUE(s_google && s_imap);
    s_google->control(QStringLiteral("reset"), QJsonDocument(QJsonObject{}));
    TDWUserDefaults::standard()->setString(QStringLiteral("127.0.0.1:%1").arg(s_imap->port()), QStringLiteral("Hostname"));
    TDWMailPreflightOperation::setMailShieldConfigurationPath(tdwtest::freshDir(QStringLiteral("no-shield")) + QStringLiteral("/none.conf"));
    keyring = std::make_shared<TDWFileKeyring>(tdwtest::freshDir(QStringLiteral("keyring")));
    TDWKeyring::setBackend(keyring);
    // Several tests sign the Gmail account in: none may find an earlier one's credential cached.
    TDWKeychainMgr::keychainMgr()->deleteCredentialForUsername(MailUser);

    TDWFileMgr::reset();
    TDWFileMgr::initAltDataDir(tdwtest::freshDir(QStringLiteral("metadata")));
    TDWMasterStore &master = TDWMasterStore::shared();
    const auto coordinator = master.persistentStoreCoordinatorMigrating(false);
    ASSERT_TRUE(coordinator);
    master.setPersistentStoreCoordinator(coordinator);
    master.setStoreMgr(TDWStoreMgr::initWithPersistentStoreCoordinator(coordinator, master.masterStore()));
    ASSERT_TRUE(master.storeMgr());

    browser = std::make_unique<tdwtest::RecordingUrlHandler>();
    window = std::make_unique<QWidget>();
    window->resize(560, 460);
    window->show();
    m_alertDismisser = std::make_unique<AlertDismisser>(&m_alerts);
    m_observer = TDWNotificationCenter::defaultCenter().addObserver({}, [this](const TDWNotification &n) {
        const Posted posted{n.name(), n.userInfo().value(QStringLiteral("accountUsername")).toString()};
        if (n.name() == QLatin1String("newAccount") || n.name() == QLatin1String("accountUpdate"))
            m_posted << posted;
        if ((n.name() == QLatin1String("mailfolderlistchanged") || n.name() == QLatin1String("mailfolderselectionschanged"))
            && n.userInfo().value(QStringLiteral("setnew")).toBool())
            m_postedLabelChanges << posted;
    });
}

void AccountSheetFixture::TearDown()
{
    TDWNotificationCenter::defaultCenter().removeObserver(m_observer);
    flow.reset();
    m_alertDismisser.reset();
    window.reset();
    browser.reset();
    QCoreApplication::processEvents();
    TDWMailPreflightOperation::setMailShieldConfigurationPath(QString());
    TDWKeyring::setBackend(nullptr);
    TDWMasterStore::shared().setStoreMgr(nullptr);
    TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
    TDWFileMgr::reset();
}

QString AccountSheetFixture::user()
{
    return QStringLiteral("%1@example.com").arg(QString::fromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name())).toLower();
}

TDWAccountFlowController &AccountSheetFixture::makeFlow(const QString &accountUsername)
{
    flow = std::make_unique<TDWAccountFlowController>(window.get(), &delegate, accountUsername);
    return *flow;
}

QWidget *AccountSheetFixture::shownView() const
{
    return TDWContentView::current(window.get());
}

bool AccountSheetFixture::showsAccountView() const
{
    return flow->accountViewController() && shownView() == flow->accountViewController()->view();
}

bool AccountSheetFixture::showsAuthView() const
{
    return flow->authViewController() && shownView() == flow->authViewController()->view();
}

bool AccountSheetFixture::showsLabelView() const
{
    return flow->labelViewController() && shownView() == flow->labelViewController()->view();
}

QString AccountSheetFixture::statusText() const
{
    const QLabel *label = control<QLabel>("statusText");
    return label && !label->isHidden() ? label->text() : QString();
}

bool AccountSheetFixture::errorShown() const
{
    if (!showsAccountView())
        return false;
    const QLabel *image = control<QLabel>("errorImage");
    return image && !image->isHidden();
}

void AccountSheetFixture::typeAddress(const QString &address)
{
    control<QLineEdit>("usernameField")->setText(address);
}

void AccountSheetFixture::setServices(const QStringList &enabled)
{
    for (const char *service : {"mail", "contacts", "calendar", "tasks", "docs"}) {
        QCheckBox *checkbox = control<QCheckBox>(service);
        if (checkbox->isChecked() != enabled.contains(QLatin1String(service)))
            checkbox->click();
    }
}

void AccountSheetFixture::pressContinue()
{
    QPushButton *button = control<QPushButton>("continue");
    ASSERT_TRUE(button->isEnabled());
    button->click();
}

QUrl AccountSheetFixture::openedPage()
{
    EXPECT_TRUE(tdwtest::waitUntil([this] { return !browser->opened.isEmpty(); }));
    return browser->opened.isEmpty() ? QUrl() : browser->opened.takeFirst();
}

void AccountSheetFixture::answerConsent(const QString &decision)
{
    const tdwtest::Visit page = tdwtest::TestBrowser::answerConsent(openedPage(), decision);
    EXPECT_EQ(page.response.statusCode(), 200) << page.error.description().toStdString();
}

void AccountSheetFixture::storeCredential(const QString &username, const QString &accessToken, const QStringList &serviceIds,
                                          bool expired, bool refreshTokenInvalid, bool knownToGoogle)
{
    auto credential = std::make_shared<TDWCredential>();
    credential->setAccessToken(accessToken);
    credential->setRefreshToken(QStringLiteral("rt-") + accessToken);
    credential->setAccessTokenExpires(TDWClock::now().addSecs(expired ? -3600 : 3600));
    credential->setServiceIds(serviceIds);
    credential->setRefreshTokenInvalid(refreshTokenInvalid);
    ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, username, true));
    if (knownToGoogle)
        s_google->addAccount(QJsonObject{{QStringLiteral("email"), username},
                                         {QStringLiteral("access_token"), accessToken},
                                         {QStringLiteral("refresh_token"), QStringLiteral("rt-") + accessToken}});
}

void AccountSheetFixture::nextSignInGives(const QString &email, const QString &accessToken)
{
    s_google->addAccount(QJsonObject{{QStringLiteral("email"), email}, {QStringLiteral("access_token"), accessToken}});
    s_google->addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/o/oauth2/token")},
                                   {QStringLiteral("body"),
                                    QJsonObject{{QStringLiteral("access_token"), accessToken},
                                                {QStringLiteral("refresh_token"), QStringLiteral("rt-") + accessToken},
                                                {QStringLiteral("expires_in"), 3600}}}});
}

QStringList AccountSheetFixture::storedServices(const QString &username, qint64 *lastStatus) const
{
    const auto moc = TDWMasterStore::shared().newMoc();
    const TDWAccount::Ptr account = TDWAccount::byUsername(username, *moc, nullptr);
    if (!account)
        return {QStringLiteral("(no account)")};
    QStringList services;
    for (const TDWServiceConfig &config : TDWServiceTable::shared().serviceConfigs())
        if (account->enabledForService(config.id))
            services << config.id;
    if (lastStatus)
        *lastStatus = account->lastStatus();
    return services;
}

bool AccountSheetFixture::hasStoredCredential(const QString &username) const
{
    QByteArray secret;
    keyring->find(TDWKeychainMgr::oauthServiceNameForUsername(username), username, &secret, nullptr);
    return !secret.isEmpty();
}
