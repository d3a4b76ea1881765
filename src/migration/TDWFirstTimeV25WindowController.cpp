#include "migration/TDWFirstTimeV25WindowController.h"

#include "common/TDWSettingsKeys.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWResources.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "prefs/TDWTidewellPrefsWindowController.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFile>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWidget>

namespace {

const QString CalendarSettingsChanged = QStringLiteral("not_changed_calendar_access_settings");
const QString CalendarLinkPrefix = QStringLiteral("tw:calendars.");

QDomElement elementById(const QDomNode &root, const QString &id)
{
    for (QDomElement child = root.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        if (child.attribute(QStringLiteral("id")) == id)
            return child;
        if (const QDomElement found = elementById(child, id); !found.isNull())
            return found;
    }
    return {};
}

void removeElement(const QDomElement &element)
{
    if (!element.isNull())
        element.parentNode().removeChild(element);
}

} // namespace

TDWFirstTimeV25WindowController::TDWFirstTimeV25WindowController(const QStringList &allUsernames, const QStringList &failedUsernames,
                                                                 QObject *parent)
    : QObject(parent)
    , m_allUsernames(allUsernames)
    , m_failedUsernames(failedUsernames)
    , m_window(std::make_unique<QWidget>())
{
    m_window->setWindowTitle(tr("What's new in Tidewell"));
    m_webView = new QTextBrowser;
    m_webView->setOpenLinks(false);
    // Nothing dropped onto the page replaces it.
    m_webView->setAcceptDrops(false);
    connect(m_webView, &QTextBrowser::anchorClicked, this, [this](const QUrl &url) { decidePolicyForNavigation(url); });
    auto *buttons = new QDialogButtonBox;
    connect(buttons->addButton(tr("Done"), QDialogButtonBox::AcceptRole), &QPushButton::clicked, this, &TDWFirstTimeV25WindowController::done);
    auto *layout = new QVBoxLayout(m_window.get());
    layout->addWidget(m_webView);
    layout->addWidget(buttons);
    m_window->resize(560, 520);

    QFile page(TDWResources::path(QStringLiteral("updatenotes"), QStringLiteral("html")));
    if (!page.open(QIODevice::ReadOnly) || !m_page.setContent(page.readAll()))
        tdwLog(QStringLiteral("ERROR: Unable to load the update notes %1").arg(page.fileName()));
    // Any change of the setting, here or in the preferences, shows in the page.
    m_calendarObserver = TDWNotificationCenter::defaultCenter().addObserver(
        CalendarSettingsChanged, [this](const TDWNotification &) { handleCalendarSettingChange(); }, this);
    didFinishLoad();
}

TDWFirstTimeV25WindowController::~TDWFirstTimeV25WindowController()
{
    TDWNotificationCenter::defaultCenter().removeObserver(m_calendarObserver);
}

void TDWFirstTimeV25WindowController::didFinishLoad()
{
    updateForAuthInfo();
    updateForMail();
    handleCalendarSettingChange();
}

void TDWFirstTimeV25WindowController::updateForAuthInfo()
{
    const qsizetype failed = m_failedUsernames.size();
    if (failed == 0) {
        removeElement(elementById(m_page.documentElement(), QStringLiteral("failedoauthmigration")));
        return;
    }
    const QDomElement paragraph = elementById(m_page.documentElement(), QStringLiteral("authMigrationParagraph"));
    if (paragraph.isNull() || !paragraph.firstChild().isText())
        return;
    QString someOfYourAccounts;
    QString affectedAccounts;
    QString combinations = tr("combinations");
    QString authTokens = tr("authentication tokens");
    if (failed == 1) {
        someOfYourAccounts = tr("your “%1” account").arg(m_failedUsernames.first());
        affectedAccounts = tr("that account");
        combinations = tr("combination");
        authTokens = tr("an authentication token");
    } else if (failed == m_allUsernames.size()) {
        someOfYourAccounts = tr("your accounts");
        affectedAccounts = tr("your accounts");
    } else {
        someOfYourAccounts = tr("some of your accounts");
        affectedAccounts = tr("those accounts");
    }
    QString text = paragraph.firstChild().nodeValue();
    text.replace(QStringLiteral("[PANE]"), tr("Google Accounts"));
    text.replace(QStringLiteral("[APPROPRIATE]"), QStringLiteral("appropriate "));
    text.replace(QStringLiteral("[SOME_OF_YOUR_ACCOUNTS]"), someOfYourAccounts);
    text.replace(QStringLiteral("[AFFECTED_ACCOUNTS]"), affectedAccounts);
    text.replace(QStringLiteral("[COMBINATIONS]"), combinations);
    text.replace(QStringLiteral("[AUTH_TOKENS]"), authTokens);
    paragraph.firstChild().setNodeValue(text);
}

void TDWFirstTimeV25WindowController::updateForMail()
{
    if (TDWUserDefaults::standard()->boolForKey(TDWSettingsKeys::FirstTimeV2))
        removeElement(elementById(m_page.documentElement(), QStringLiteral("enablemail")));
}

void TDWFirstTimeV25WindowController::handleCalendarSettingChange()
{
    const qint64 level = TDWUserDefaults::standard()->integerForKey(TDWSettingsKeys::CalendarAccessLevel);
    for (int choice = 1; choice <= 3; ++choice) {
        QDomElement radio = elementById(m_page.documentElement(), QStringLiteral("calRadio.%1").arg(choice));
        if (radio.isNull())
            continue;
        if (choice == level)
            radio.setAttribute(QStringLiteral("checked"), QStringLiteral("checked"));
        else
            radio.removeAttribute(QStringLiteral("checked"));
    }
    render();
}

void TDWFirstTimeV25WindowController::render()
{
    // A copy, so the page itself keeps its inputs for the next change.
    QDomDocument shown = m_page.cloneNode(true).toDocument();
    const QDomNodeList inputs = shown.elementsByTagName(QStringLiteral("input"));
    for (int i = inputs.size() - 1; i >= 0; --i) {
        QDomElement input = inputs.at(i).toElement();
        input.parentNode().replaceChild(shown.createTextNode(input.hasAttribute(QStringLiteral("checked")) ? QStringLiteral("◉\u00a0") : QStringLiteral("○\u00a0")),
                                        input);
    }
    m_webView->setHtml(shown.toString(-1));
}

bool TDWFirstTimeV25WindowController::decidePolicyForNavigation(const QUrl &url)
{
    const QString text = url.toString();
    if (text == QLatin1String("tw:loginnow")) {
        logInNow();
    } else if (text == QLatin1String("tw:configuremail")) {
        configureMail();
    } else if (text.startsWith(CalendarLinkPrefix) && text.size() == CalendarLinkPrefix.size() + 1 && text.back() >= QLatin1Char('1')
               && text.back() <= QLatin1Char('3')) {
        setCalendarAccessLevel(text.back().digitValue());
    } else {
        QDesktopServices::openUrl(url);
    }
    return false;
}

void TDWFirstTimeV25WindowController::setCalendarAccessLevel(int level)
{
    TDWUserDefaults::standard()->setInteger(level, TDWSettingsKeys::CalendarAccessLevel);
    TDWNotificationCenter::defaultCenter().post(CalendarSettingsChanged);
}

void TDWFirstTimeV25WindowController::logInNow()
{
    TDWTidewellPrefsWindowController *prefs = TDWTidewellPrefsWindowController::sharedPrefsWindowController();
    prefs->showWindow();
    if (m_failedUsernames.size() == 1)
        prefs->showAccountSheetFor(m_failedUsernames.first());
    else
        prefs->displayViewForIdentifier(TDWTidewellPrefsWindowController::AccountsIdentifier, true);
}

void TDWFirstTimeV25WindowController::configureMail()
{
    TDWTidewellPrefsWindowController *prefs = TDWTidewellPrefsWindowController::sharedPrefsWindowController();
    prefs->showWindow();
    prefs->displayViewForIdentifier(TDWTidewellPrefsWindowController::AccountsIdentifier, true);
}

void TDWFirstTimeV25WindowController::showWindow()
{
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void TDWFirstTimeV25WindowController::done()
{
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    defaults->setBool(true, TDWSettingsKeys::FirstTimeV2);
    defaults->setBool(true, TDWSettingsKeys::FirstTimeV25);
    defaults->removeObjectForKey(TDWSettingsKeys::OAuthMigrationResult);
    defaults->synchronize();
    m_window->close();
    emit finished();
}
