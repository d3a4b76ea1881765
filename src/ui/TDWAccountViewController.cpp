#include "ui/TDWAccountViewController.h"

#include "accounts/TDWAccessTokenRetriever.h"
#include "accounts/TDWAccountEmailAddressRetriever.h"
#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "accounts/TDWPreflightMgr.h"
#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "ui/TDWAccountFlowController.h"
#include "ui/TDWSheetButtons.h"
#include "ui/TDWUIUtilities.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

namespace {

// The services this view has a check box for, in the order shown.
const QStringList CheckboxServices = {TDWServiceIds::Mail, TDWServiceIds::Contacts, TDWServiceIds::Calendar,
                                      TDWServiceIds::Tasks, TDWServiceIds::Docs};
// The status handed to the save of an account not stored yet.
constexpr qint64 NewAccountStatus = -1;
// The Drive choice's button ids.
constexpr int AllGoogleDocs = 0;
constexpr int LimitGoogleDocs = 1;
// The maker's page on the Gmail settings that mail backup needs.
const QUrl RequiredImapSettingsPage(QStringLiteral("https://www.tidewell.org/enableimap/"));

} // namespace

TDWAccountViewController::TDWAccountViewController(TDWAccountFlowController *flow, QObject *parent)
    : QObject(parent)
    , m_flow(flow)
    , m_view(new QWidget)
{
    buildView();
    m_backButton->setVisible(m_flow->canGoBackFromAccountView());
}

TDWAccountViewController::~TDWAccountViewController()
{
    // The window may have taken the view down with it already.
    delete m_view.data();
}

void TDWAccountViewController::buildView()
{
    auto *title = new QLabel(tr("Google Account"));
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
    title->setFont(titleFont);

    m_usernameField = new QLineEdit;
    m_usernameField->setObjectName(QStringLiteral("usernameField"));
    m_usernameField->setPlaceholderText(tr("name@gmail.com"));
    connect(m_usernameField, &QLineEdit::textChanged, this, &TDWAccountViewController::usernameTextChanged);
    connect(m_usernameField, &QLineEdit::editingFinished, this, &TDWAccountViewController::usernameEditingFinished);
    m_usernameLabel = new QLabel;
    m_usernameLabel->setObjectName(QStringLiteral("usernameLabel"));
    auto *username = new QVBoxLayout;
    username->addWidget(m_usernameField);
    username->addWidget(m_usernameLabel);

    const QStringList titles = {tr("Gmail"), tr("Contacts"), tr("Calendar"), tr("Tasks"), tr("Google Drive")};
    auto *services = new QVBoxLayout;
    for (qsizetype i = 0; i < CheckboxServices.size(); ++i) {
        auto *checkbox = new QCheckBox(titles[i]);
        checkbox->setObjectName(CheckboxServices[i]);
        connect(checkbox, &QCheckBox::clicked, this, [this, checkbox] { enabledCheckboxClicked(checkbox); });
        m_enabledCheckboxesByService.insert(CheckboxServices[i], checkbox);
        services->addWidget(checkbox);
    }
    m_limitedGoogleDocsRadioGroup = new QButtonGroup(this);
    auto *allDocs = new QRadioButton(tr("Back up every file"));
    allDocs->setObjectName(QStringLiteral("allGoogleDocs"));
    auto *limitDocs = new QRadioButton(tr("Back up only Google Docs, Sheets, Slides and Drawings"));
    limitDocs->setObjectName(QStringLiteral("limitGoogleDocs"));
    m_limitedGoogleDocsRadioGroup->addButton(allDocs, AllGoogleDocs);
    m_limitedGoogleDocsRadioGroup->addButton(limitDocs, LimitGoogleDocs);
    auto *docsChoice = new QVBoxLayout;
    docsChoice->setContentsMargins(24, 0, 0, 0);
    docsChoice->addWidget(allDocs);
    docsChoice->addWidget(limitDocs);
    services->addLayout(docsChoice);

    m_labelButton = new QPushButton(tr("Gmail Labels…"));
    m_labelButton->setObjectName(QStringLiteral("labels"));
    connect(m_labelButton, &QPushButton::clicked, m_flow, &TDWAccountFlowController::showLabelViewOnExistingAccount);
    m_requiredImapSettingsButton = new QPushButton(tr("Required Gmail Settings…"));
    m_requiredImapSettingsButton->setObjectName(QStringLiteral("requiredImapSettings"));
    connect(m_requiredImapSettingsButton, &QPushButton::clicked, this, &TDWAccountViewController::showRequiredImapSettings);
    auto *mailButtons = new QHBoxLayout;
    mailButtons->addWidget(m_labelButton);
    mailButtons->addWidget(m_requiredImapSettingsButton);
    mailButtons->addStretch();
    services->addLayout(mailButtons);

    auto *form = new QFormLayout;
    form->addRow(tr("Account:"), username);
    form->addRow(tr("Back up:"), services);

    m_errorImageView = new QLabel;
    m_errorImageView->setObjectName(QStringLiteral("errorImage"));
    const int iconSize = m_view->style()->pixelMetric(QStyle::PM_SmallIconSize);
    m_errorImageView->setPixmap(m_view->style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(iconSize, iconSize));
    m_progressIndicator = new QProgressBar;
    m_progressIndicator->setObjectName(QStringLiteral("progress"));
    m_progressIndicator->setRange(0, 0);
    m_progressIndicator->setTextVisible(false);
    m_progressIndicator->setMaximumSize(60, 12);
    m_progressIndicator->hide();
    m_statusTextLabel = new QLabel;
    m_statusTextLabel->setObjectName(QStringLiteral("statusText"));
    m_statusTextLabel->setWordWrap(true);
    auto *status = new QHBoxLayout;
    status->addWidget(m_errorImageView);
    status->addWidget(m_progressIndicator);
    status->addWidget(m_statusTextLabel, 1);

    const TDWSheetButtons buttons;
    m_continueButton = buttons.continueButton;
    m_backButton = buttons.backButton;
    m_cancelButton = buttons.cancelButton;
    connect(m_continueButton, &QPushButton::clicked, this, &TDWAccountViewController::continueAccountSheet);
    // Return in the address field is Continue (a disabled button ignores it).
    connect(m_usernameField, &QLineEdit::returnPressed, m_continueButton, &QPushButton::click);
    connect(m_backButton, &QPushButton::clicked, m_flow, &TDWAccountFlowController::backFromAccountView);
    connect(m_cancelButton, &QPushButton::clicked, m_flow, &TDWAccountFlowController::cancelledAccountView);

    auto *layout = new QVBoxLayout(m_view);
    layout->addWidget(title);
    layout->addLayout(form);
    layout->addStretch();
    layout->addLayout(status);
    layout->addWidget(buttons.box);
}

// ---------------------------------------------------------------------------
// Shown by the flow

void TDWAccountViewController::showNewAccount()
{
    m_existingAccount = false;
    resetSheet();
    m_usernameField->clear();
    m_usernameField->show();
    m_usernameLabel->hide();
    for (QCheckBox *checkbox : std::as_const(m_enabledCheckboxesByService))
        checkbox->setChecked(true);
    for (QAbstractButton *button : m_limitedGoogleDocsRadioGroup->buttons())
        button->setEnabled(true);
    m_usernameField->setFocus();
    m_requiredImapSettingsButton->show();
    m_continueButton->setEnabled(false);
    m_limitedGoogleDocsRadioGroup->button(AllGoogleDocs)->setChecked(true);
    m_currentAccountStatus = NewAccountStatus;
}

void TDWAccountViewController::showAccountForUsername(const QString &username)
{
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const TDWAccount::Ptr account = moc ? TDWAccount::byUsername(username, *moc, nullptr) : nullptr;
    m_existingAccount = account != nullptr;
    resetSheet();
    // Before the labels button shows: typing in the field disables it.
    m_usernameLabel->setText(username);
    m_usernameField->setText(username);
    m_usernameField->hide();
    m_usernameLabel->show();
    if (account && account->enabledForService(TDWServiceIds::Mail))
        m_labelButton->show();
    for (auto it = m_enabledCheckboxesByService.cbegin(); it != m_enabledCheckboxesByService.cend(); ++it)
        it.value()->setChecked(account && account->enabledForService(it.key()));
    const bool docs = enabledForService(TDWServiceIds::Docs);
    for (QAbstractButton *button : m_limitedGoogleDocsRadioGroup->buttons())
        button->setEnabled(docs);
    m_limitedGoogleDocsRadioGroup->button(account && account->limitGoogleDocs() ? LimitGoogleDocs : AllGoogleDocs)->setChecked(true);
    m_currentAccountStatus = account ? account->lastStatus() : NewAccountStatus;
    m_continueButton->setEnabled(true);
    m_backButton->setEnabled(true);
    if (moc)
        moc->reset();
}

void TDWAccountViewController::shownAgain()
{
    m_usernameField->setFocus();
    m_continueButton->setEnabled(true);
    m_cancelButton->setEnabled(true);
}

QString TDWAccountViewController::accountUsername() const
{
    return m_usernameField->text();
}

bool TDWAccountViewController::enabledForService(const QString &service) const
{
    const QCheckBox *checkbox = m_enabledCheckboxesByService.value(service);
    return checkbox && checkbox->isChecked();
}

void TDWAccountViewController::handleAuthFailureWithMessage(const QString &message)
{
    showError(message);
}

// ---------------------------------------------------------------------------
// Controls

void TDWAccountViewController::setControlsEnabled(bool enabled)
{
    m_usernameField->setEnabled(enabled);
    for (QCheckBox *checkbox : std::as_const(m_enabledCheckboxesByService))
        checkbox->setEnabled(enabled);
    m_continueButton->setEnabled(enabled);
    m_backButton->setEnabled(enabled);
    m_cancelButton->setEnabled(enabled);
}

void TDWAccountViewController::resetSheet()
{
    m_statusTextLabel->hide();
    m_errorImageView->hide();
    setControlsEnabled(true);
    m_labelButton->hide();
    m_labelButton->setEnabled(true);
    m_requiredImapSettingsButton->hide();
    m_requiredImapSettingsButton->setEnabled(true);
}

QStringList TDWAccountViewController::selectedServiceIds() const
{
    QStringList ids;
    for (const TDWServiceConfig &config : TDWServiceTable::shared().serviceConfigs())
        if (enabledForService(config.id))
            ids << config.id;
    return ids;
}

bool TDWAccountViewController::enabledForAnyService() const
{
    return std::any_of(m_enabledCheckboxesByService.cbegin(), m_enabledCheckboxesByService.cend(),
                       [](const QCheckBox *checkbox) { return checkbox->isChecked(); });
}

void TDWAccountViewController::usernameTextChanged()
{
    m_continueButton->setEnabled(m_existingAccount || !m_usernameField->text().isEmpty());
    if (!m_labelButton->isHidden())
        m_labelButton->setEnabled(false);
    m_errorImageView->hide();
    m_statusTextLabel->hide();
}

void TDWAccountViewController::usernameEditingFinished()
{
    TDWUIUtilities::fixUsernameField(m_usernameField);
}

void TDWAccountViewController::enabledCheckboxClicked(QCheckBox *checkbox)
{
    const QString service = m_enabledCheckboxesByService.key(checkbox);
    if (service == TDWServiceIds::Mail) {
        const bool labelsShown = !m_labelButton->isHidden();
        if (labelsShown)
            m_labelButton->setEnabled(false);
        if (!checkbox->isChecked())
            m_requiredImapSettingsButton->hide();
        else if (!labelsShown)
            m_requiredImapSettingsButton->show();
    } else if (service == TDWServiceIds::Docs) {
        for (QAbstractButton *button : m_limitedGoogleDocsRadioGroup->buttons())
            button->setEnabled(checkbox->isChecked());
    }
}

void TDWAccountViewController::showRequiredImapSettings()
{
    QDesktopServices::openUrl(RequiredImapSettingsPage);
}

void TDWAccountViewController::startVerifying()
{
    m_errorImageView->hide();
    m_progressIndicator->show();
    setControlsEnabled(false);
    showStatusText(tr("Verifying access…"));
}

void TDWAccountViewController::stopVerifying()
{
    m_progressIndicator->hide();
    m_statusTextLabel->hide();
    setControlsEnabled(true);
}

void TDWAccountViewController::showStatusText(const QString &message)
{
    m_statusTextLabel->setText(message);
    m_statusTextLabel->show();
}

void TDWAccountViewController::showError(const QString &message)
{
    showStatusText(message);
    m_errorImageView->show();
}

// ---------------------------------------------------------------------------
// Continue: save as it is, check access with the stored credential, or sign in

void TDWAccountViewController::continueAccountSheet()
{
    if (!m_existingAccount) {
        TDWUIUtilities::fixUsernameField(m_usernameField);
        if (m_usernameField->text().isEmpty()) {
            m_continueButton->setEnabled(false);
            return;
        }
        const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
        TDWError error;
        const TDWAccount::Ptr duplicate = moc ? TDWAccount::byUsername(accountUsername(), *moc, &error) : nullptr;
        if (moc)
            moc->reset();
        if (!duplicate && (!moc || !error.isNull())) {
            tdwLog(QStringLiteral("ERROR: Unable to perform duplicate check: %1").arg(error.localizedDescription()));
            showStatusText(tr("Error adding account."));
            return;
        }
        if (duplicate) {
            showStatusText(tr("This account is already in the list."));
            return;
        }
    }

    if (!enabledForAnyService()) {
        m_currentAccountStatus = TDWAccount::NoServiceEnabledStatus;
        setControlsEnabled(true);
        m_flow->doneAccountView(false);
        return;
    }

    const std::shared_ptr<TDWCredential> credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(accountUsername());
    if (!credential || !credential->validForServiceIds(selectedServiceIds()) || credential->refreshTokenInvalid()) {
        setControlsEnabled(true);
        m_flow->doneAccountView(true);
        return;
    }
    startVerifying();
    if (credential->accessTokenExpired()) {
        m_accessTokenRetriever = std::make_unique<TDWAccessTokenRetriever>(accountUsername(), static_cast<TDWAccessTokenDelegate *>(this));
        m_accessTokenRetriever->dontNotifyIfFail();
        m_accessTokenRetriever->start();
        return;
    }
    m_emailAddressRetriever = std::make_unique<TDWAccountEmailAddressRetriever>(
        credential->accessToken(), static_cast<TDWAccountEmailAddressRetrieverDelegate *>(this));
    m_emailAddressRetriever->start();
}

void TDWAccountViewController::startPreflight(const QString &accessToken)
{
    m_preflightMgr = std::make_unique<TDWPreflightMgr>(accountUsername(), accessToken, selectedServiceIds(),
                                                      static_cast<TDWPreflightDelegate *>(this));
    m_preflightMgr->start();
}

void TDWAccountViewController::accessTokenRetrieverReceivedAccessToken(TDWAccessTokenRetriever *, const QString &accessToken)
{
    startPreflight(accessToken);
}

void TDWAccountViewController::accessTokenRetrieverEncounteredError(TDWAccessTokenRetriever *, const TDWError &error)
{
    tdwLog(QStringLiteral("ERROR: Unable to get an access token: %1").arg(error.localizedDescription()));
    stopVerifying();
    m_flow->doneAccountView(true);
}

void TDWAccountViewController::emailAddressRetrieverReceivedEmailAddress(TDWAccountEmailAddressRetriever *, const QString &address)
{
    if (address != accountUsername()) {
        tdwLog(QStringLiteral("ERROR: Got mismatched email address in TDWAccountViewController."));
        stopVerifying();
        m_flow->doneAccountView(true);
        return;
    }
    const std::shared_ptr<TDWCredential> credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(accountUsername());
    if (!credential) {
        // Gone from the keyring while its token was being checked.
        stopVerifying();
        m_flow->doneAccountView(true);
        return;
    }
    startPreflight(credential->accessToken());
}

void TDWAccountViewController::emailAddressRetrieverEncounteredAuthorizationError(TDWAccountEmailAddressRetriever *)
{
    stopVerifying();
    m_flow->doneAccountView(true);
}

void TDWAccountViewController::emailAddressRetrieverEncounteredError(TDWAccountEmailAddressRetriever *, const TDWError &error)
{
    stopVerifying();
    showError(error.localizedDescription());
}

void TDWAccountViewController::handlePreflightSuccess()
{
    const std::optional<TDWFoldersWithFlags> foldersWithFlags
        = TDWAccountFlowController::foldersWithFlagsOf(m_preflightMgr->mailPreflightOperation());
    // Enabled again, so that Cancel works should saving fail.
    stopVerifying();
    m_errorImageView->hide();
    m_flow->doneAuthView(foldersWithFlags);
}

void TDWAccountViewController::handlePreflightFailure(const TDWError &error)
{
    stopVerifying();
    showError(error.localizedDescription());
}

// ---------------------------------------------------------------------------
// Saving

bool TDWAccountViewController::applySettings()
{
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc)
        return false;
    QStringList enabledServices;
    for (const QString &service : CheckboxServices)
        if (enabledForService(service))
            enabledServices << service;
    const bool limit = m_limitedGoogleDocsRadioGroup->checkedId() == LimitGoogleDocs;
    const auto status = static_cast<qint32>(m_currentAccountStatus);
    // Accounts signed in with OAuth have no password: none is passed on.
    const bool saved = m_existingAccount
        ? TDWAccount::updateAccountWithUsername(accountUsername(), QString(), status, enabledServices, limit, *moc)
        : TDWAccount::addAccountWithUsername(accountUsername(), QString(), status, enabledServices, limit, *moc);
    moc->reset();
    return saved;
}
