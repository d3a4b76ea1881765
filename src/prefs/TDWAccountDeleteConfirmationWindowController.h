#pragma once

#include "platform/foundation/TDWAsyncOperation.h"

#include <QDialog>
#include <QString>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

// The sheet on the preferences window that asks what to do with one account:
// disable it (every service off, its data kept; posts "accountUpdate"),
// delete it with its stores, backups and credential (posts "deletedAccount"),
// or cancel. An account with no enabled service can only be deleted or kept.
// Main thread only.
class TDWAccountDeleteConfirmationWindowController : public QDialog
{
    Q_OBJECT

public:
    // `enabled`: whether any service of the account is enabled.
    TDWAccountDeleteConfirmationWindowController(const QString &username, bool enabled, QWidget *parent = nullptr);
    ~TDWAccountDeleteConfirmationWindowController() override;

    const QString &accountUsername() const { return m_accountUsername; }

    QPushButton *cancelButton() const { return m_cancelButton; }
    QPushButton *disableButton() const { return m_disableButton; }
    QPushButton *deleteButton() const { return m_deleteButton; }
    QLabel *warningTextLabel() const { return m_warningTextLabel; }
    QLabel *deletingLabel() const { return m_deletingLabel; }

    void cancelButtonClick();
    void disableButtonClick();
    // Starts the deletion on a worker thread; the sheet shows its progress and
    // closes when it ends.
    void deleteButtonClick();

    // Escape and closing the sheet are Cancel; while the deletion runs, which
    // no Cancel can stop, they do nothing.
    void reject() override;

private:
    void deleteFailed();
    void deleteFinished();
    void endSheet(int result);

    QString m_accountUsername;
    bool m_accountEnabled;
    QLabel *m_warningTextLabel;
    QPushButton *m_cancelButton;
    QPushButton *m_disableButton;
    QPushButton *m_deleteButton;
    QLabel *m_deletingLabel;
    QProgressBar *m_progressIndicator;
    std::shared_ptr<TDWAsyncOperation<bool>> m_deletion;
};
