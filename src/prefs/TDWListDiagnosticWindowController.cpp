#include "prefs/TDWListDiagnosticWindowController.h"

#include "accounts/TDWGoogleEndpoints.h"
#include "common/TDWServiceTable.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "platform/xml/TDWXMLDocument.h"
#include "prefs/TDWDiagnosticReportView.h"
#include "prefs/TDWDiagnosticTokenCheck.h"
#include "ui/TDWWindowUtilities.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString ListedService = QStringLiteral("contacts");

} // namespace

TDWListDiagnosticWindowController::TDWListDiagnosticWindowController(QObject *parent)
    : QObject(parent)
    , m_window(std::make_unique<QWidget>())
    , m_accountPopup(new QComboBox(m_window.get()))
    , m_servicePopup(new QComboBox(m_window.get()))
    , m_button(new QPushButton(tr("Request Item Lists"), m_window.get()))
    , m_progressIndicator(new QProgressBar(m_window.get()))
    , m_textView(new TDWDiagnosticReportView(m_window.get()))
    , m_tokenCheck(new TDWDiagnosticTokenCheck(this))
{
    m_window->setObjectName(QStringLiteral("TDWListDiagnosticWindowController"));
    m_window->setWindowTitle(tr("List Diagnostics"));
    auto *controls = new QHBoxLayout;
    controls->addWidget(m_accountPopup, 1);
    controls->addWidget(m_servicePopup);
    controls->addWidget(m_button);
    m_progressIndicator->setRange(0, 0);
    m_progressIndicator->setTextVisible(false);
    m_progressIndicator->setMaximumWidth(80);
    m_progressIndicator->hide();
    controls->addWidget(m_progressIndicator);
    auto *layout = new QVBoxLayout(m_window.get());
    layout->addLayout(controls);
    layout->addWidget(m_textView);
    m_window->resize(760, 560);
    TDWWindowUtilities::centerFirstTime(m_window.get());
    connect(m_button, &QPushButton::clicked, this, &TDWListDiagnosticWindowController::handleRequestItemLists);

    populateAccounts();
    populateServices();
    TDWNotificationCenter &center = TDWNotificationCenter::defaultCenter();
    for (const QString &name : {QStringLiteral("newAccount"), QStringLiteral("deletedAccount")})
        center.addObserver(name, [this](const TDWNotification &) { populateAccounts(); }, this);
}

TDWListDiagnosticWindowController::~TDWListDiagnosticWindowController()
{
    if (m_curl)
        m_curl->cancel();
}

void TDWListDiagnosticWindowController::showWindow()
{
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void TDWListDiagnosticWindowController::populateAccounts()
{
    const QString selected = m_accountPopup->currentText();
    m_accountPopup->clear();
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const std::optional<QList<TDWAccount::Ptr>> accounts = moc ? TDWAccount::all(*moc, nullptr) : std::nullopt;
    QStringList usernames;
    for (const TDWAccount::Ptr &account : accounts.value_or(QList<TDWAccount::Ptr>()))
        usernames << account->username();
    usernames.sort();
    m_accountPopup->addItems(usernames);
    if (const int index = m_accountPopup->findText(selected); index >= 0)
        m_accountPopup->setCurrentIndex(index);
}

void TDWListDiagnosticWindowController::populateServices()
{
    m_servicePopup->clear();
    m_serviceIds.clear();
    for (const TDWServiceConfig &service : TDWServiceTable::shared().serviceConfigs()) {
        if (service.disabled || service.listUrls.isEmpty() || service.id != ListedService)
            continue;
        m_servicePopup->addItem(service.serviceLabel);
        m_serviceIds << service.id;
    }
}

void TDWListDiagnosticWindowController::handleRequestItemLists()
{
    m_textView->clear();
    m_button->setEnabled(false);
    m_progressIndicator->show();
    m_textView->setRunning(true);
    const QString username = m_accountPopup->currentText();
    if (username.isEmpty() || m_servicePopup->currentIndex() < 0) {
        addOutputString(QStringLiteral("Choose an account and a service first."));
        done();
        return;
    }
    m_tokenCheck->start(
        username, [this](const QString &token) { startAfterAuthWork(token); },
        [this](const QString &message) {
            addOutputString(message);
            done();
        });
}

void TDWListDiagnosticWindowController::startAfterAuthWork(const QString &accessToken)
{
    m_accessToken = accessToken.toUtf8();
    const TDWServiceConfig service = TDWServiceTable::shared().serviceConfig(m_serviceIds.value(m_servicePopup->currentIndex()));
    addOutputString(QStringLiteral("List diagnostic report.\nAccount: %1\nService: %2").arg(m_accountPopup->currentText(), service.serviceLabel));
    m_listUrls.clear();
    for (const TDWServiceConfig::ListUrl &entry : service.listUrls)
        m_listUrls << entry.url;
    m_listIndex = 0;
    m_pages = 0;
    if (m_listUrls.isEmpty()) {
        done();
        return;
    }
    startDownload(m_listUrls.first());
}

void TDWListDiagnosticWindowController::startDownload(const QString &url)
{
    ++m_pages;
    TDWCurlPageFetch::Request request;
    request.url = url;
    request.accessToken = m_accessToken;
    request.bearerHosts = TDWGoogleEndpoints::bearerHosts();
    request.failOnHttpError = false;
    request.includeHeaders = true;
    request.maxTime = PageTimeout;
    addOutputString(QStringLiteral("Executing command: %1").arg(TDWCurlPageFetch::displayCommand(request)));
    m_curl = TDWCurlPageFetch::operation(request);
    m_curl->start([this, url](const TDWError &, const TDWCurlPageFetch::Result &result) { curlDone(url, result); });
}

void TDWListDiagnosticWindowController::curlDone(const QString &url, const TDWCurlPageFetch::Result &result)
{
    m_curl.reset();
    // One text, as from one pipe: the page, then what curl had to say.
    addOutputString(QString::fromUtf8(result.body + result.errorOutput));
    QStringList notes;
    const QString next = nextUrl(result.body, url, &notes);
    for (const QString &note : std::as_const(notes))
        addOutputString(note);
    if (!next.isEmpty() && m_pages < MaxPages) {
        startDownload(next);
        return;
    }
    if (!next.isEmpty())
        addOutputString(QStringLiteral("Not following more than %1 pages.").arg(MaxPages));
    nextListUrl();
}

void TDWListDiagnosticWindowController::nextListUrl()
{
    ++m_listIndex;
    m_pages = 0;
    if (m_listIndex < m_listUrls.size()) {
        startDownload(m_listUrls.at(m_listIndex));
        return;
    }
    done();
}

QString TDWListDiagnosticWindowController::nextUrl(const QByteArray &page, const QString &pageUrl, QStringList *notes)
{
    const qsizetype end = page.indexOf("\r\n\r\n");
    if (end < 0) {
        notes->append(QStringLiteral("Did not find end of headers."));
        return {};
    }
    TDWXMLDocument document;
    if (!document.parse(page.mid(end + 4))) {
        notes->append(QStringLiteral("Unable to parse XML document: %1").arg(document.errorDescription()));
        return {};
    }
    notes->append(QStringLiteral("Parsed XML document."));
    QString next;
    for (const TDWXMLElement &link : document.rootElement().childrenNamed("link")) {
        if (link.attribute("rel") == QLatin1String("next"))
            next = link.attribute("href");
    }
    return next.isEmpty() ? QString() : QUrl(pageUrl).resolved(QUrl(next)).toString();
}

void TDWListDiagnosticWindowController::addOutputString(const QString &text)
{
    m_textView->addOutputString(text);
}

void TDWListDiagnosticWindowController::done()
{
    m_progressIndicator->hide();
    m_textView->setRunning(false);
    m_button->setEnabled(true);
}
