#include "prefs/TDWAccountDeleteConfirmationWindowController.h"

#include "accounts/TDWAccountDeleter.h"
#include "common/BKSNotUtils.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWLog.h"
#include "ui/BKSErrorAlerts.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

TDWAccountDeleteConfirmationWindowController::TDWAccountDeleteConfirmationWindowController(const QString &username, bool enabled,
                                                                                           QWidget *parent)
    : QDialog(parent)
    , m_accountUsername(username)
    , m_accountEnabled(enabled)
    , m_warningTextLabel(new QLabel(tr("Disabling the account stops its backups and keeps what has been backed up. Deleting the account "
                                       "will delete both the account information and associated backups.  This is not undoable.")))
    , m_cancelButton(new QPushButton(tr("Cancel")))
    , m_disableButton(new QPushButton(tr("Disable")))
    , m_deleteButton(new QPushButton(tr("Delete")))
    , m_deletingLabel(new QLabel)
    , m_progressIndicator(new QProgressBar)
{
    setWindowModality(Qt::WindowModal);
    m_warningTextLabel->setWordWrap(true);
    m_progressIndicator->setRange(0, 0); // busy, with no known end
    m_progressIndicator->setTextVisible(false);

    auto *buttons = new QDialogButtonBox;
    buttons->addButton(m_cancelButton, QDialogButtonBox::RejectRole);
    buttons->addButton(m_disableButton, QDialogButtonBox::ActionRole);
    buttons->addButton(m_deleteButton, QDialogButtonBox::DestructiveRole);
    m_cancelButton->setDefault(true);
    connect(m_cancelButton, &QPushButton::clicked, this, &TDWAccountDeleteConfirmationWindowController::cancelButtonClick);
    connect(m_disableButton, &QPushButton::clicked, this, &TDWAccountDeleteConfirmationWindowController::disableButtonClick);
    connect(m_deleteButton, &QPushButton::clicked, this, &TDWAccountDeleteConfirmationWindowController::deleteButtonClick);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_warningTextLabel);
    layout->addWidget(m_deletingLabel);
    layout->addWidget(m_progressIndicator);
    layout->addWidget(buttons);

    m_progressIndicator->hide();
    m_deletingLabel->hide();
    if (!m_accountEnabled) {
        m_warningTextLabel->setText(
            tr("Deleting the account will delete both the account information and associated backups.  This is not undoable."));
        m_disableButton->hide();
    }
}

TDWAccountDeleteConfirmationWindowController::~TDWAccountDeleteConfirmationWindowController()
{
    // A deletion under way goes on to its end; only its report to this sheet is dropped.
    if (m_deletion)
        m_deletion->cancel();
}

void TDWAccountDeleteConfirmationWindowController::cancelButtonClick()
{
    endSheet(QDialog::Rejected);
}

void TDWAccountDeleteConfirmationWindowController::reject()
{
    if (!m_deletion)
        cancelButtonClick();
}

void TDWAccountDeleteConfirmationWindowController::disableButtonClick()
{
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (moc) {
        if (const TDWAccount::Ptr account = TDWAccount::byUsername(m_accountUsername, *moc, nullptr)) {
            account->disable();
            TDWError error;
            if (!moc->save(&error))
                tdwLog(QStringLiteral("ERROR: Unable to save disabling of account in AccountDeleteConfirmationWindowController disableButtonClick: %1")
                           .arg(error.localizedDescription()));
        }
        moc->reset();
    }
    BKSNotUtils::postNotificationName(QStringLiteral("accountUpdate"), this, {{QStringLiteral("accountUsername"), m_accountUsername}}, false);
    endSheet(QDialog::Accepted);
}

void TDWAccountDeleteConfirmationWindowController::deleteButtonClick()
{
    if (m_deletion)
        return;
    m_cancelButton->hide();
    m_disableButton->hide();
    m_deleteButton->hide();
    m_deletingLabel->setText(tr("Deleting \u201c%1\u201d account and backups\u2026").arg(m_accountUsername));
    m_deletingLabel->show();
    m_progressIndicator->show();
    m_deletion = TDWAccountDeleter::operationForUsername(m_accountUsername);
    m_deletion->start([this](const TDWError &error, bool) {
        if (error.isNull())
            deleteFinished();
        else
            deleteFailed();
    });
}

void TDWAccountDeleteConfirmationWindowController::deleteFailed()
{
    QWidget *window = parentWidget();
    endSheet(QDialog::Rejected);
    BKSErrorAlerts::showError(tr("Unable to delete the account entry."), window);
}

void TDWAccountDeleteConfirmationWindowController::deleteFinished()
{
    BKSNotUtils::postNotificationName(QStringLiteral("deletedAccount"), this, {{QStringLiteral("accountUsername"), m_accountUsername}});
    endSheet(QDialog::Accepted);
}

void TDWAccountDeleteConfirmationWindowController::endSheet(int result)
{
    m_deletion.reset();
    done(result);
}
