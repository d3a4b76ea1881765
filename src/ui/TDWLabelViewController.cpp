#include "ui/TDWLabelViewController.h"

#include "accounts/TDWAccessTokenRetriever.h"
#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "common/BKSNotUtils.h"
#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMailFolder.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "mail/TDWImapConnectionMgr.h"
#include "mail/TDWMailUtils.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/imap/TDWImapSession.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "ui/BKSErrorAlerts.h"
#include "ui/TDWAccountFlowController.h"
#include "ui/TDWSheetButtons.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace std::chrono_literals;

namespace {

constexpr int RowHeight = 18;
constexpr int LabelIndent = 20;

TDWPersistentStorePtr mailStoreFor(const QString &username)
{
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    return storeMgr ? storeMgr->storeForAccountUsername(username, TDWServiceIds::Mail) : nullptr;
}

// The account in a fresh context, which the caller resets.
TDWAccount::Ptr fetchAccount(const QString &username, TDWManagedObjectContext *moc)
{
    return moc ? TDWAccount::byUsername(username, *moc, nullptr) : nullptr;
}

// The current mail folders of the store, by folder path; none without a store.
QList<TDWMailFolder::Ptr> currentFolders(const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc)
{
    if (!store)
        return {};
    return TDWMailFolder::byStore(store, QDateTime(), moc, nullptr).value_or(QList<TDWMailFolder::Ptr>());
}

} // namespace

TDWLabelViewController::TDWLabelViewController(TDWAccountFlowController *flow, const QString &username,
                                               std::optional<TDWFoldersWithFlags> foldersWithFlags, QObject *parent)
    : QObject(parent)
    , m_flow(flow)
    , m_view(new QWidget)
    , m_username(username)
    , m_foldersWithFlags(std::move(foldersWithFlags))
    , m_refreshTimeout(TDWClock::duration(60s))
{
}

TDWLabelViewController::TDWLabelViewController(TDWAccountFlowController *flow, const QString &username, QObject *parent)
    : TDWLabelViewController(flow, username, std::nullopt, parent)
{
    m_existingAccount = true;
    m_accountServiceStore = mailStoreFor(m_username);
    retrieveLabelsFromDataStore();
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const TDWAccount::Ptr account = fetchAccount(m_username, moc.get());
    m_autoAddNewLabels = account && account->autoAddNewLabels();
    m_backupUnlabeled = account && account->backupUnlabeled();
    if (moc)
        moc->reset();
    buildView();
}

TDWLabelViewController::TDWLabelViewController(TDWAccountFlowController *flow, const QString &username,
                                               const TDWFoldersWithFlags &foldersWithFlags, QObject *parent)
    : TDWLabelViewController(flow, username, std::optional(foldersWithFlags), parent)
{
    m_userLabels = TDWMailUtils::userLabelsBasedOnFoldersWithFlags(foldersWithFlags);
    QSet<QString> knownPaths;
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const TDWAccount::Ptr account = fetchAccount(m_username, moc.get());
    if (account) {
        m_existingAccount = true;
        m_accountServiceStore = mailStoreFor(m_username);
        for (const TDWMailFolder::Ptr &folder : currentFolders(m_accountServiceStore, *moc)) {
            knownPaths.insert(folder->folderPath());
            if (folder->backup() && folder->folderType() == TDWMailFolder::LabelFolderType)
                m_includedUserLabels.insert(folder->folderPath());
        }
    }
    if (!account || account->autoAddNewLabels()) {
        for (const QString &label : std::as_const(m_userLabels))
            if (!knownPaths.contains(label))
                m_includedUserLabels.insert(label);
    }
    // A stored account keeps its own choices; a new one starts with everything on.
    m_autoAddNewLabels = !account || account->autoAddNewLabels();
    m_backupUnlabeled = !account || account->backupUnlabeled();
    if (moc)
        moc->reset();
    buildView();
}

TDWLabelViewController::~TDWLabelViewController()
{
    TDWNotificationCenter::defaultCenter().removeObserver(m_labelsChangedObserver);
    stopRefreshRequest();
    // The window may have taken the view down with it already.
    delete m_view.data();
}

// ---------------------------------------------------------------------------
// The view

void TDWLabelViewController::buildView()
{
    const qsizetype forced = TDWServiceTable::shared().forcedMailLabels().size();
    m_unlabeledIndex = forced;
    m_allUserLabelsIndex = forced + 1;
    m_firstLabelIndex = forced + 2;

    m_titleField = new QLabel(tr("Choose the Gmail labels to back up for %1:").arg(m_username));
    m_titleField->setObjectName(QStringLiteral("titleField"));
    m_titleField->setWordWrap(true);
    QFont titleFont = m_titleField->font();
    titleFont.setBold(true);
    m_titleField->setFont(titleFont);

    m_labelTable = new QTableWidget(0, 1);
    m_labelTable->setObjectName(QStringLiteral("labelTable"));
    m_labelTable->horizontalHeader()->hide();
    m_labelTable->horizontalHeader()->setStretchLastSection(true);
    m_labelTable->verticalHeader()->hide();
    m_labelTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_labelTable->verticalHeader()->setDefaultSectionSize(RowHeight);
    m_labelTable->setSelectionMode(QAbstractItemView::NoSelection);
    m_labelTable->setFocusPolicy(Qt::NoFocus);
    m_labelTable->setShowGrid(false);
    m_labelTable->setEditTriggers(QAbstractItemView::NoEditTriggers);

    m_autoAddNewLabelsCheckbox = new QCheckBox(tr("Back up new labels automatically"));
    m_autoAddNewLabelsCheckbox->setObjectName(QStringLiteral("autoAddNewLabels"));
    m_autoAddNewLabelsCheckbox->setChecked(m_autoAddNewLabels);
    connect(m_autoAddNewLabelsCheckbox, &QCheckBox::clicked, this, [this](bool on) { m_autoAddNewLabels = on; });

    m_refreshLabelButton = new QPushButton(tr("Refresh Labels"));
    m_refreshLabelButton->setObjectName(QStringLiteral("refreshLabels"));
    connect(m_refreshLabelButton, &QPushButton::clicked, this, &TDWLabelViewController::refreshLabelButtonClicked);
    m_refreshingProgressIndicator = new QProgressBar;
    m_refreshingProgressIndicator->setObjectName(QStringLiteral("refreshing"));
    m_refreshingProgressIndicator->setRange(0, 0);
    m_refreshingProgressIndicator->setTextVisible(false);
    m_refreshingProgressIndicator->setMaximumSize(60, 12);
    auto *options = new QHBoxLayout;
    options->addWidget(m_autoAddNewLabelsCheckbox);
    options->addStretch();
    options->addWidget(m_refreshingProgressIndicator);
    options->addWidget(m_refreshLabelButton);

    const TDWSheetButtons buttons;
    m_continueButton = buttons.continueButton;
    m_backButton = buttons.backButton;
    m_cancelButton = buttons.cancelButton;
    connect(m_continueButton, &QPushButton::clicked, m_flow, &TDWAccountFlowController::doneLabelView);
    connect(m_backButton, &QPushButton::clicked, m_flow, &TDWAccountFlowController::backFromLabelView);
    connect(m_cancelButton, &QPushButton::clicked, m_flow, &TDWAccountFlowController::cancelledAccountView);

    auto *layout = new QVBoxLayout(m_view);
    layout->addWidget(m_titleField);
    layout->addWidget(m_labelTable, 1);
    layout->addLayout(options);
    layout->addWidget(buttons.box);

    m_timeoutTimer = new QTimer(this);
    m_timeoutTimer->setSingleShot(true);
    connect(m_timeoutTimer, &QTimer::timeout, this, &TDWLabelViewController::refreshTimedOut);

    m_labelsChangedObserver = TDWNotificationCenter::defaultCenter().addObserver(
        QStringLiteral("mailfolderlistchanged"), [this](const TDWNotification &notification) { labelsChanged(notification); }, this);

    setRefreshing(false);
    // Back leads to the account view only where the sheet's owner lets it go back.
    m_backButton->setVisible(m_flow->canGoBackFromAccountView());
    reloadTable();
}

void TDWLabelViewController::reloadTable()
{
    m_labelTable->setRowCount(0);
    for (const TDWSpecialMailLabel &label : TDWServiceTable::shared().forcedMailLabels())
        addRow(label.label, "forced", false, false)->setChecked(true);
    addRow(tr("Unlabeled"), "unlabeled", true, false)->setChecked(m_backupUnlabeled);
    QCheckBox *customLabels = addRow(tr("Custom Labels"), "customLabels", !m_userLabels.isEmpty(), false);
    customLabels->setTristate(true);
    customLabels->setCheckState(customLabelsState());
    for (const QString &label : std::as_const(m_userLabels))
        addRow(label, "label", true, true)->setChecked(m_includedUserLabels.contains(label));
}

QCheckBox *TDWLabelViewController::addRow(const QString &title, const char *name, bool enabled, bool indented)
{
    const int row = m_labelTable->rowCount();
    m_labelTable->insertRow(row);
    auto *cell = new QWidget;
    auto *checkbox = new QCheckBox(title, cell);
    checkbox->setObjectName(QString::fromLatin1(name));
    checkbox->setEnabled(enabled);
    auto *layout = new QHBoxLayout(cell);
    layout->setContentsMargins(indented ? LabelIndent : 2, 0, 2, 0);
    layout->addWidget(checkbox);
    m_labelTable->setCellWidget(row, 0, cell);
    connect(checkbox, &QCheckBox::clicked, this, [this, row, checkbox] { labelCheckboxClicked(row, checkbox); });
    return checkbox;
}

QCheckBox *TDWLabelViewController::checkboxAt(qsizetype row) const
{
    QWidget *cell = m_labelTable->cellWidget(int(row), 0);
    return cell ? cell->findChild<QCheckBox *>() : nullptr;
}

Qt::CheckState TDWLabelViewController::customLabelsState() const
{
    qsizetype included = 0;
    for (const QString &label : m_userLabels)
        included += m_includedUserLabels.contains(label) ? 1 : 0;
    if (included == 0)
        return Qt::Unchecked;
    return included == m_userLabels.size() ? Qt::Checked : Qt::PartiallyChecked;
}

void TDWLabelViewController::labelCheckboxClicked(int row, QCheckBox *checkbox)
{
    if (row == m_unlabeledIndex) {
        m_backupUnlabeled = checkbox->isChecked();
        return;
    }
    if (row == m_allUserLabelsIndex) {
        // The user moves this box between on and off only; mixed is what the labels show.
        if (checkbox->checkState() == Qt::PartiallyChecked)
            checkbox->setCheckState(Qt::Checked);
        const bool on = checkbox->checkState() == Qt::Checked;
        if (on)
            m_includedUserLabels = QSet<QString>(m_userLabels.cbegin(), m_userLabels.cend());
        else
            m_includedUserLabels.clear();
        for (qsizetype i = 0; i < m_userLabels.size(); ++i)
            checkboxAt(m_firstLabelIndex + i)->setChecked(on);
        return;
    }
    if (row < m_firstLabelIndex)
        return;
    const QString &label = m_userLabels.at(row - m_firstLabelIndex);
    if (checkbox->isChecked())
        m_includedUserLabels.insert(label);
    else
        m_includedUserLabels.remove(label);
    checkboxAt(m_allUserLabelsIndex)->setCheckState(customLabelsState());
}

// ---------------------------------------------------------------------------
// The labels

void TDWLabelViewController::setFoldersWithFlags(const TDWFoldersWithFlags &foldersWithFlags)
{
    m_foldersWithFlags = foldersWithFlags;
    m_userLabels = TDWMailUtils::userLabelsBasedOnFoldersWithFlags(foldersWithFlags);
    reloadTable();
}

void TDWLabelViewController::retrieveLabelsFromDataStore()
{
    const QSet<QString> listedBefore(m_userLabels.cbegin(), m_userLabels.cend());
    const QSet<QString> includedBefore = m_includedUserLabels;
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!fetchAccount(m_username, moc.get())) {
        tdwLog(QStringLiteral("ERROR: Unable to find account in retrieveLabelsFromDataStore."));
        if (moc)
            moc->reset();
        return;
    }
    const auto reset = qScopeGuard([&moc] { moc->reset(); });
    m_userLabels.clear();
    m_includedUserLabels.clear();
    for (const TDWMailFolder::Ptr &folder : currentFolders(m_accountServiceStore, *moc)) {
        if (folder->folderType() != TDWMailFolder::LabelFolderType)
            continue;
        const QString path = folder->folderPath();
        m_userLabels.append(path);
        // The user's unsaved choice wins over the stored one.
        if (listedBefore.contains(path) ? includedBefore.contains(path) : folder->backup())
            m_includedUserLabels.insert(path);
    }
}

void TDWLabelViewController::labelsChanged(const TDWNotification &notification)
{
    const QVariantMap &userInfo = notification.userInfo();
    if (userInfo.value(QStringLiteral("accountUsername")).toString() != m_username || userInfo.contains(QStringLiteral("setnew")))
        return;
    retrieveLabelsFromDataStore();
    reloadTable();
}

bool TDWLabelViewController::applySettings()
{
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const TDWAccount::Ptr account = fetchAccount(m_username, moc.get());
    if (!account) {
        tdwLog(QStringLiteral("ERROR: TDWLabelViewController - can't find account in applySettings."));
        if (moc)
            moc->reset();
        return false;
    }
    const auto reset = qScopeGuard([&moc] { moc->reset(); });
    const bool updated = m_foldersWithFlags
                             ? TDWMailUtils::updateAccount(*account, *m_foldersWithFlags, m_includedUserLabels, TDWClock::now())
                             : TDWMailUtils::updateAccount(*account, m_includedUserLabels);
    // A folder list the records cannot follow must not be saved as the user's choice.
    if (!updated) {
        tdwLog(QStringLiteral("ERROR: TDWLabelViewController - unable to update the account's labels in applySettings."));
        return false;
    }
    account->setAutoAddNewLabels(m_autoAddNewLabels);
    account->setBackupUnlabeled(m_backupUnlabeled);
    TDWError error;
    if (!moc->save(&error)) {
        tdwLog(QStringLiteral("ERROR: Unable to save in TDWLabelViewController: %1").arg(error.localizedDescription()));
        return false;
    }
    const QVariantMap userInfo = {{QStringLiteral("accountUsername"), m_username}, {QStringLiteral("setnew"), true}};
    BKSNotUtils::postNotificationName(QStringLiteral("mailfolderlistchanged"), this, userInfo);
    BKSNotUtils::postNotificationName(QStringLiteral("mailfolderselectionschanged"), this, userInfo);
    return true;
}

// ---------------------------------------------------------------------------
// Refresh

void TDWLabelViewController::refreshLabelButtonClicked()
{
    setRefreshing(true);
    const std::shared_ptr<TDWCredential> credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(m_username);
    if (credential && credential->accessTokenExpired()) {
        m_accessTokenRetriever = std::make_unique<TDWAccessTokenRetriever>(m_username, static_cast<TDWAccessTokenDelegate *>(this));
        m_accessTokenRetriever->start();
        return;
    }
    startLabelRefresh(credential ? credential->accessToken() : QString());
}

void TDWLabelViewController::accessTokenRetrieverReceivedAccessToken(TDWAccessTokenRetriever *, const QString &accessToken)
{
    startLabelRefresh(accessToken);
}

void TDWLabelViewController::accessTokenRetrieverEncounteredError(TDWAccessTokenRetriever *, const TDWError &error)
{
    handleRefreshError(error.localizedDescription());
}

void TDWLabelViewController::startLabelRefresh(const QString &accessToken)
{
    if (accessToken.isEmpty()) {
        handleRefreshError(tr("Unable to connect to Google Mail via IMAP."));
        return;
    }
    m_session = TDWImapConnectionMgr::imapSessionForUsername(m_username, accessToken);
    m_operation = m_session->fetchAllFoldersOperation();
    m_timeoutTimer->start(m_refreshTimeout);
    m_operation->start([this](const TDWError &error, const QList<TDWImapFolder> &folders) { handleFolders(error, folders); });
}

void TDWLabelViewController::stopRefreshRequest()
{
    // Cancelled on the main thread, its completion never runs: an answer
    // arriving after the user was told the request timed out changes nothing.
    if (m_operation)
        m_operation->cancel();
    releaseRefreshRequest();
}

void TDWLabelViewController::releaseRefreshRequest()
{
    m_timeoutTimer->stop();
    m_operation.reset();
    m_session.reset();
}

void TDWLabelViewController::refreshTimedOut()
{
    stopRefreshRequest();
    handleRefreshError(tr("Request for list of labels timed out."));
}

void TDWLabelViewController::handleFolders(const TDWError &error, const QList<TDWImapFolder> &folders)
{
    releaseRefreshRequest();
    if (!error.isNull()) {
        handleRefreshError(error.localizedDescription());
        return;
    }
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const auto reset = qScopeGuard([&moc] {
        if (moc)
            moc->reset();
    });
    const TDWFoldersWithFlags foldersWithFlags = TDWMailUtils::foldersWithFlagsFrom(folders);
    if (m_existingAccount) {
        const TDWAccount::Ptr account = fetchAccount(m_username, moc.get());
        TDWError saveError;
        if (!account || !TDWMailUtils::updateAccount(*account, foldersWithFlags, std::nullopt, TDWClock::now()) || !moc->save(&saveError)) {
            tdwLog(QStringLiteral("ERROR: Unable to save updated list of labels in TDWLabelViewController startLabelRefresh."));
            // The user can go on with the list shown, or try again.
            handleRefreshError(tr("Unable to save the updated list of labels."));
            return;
        }
    }
    m_foldersWithFlags = foldersWithFlags;
    if (m_existingAccount) {
        retrieveLabelsFromDataStore();
    } else {
        const QSet<QString> listedBefore(m_userLabels.cbegin(), m_userLabels.cend());
        m_userLabels = TDWMailUtils::userLabelsBasedOnFoldersWithFlags(foldersWithFlags);
        for (const QString &label : std::as_const(m_userLabels))
            if (!listedBefore.contains(label))
                m_includedUserLabels.insert(label);
    }
    handleRefreshResult();
}

void TDWLabelViewController::setRefreshing(bool refreshing)
{
    m_refreshLabelButton->setVisible(!refreshing);
    m_refreshingProgressIndicator->setVisible(refreshing);
    m_backButton->setEnabled(!refreshing);
    m_continueButton->setEnabled(!refreshing);
}

void TDWLabelViewController::handleRefreshError(const QString &message)
{
    setRefreshing(false);
    BKSErrorAlerts::showError(message);
}

void TDWLabelViewController::handleRefreshResult()
{
    setRefreshing(false);
    reloadTable();
}
