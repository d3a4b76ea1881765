#include "ui/TDWAccountFlowController.h"

#include "common/BKSNotUtils.h"
#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWMasterStore.h"
#include "mail/TDWMailPreflightOperation.h"
#include "platform/foundation/TDWLog.h"
#include "ui/BKSErrorAlerts.h"
#include "ui/TDWAccountViewController.h"
#include "ui/TDWAccountViewDelegate.h"
#include "ui/TDWAuthViewController.h"
#include "ui/TDWContentView.h"
#include "ui/TDWLabelViewController.h"

#include <QScopeGuard>
#include <QWidget>

TDWAccountFlowController::TDWAccountFlowController(QWidget *window, TDWAccountViewDelegate *delegate, const QString &accountUsername,
                                                   QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_delegate(delegate)
    , m_accountUsername(accountUsername)
{
}

TDWAccountFlowController::~TDWAccountFlowController()
{
    delete m_authViewController.data();
}

std::optional<TDWFoldersWithFlags> TDWAccountFlowController::foldersWithFlagsOf(const TDWPreflight *mailPreflightOperation)
{
    if (const auto *mail = dynamic_cast<const TDWMailPreflightOperation *>(mailPreflightOperation))
        return mail->foldersWithFlags();
    return std::nullopt;
}

TDWAuthViewController *TDWAccountFlowController::authViewController() const
{
    return m_authViewController;
}

void TDWAccountFlowController::populate()
{
    showAccountView();
}

void TDWAccountFlowController::populateForAuth()
{
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc) {
        tdwLog(QStringLiteral("ERROR: Unable to find account in TDWAccountFlowController populateForAuth."));
        return;
    }
    const auto reset = qScopeGuard([&moc] { moc->reset(); });
    const TDWAccount::Ptr account = TDWAccount::byUsername(m_accountUsername, *moc, nullptr);
    if (!account) {
        tdwLog(QStringLiteral("ERROR: Unable to find account in TDWAccountFlowController populateForAuth."));
        return;
    }
    QStringList serviceIds;
    for (const auto &setting : account->serviceSettings())
        if (setting->enabled())
            serviceIds << setting->service();
    showAuthViewFor(m_accountUsername, serviceIds);
}

QString TDWAccountFlowController::accountUsername() const
{
    if (!m_accountUsername.isEmpty())
        return m_accountUsername;
    return m_accountViewController ? m_accountViewController->accountUsername() : QString();
}

bool TDWAccountFlowController::canGoBackFromAccountView() const
{
    return m_delegate->canGoBackFromAccountView();
}

void TDWAccountFlowController::backFromAccountView()
{
    m_delegate->backFromAccountView();
}

void TDWAccountFlowController::cancelledAccountView()
{
    m_delegate->cancelAccountFlow();
}

void TDWAccountFlowController::showAccountView()
{
    if (!m_accountViewController) {
        m_accountViewController = std::make_unique<TDWAccountViewController>(this);
        TDWContentView::set(m_window, m_accountViewController->view());
        if (!m_accountUsername.isEmpty())
            m_accountViewController->showAccountForUsername(m_accountUsername);
        else
            m_accountViewController->showNewAccount();
        return;
    }
    TDWContentView::set(m_window, m_accountViewController->view());
    m_accountViewController->shownAgain();
}

void TDWAccountFlowController::doneAccountView(bool signInNeeded)
{
    if (signInNeeded) {
        showAuthView();
        return;
    }
    if (m_accountViewController->enabledForService(TDWServiceIds::Mail))
        showLabelView();
    else
        applySettings();
}

void TDWAccountFlowController::showAuthView()
{
    QStringList serviceIds;
    for (const TDWServiceConfig &config : TDWServiceTable::shared().serviceConfigs())
        if (m_accountViewController->enabledForService(config.id))
            serviceIds << config.id;
    showAuthViewFor(m_accountViewController->accountUsername(), serviceIds);
}

void TDWAccountFlowController::showAuthViewFor(const QString &username, const QStringList &serviceIds)
{
    if (m_authViewController)
        m_authViewController->deleteLater();
    m_authViewController = new TDWAuthViewController(this, username, serviceIds, this);
    TDWContentView::set(m_window, m_authViewController->view());
    m_authViewController->start();
}

void TDWAccountFlowController::doneAuthView(const std::optional<TDWFoldersWithFlags> &foldersWithFlags)
{
    if (!m_accountViewController || !m_accountViewController->enabledForService(TDWServiceIds::Mail)) {
        applySettings();
        return;
    }
    // The list of the check that has just passed, never that of a sign-in
    // abandoned earlier in this flow (which may have none, or an empty one).
    m_foldersWithFlags = foldersWithFlags;
    showLabelView();
}

void TDWAccountFlowController::backFromAuthView()
{
    showAccountView();
}

void TDWAccountFlowController::backFromAuthViewWithError(const QString &message)
{
    showAccountView();
    m_accountViewController->handleAuthFailureWithMessage(message);
}

void TDWAccountFlowController::showLabelViewOnExistingAccount()
{
    showLabelView();
}

void TDWAccountFlowController::doneLabelView()
{
    applySettings();
}

void TDWAccountFlowController::backFromLabelView()
{
    showAccountView();
}

void TDWAccountFlowController::showLabelView()
{
    const QString username = m_accountViewController->accountUsername();
    if (!m_labelViewController || m_labelViewController->username() != username) {
        m_labelViewController = m_foldersWithFlags ? std::make_unique<TDWLabelViewController>(this, username, *m_foldersWithFlags)
                                                   : std::make_unique<TDWLabelViewController>(this, username);
    } else if (m_foldersWithFlags) {
        m_labelViewController->setFoldersWithFlags(*m_foldersWithFlags);
    }
    TDWContentView::set(m_window, m_labelViewController->view());
}

void TDWAccountFlowController::applySettings()
{
    if (m_accountViewController && !m_accountViewController->applySettings()) {
        // A finished sign-in view has nothing left to press, Cancel included:
        // the user stays on the account view instead.
        if (TDWContentView::current(m_window) != m_accountViewController->view())
            showAccountView();
        BKSErrorAlerts::showError(tr("Unable to save the account entry."), m_window);
        return;
    }
    if (m_labelViewController && m_accountViewController && m_accountViewController->enabledForService(TDWServiceIds::Mail)
        && !m_labelViewController->applySettings())
        BKSErrorAlerts::showError(tr("Unable to save excluded labels."));
    const QString username = m_accountViewController ? m_accountViewController->accountUsername() : m_accountUsername;
    BKSNotUtils::postNotificationName(m_accountUsername.isEmpty() ? QStringLiteral("newAccount") : QStringLiteral("accountUpdate"), this,
                                      {{QStringLiteral("accountUsername"), username}});
    m_delegate->doneAccountFlow();
}
