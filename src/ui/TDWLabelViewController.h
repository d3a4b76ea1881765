#pragma once

#include "accounts/TDWAccessTokenDelegate.h"
#include "mail/TDWFoldersWithFlags.h"
#include "platform/imap/TDWImapFolder.h"
#include "platform/imap/TDWImapOperation.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "platform/store/TDWPersistentStore.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <chrono>
#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;
class TDWAccessTokenRetriever;
class TDWAccountFlowController;
class TDWImapSession;

// The Gmail label step of the account sheet: a table of check boxes choosing
// which user labels are backed up, whether mail without a user label is, and
// whether labels that appear later are added by themselves. Refresh re-reads
// the label list over IMAP. Continue writes the choice into the account's
// mail folder records and flags (applySettings, called by the flow) and posts
// "mailfolderlistchanged" and "mailfolderselectionschanged". Main thread only.
// Its controls carry object names: "titleField", "labelTable",
// "autoAddNewLabels", "refreshLabels", "refreshing", "continue", "back",
// "cancel"; the table's check boxes are named after their rows: "forced",
// "unlabeled", "customLabels" and "label" (a user label).
class TDWLabelViewController : public QObject, private TDWAccessTokenDelegate
{
    Q_OBJECT

public:
    // An account that exists, without a folder list: the labels stored for it.
    TDWLabelViewController(TDWAccountFlowController *flow, const QString &username, QObject *parent = nullptr);
    // A folder list just read from the server, for a new account or a stored one.
    TDWLabelViewController(TDWAccountFlowController *flow, const QString &username, const TDWFoldersWithFlags &foldersWithFlags,
                           QObject *parent = nullptr);
    ~TDWLabelViewController() override;

    QWidget *view() const { return m_view; }
    const QString &username() const { return m_username; }

    // A new folder list for the same account; the choices made so far stay.
    void setFoldersWithFlags(const TDWFoldersWithFlags &foldersWithFlags);
    // Writes the choice into the store and announces it; false (nothing
    // posted) when the account is missing or the store cannot be saved.
    bool applySettings();

    // How long a refresh waits for the server's folder list (60 s nominal).
    void setRefreshTimeoutInterval(std::chrono::milliseconds interval) { m_refreshTimeout = interval; }

    const QStringList &userLabels() const { return m_userLabels; }
    const QSet<QString> &includedUserLabels() const { return m_includedUserLabels; }
    bool autoAddNewLabels() const { return m_autoAddNewLabels; }
    bool backupUnlabeled() const { return m_backupUnlabeled; }

    // The layout's actions.
    void refreshLabelButtonClicked();

private:
    TDWLabelViewController(TDWAccountFlowController *flow, const QString &username, std::optional<TDWFoldersWithFlags> foldersWithFlags,
                           QObject *parent);
    void buildView();
    void reloadTable();
    QCheckBox *addRow(const QString &title, const char *name, bool enabled, bool indented);
    QCheckBox *checkboxAt(qsizetype row) const;
    Qt::CheckState customLabelsState() const;
    void labelCheckboxClicked(int row, QCheckBox *checkbox);
    void labelsChanged(const TDWNotification &notification);
    void retrieveLabelsFromDataStore();

    void startLabelRefresh(const QString &accessToken);
    void handleFolders(const TDWError &error, const QList<TDWImapFolder> &folders);
    void refreshTimedOut();
    void stopRefreshRequest();
    void releaseRefreshRequest();
    void setRefreshing(bool refreshing);
    void handleRefreshError(const QString &message);
    void handleRefreshResult();

    void accessTokenRetrieverReceivedAccessToken(TDWAccessTokenRetriever *retriever, const QString &accessToken) override;
    void accessTokenRetrieverEncounteredError(TDWAccessTokenRetriever *retriever, const TDWError &error) override;

    TDWAccountFlowController *m_flow;
    TDWPersistentStorePtr m_accountServiceStore;
    QPointer<QWidget> m_view;
    QLabel *m_titleField = nullptr;
    QTableWidget *m_labelTable = nullptr;
    QCheckBox *m_autoAddNewLabelsCheckbox = nullptr;
    QPushButton *m_refreshLabelButton = nullptr;
    QProgressBar *m_refreshingProgressIndicator = nullptr;
    QPushButton *m_continueButton = nullptr;
    QPushButton *m_backButton = nullptr;
    QPushButton *m_cancelButton = nullptr;

    QString m_username;
    std::optional<TDWFoldersWithFlags> m_foldersWithFlags;
    QStringList m_userLabels;
    QSet<QString> m_includedUserLabels;
    bool m_autoAddNewLabels = true;
    bool m_backupUnlabeled = true;
    bool m_existingAccount = false;
    qsizetype m_unlabeledIndex = 0;
    qsizetype m_allUserLabelsIndex = 0;
    qsizetype m_firstLabelIndex = 0;

    std::unique_ptr<TDWAccessTokenRetriever> m_accessTokenRetriever;
    std::shared_ptr<TDWImapSession> m_session;
    std::shared_ptr<TDWImapOperation<QList<TDWImapFolder>>> m_operation;
    QTimer *m_timeoutTimer = nullptr;
    std::chrono::milliseconds m_refreshTimeout;
    TDWNotificationCenter::Token m_labelsChangedObserver = 0;
};
