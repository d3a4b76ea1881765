#include "prefs/TDWAccountPrefController.h"

#include "accounts/TDWKeychainMgr.h"
#include "common/TDWServiceTable.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWMainThread.h"
#include "platform/foundation/TDWWorkerPool.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "prefs/TDWAccountDeleteConfirmationWindowController.h"
#include "prefs/TDWAccountPrefCellView.h"
#include "prefs/TDWAccountTable.h"
#include "ui/TDWAccountFlowController.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QVBoxLayout>

namespace {

QString usernameOf(const TDWNotification &notification)
{
    return notification.userInfo().value(QStringLiteral("accountUsername")).toString();
}

TDWAccountPrefController::SignIn lookUp(const QString &username)
{
    TDWKeychainLookup outcome = TDWKeychainLookup::NotFound;
    const std::shared_ptr<TDWCredential> credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(username, &outcome);
    if (outcome == TDWKeychainLookup::Unavailable)
        return TDWAccountPrefController::SignIn::KeyringUnavailable;
    if (!credential || credential->refreshTokenInvalid())
        return TDWAccountPrefController::SignIn::Required;
    return TDWAccountPrefController::SignIn::Valid;
}

} // namespace

TDWAccountPrefController::TDWAccountPrefController()
    : m_view(new QWidget)
    , m_tableView(new TDWAccountTable)
    , m_addButton(new QPushButton(tr("Add Account…")))
{
    // Goes with its view.
    setParent(m_view);
    m_view->setObjectName(QStringLiteral("accountsPane"));
    m_addButton->setObjectName(QStringLiteral("addButton"));
    auto *layout = new QVBoxLayout(m_view);
    layout->addWidget(new QLabel(tr("Tidewell backs up these Google accounts:")));
    layout->addWidget(m_tableView);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_addButton);
    buttons->addStretch();
    layout->addLayout(buttons);
    m_view->setMinimumSize(520, 320);

    connect(m_addButton, &QPushButton::clicked, this, &TDWAccountPrefController::showNewAccountSheet);
    connect(m_tableView, &QTableWidget::cellDoubleClicked, this, &TDWAccountPrefController::showEditAccountSheet);
    connect(m_tableView, &TDWAccountTable::editRequested, this, &TDWAccountPrefController::showEditAccountSheet);
    connect(m_tableView, &TDWAccountTable::editFromMenuRequested, this, &TDWAccountPrefController::showEditAccountSheet);
    connect(m_tableView, &TDWAccountTable::deleteRequested, this, &TDWAccountPrefController::deleteAccount);
    connect(m_tableView, &TDWAccountTable::deleteFromMenuRequested, this, &TDWAccountPrefController::deleteAccount);

    loadAccountUsernameList();
    reloadTable();
    TDWNotificationCenter &center = TDWNotificationCenter::defaultCenter();
    for (const char *name : {"newAccount", "deletedAccount"})
        center.addObserver(QString::fromLatin1(name), [this](const TDWNotification &) { accountListChanged(); }, this);
    for (const char *name : {"accountUpdate", "not_needs_auth_change"})
        center.addObserver(QString::fromLatin1(name), [this](const TDWNotification &n) { accountUpdated(usernameOf(n)); }, this);
}

TDWAccountPrefController::~TDWAccountPrefController()
{
    // The flow's views leave the sheet before the sheet goes.
    m_accountFlowController.reset();
    delete m_accountSheet;
    delete m_deleteConfirmationWindowController;
}

void TDWAccountPrefController::loadAccountUsernameList()
{
    QStringList usernames;
    if (std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc()) {
        const auto reset = qScopeGuard([&moc] { moc->reset(); });
        if (const auto accounts = TDWAccount::all(*moc, nullptr))
            for (const TDWAccount::Ptr &account : *accounts)
                usernames << account->username();
    }
    m_accountUsernames = usernames;
}

void TDWAccountPrefController::reloadTable()
{
    const QString selected = selectedUsername();
    m_tableView->setRowCount(0);
    m_tableView->setRowCount(int(m_accountUsernames.size()));
    for (int row = 0; row < m_accountUsernames.size(); ++row)
        reloadRow(row);
    if (!selected.isEmpty())
        selectUsername(selected);
}

TDWAccountPrefCellView *TDWAccountPrefController::rowView(int row) const
{
    return qobject_cast<TDWAccountPrefCellView *>(m_tableView->cellWidget(row, 0));
}

void TDWAccountPrefController::reloadRow(int row)
{
    const QString username = m_accountUsernames.value(row);
    QStringList labels;
    if (std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc()) {
        const auto reset = qScopeGuard([&moc] { moc->reset(); });
        if (const TDWAccount::Ptr account = TDWAccount::byUsername(username, *moc, nullptr))
            for (const TDWServiceConfig &service : TDWServiceTable::shared().serviceConfigs())
                if (account->enabledForService(service.id))
                    labels << service.serviceLabel;
    }
    // Updated in place: a replaced row view would linger until the event loop deletes it.
    TDWAccountPrefCellView *cell = rowView(row);
    if (!cell || cell->objectValue() != username) {
        cell = new TDWAccountPrefCellView(username);
        connect(cell, &TDWAccountPrefCellView::editClicked, this, &TDWAccountPrefController::handleEditClick);
        m_tableView->setCellWidget(row, 0, cell);
    }
    const SignIn signIn = signInState(username);
    if (labels.isEmpty())
        cell->setServicesText(tr("Disabled"), false);
    else if (signIn == SignIn::Required)
        cell->setServicesText(tr("Login required"), true);
    else if (signIn == SignIn::KeyringUnavailable)
        cell->setServicesText(tr("Keyring unavailable"), false);
    else
        cell->setServicesText(labels.join(QStringLiteral(", ")), false);
    if (!m_signIn.contains(username))
        lookUpSignIn(username);
}

void TDWAccountPrefController::lookUpSignIn(const QString &username)
{
    // One question at a time per account; a change meanwhile asks again after it.
    if (m_lookingUp.contains(username)) {
        m_lookUpAgain.insert(username);
        return;
    }
    m_lookingUp.insert(username);
    QPointer<TDWAccountPrefController> self(this);
    TDWWorkerPool::shared().run([self, username] {
        const SignIn answer = lookUp(username);
        TDWMainThread::post([self, username, answer] {
            if (!self)
                return;
            self->m_lookingUp.remove(username);
            self->m_signIn.insert(username, answer);
            if (const qsizetype row = self->m_accountUsernames.indexOf(username); row >= 0)
                self->reloadRow(int(row));
            emit self->signInStateChanged(username);
            if (self->m_lookUpAgain.remove(username))
                self->lookUpSignIn(username);
        });
    });
}

void TDWAccountPrefController::accountListChanged()
{
    loadAccountUsernameList();
    reloadTable();
}

void TDWAccountPrefController::accountUpdated(const QString &username)
{
    const qsizetype row = m_accountUsernames.indexOf(username);
    if (row < 0)
        return;
    reloadRow(int(row));
    lookUpSignIn(username);
}

QString TDWAccountPrefController::selectedUsername() const
{
    const QModelIndexList rows = m_tableView->selectionModel()->selectedRows();
    return rows.isEmpty() ? QString() : m_accountUsernames.value(rows.first().row());
}

void TDWAccountPrefController::selectUsername(const QString &username)
{
    const qsizetype row = m_accountUsernames.indexOf(username);
    if (row < 0)
        return;
    m_tableView->clearSelection();
    m_tableView->selectRow(int(row));
}

void TDWAccountPrefController::openAccountSheet(const QString &username, bool forAuth)
{
    if (!m_accountSheet) {
        m_accountSheet = new QDialog(m_view->window());
        m_accountSheet->setObjectName(QStringLiteral("accountSheet"));
        m_accountSheet->setWindowModality(Qt::WindowModal);
        m_accountSheet->resize(560, 420);
        // Escape: the flow, with its sign-in under way, goes.
        connect(m_accountSheet, &QDialog::rejected, this, [this] { m_accountFlowController.reset(); });
    }
    m_accountFlowController = std::make_unique<TDWAccountFlowController>(m_accountSheet, this, username);
    if (forAuth)
        m_accountFlowController->populateForAuth();
    else
        m_accountFlowController->populate();
    m_accountSheet->setWindowTitle(username.isEmpty() ? tr("Add Account") : username);
    m_accountSheet->open();
}

void TDWAccountPrefController::showNewAccountSheet()
{
    openAccountSheet(QString(), false);
}

void TDWAccountPrefController::showEditAccountSheet()
{
    const QString username = selectedUsername();
    if (!username.isEmpty())
        openAccountSheet(username, false);
}

void TDWAccountPrefController::handleEditClick(const QString &username)
{
    selectUsername(username);
    openAccountSheet(username, false);
}

void TDWAccountPrefController::showAuthForUsername(const QString &username)
{
    selectUsername(username);
    openAccountSheet(username, true);
}

void TDWAccountPrefController::deleteAccount()
{
    const QString username = selectedUsername();
    if (username.isEmpty())
        return;
    bool enabled = false;
    if (std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc()) {
        const auto reset = qScopeGuard([&moc] { moc->reset(); });
        const TDWAccount::Ptr account = TDWAccount::byUsername(username, *moc, nullptr);
        if (!account)
            return;
        enabled = account->enabledForAnyService();
    }
    if (m_deleteConfirmationWindowController)
        m_deleteConfirmationWindowController->deleteLater();
    m_deleteConfirmationWindowController = new TDWAccountDeleteConfirmationWindowController(username, enabled, m_view->window());
    m_deleteConfirmationWindowController->setAttribute(Qt::WA_DeleteOnClose);
    m_deleteConfirmationWindowController->open();
}

void TDWAccountPrefController::cancelAccountFlow()
{
    if (m_accountSheet)
        m_accountSheet->hide();
}

void TDWAccountPrefController::doneAccountFlow()
{
    if (m_accountSheet)
        m_accountSheet->hide();
}
