#pragma once

#include "accounts/TDWAccessTokenDelegate.h"
#include "accounts/TDWAccountEmailAddressRetrieverDelegate.h"
#include "accounts/TDWPreflightDelegate.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <QStringList>

#include <memory>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class TDWAccountFlowController;
class TDWPreflightMgr;

// The first step of the account sheet: the account's address (typed for a
// new account, shown for a stored one), the services to back up and whether
// the Drive backup is limited to Google's own document types. On Continue it
// decides, without showing anything new, whether the account can be saved as
// it is, needs its access checked with the stored credential, or needs a new
// sign-in, and hands over to the flow. Its controls carry object names:
// "usernameField", "usernameLabel", "mail", "contacts", "calendar", "tasks", "docs",
// "limitGoogleDocs", "allGoogleDocs", "labels", "requiredImapSettings",
// "statusText", "errorImage", "progress", "continue", "back", "cancel".
class TDWAccountViewController : public QObject,
                                 private TDWAccessTokenDelegate,
                                 private TDWAccountEmailAddressRetrieverDelegate,
                                 private TDWPreflightDelegate
{
    Q_OBJECT

public:
    explicit TDWAccountViewController(TDWAccountFlowController *flow, QObject *parent = nullptr);
    ~TDWAccountViewController() override;

    QWidget *view() const { return m_view; }

    void showNewAccount();
    void showAccountForUsername(const QString &username);
    // Shown again after Back from a later step.
    void shownAgain();

    // The text of the address field.
    QString accountUsername() const;
    // True when the service has a check box and it is on.
    bool enabledForService(const QString &service) const;
    // Shows the message as an error.
    void handleAuthFailureWithMessage(const QString &message);
    // Saves the account (adds it, or updates the stored one); false when it could not be saved.
    bool applySettings();

    // The layout's actions.
    void continueAccountSheet();

private:
    void buildView();
    void setControlsEnabled(bool enabled);
    void resetSheet();
    QStringList selectedServiceIds() const;
    bool enabledForAnyService() const;
    void usernameTextChanged();
    void usernameEditingFinished();
    void enabledCheckboxClicked(QCheckBox *checkbox);
    void showRequiredImapSettings();
    void startVerifying();
    void stopVerifying();
    void showStatusText(const QString &message);
    void showError(const QString &message);
    void startPreflight(const QString &accessToken);

    void accessTokenRetrieverReceivedAccessToken(TDWAccessTokenRetriever *retriever, const QString &accessToken) override;
    void accessTokenRetrieverEncounteredError(TDWAccessTokenRetriever *retriever, const TDWError &error) override;
    void emailAddressRetrieverEncounteredError(TDWAccountEmailAddressRetriever *retriever, const TDWError &error) override;
    void emailAddressRetrieverReceivedEmailAddress(TDWAccountEmailAddressRetriever *retriever, const QString &address) override;
    void emailAddressRetrieverEncounteredAuthorizationError(TDWAccountEmailAddressRetriever *retriever) override;
    void handlePreflightFailure(const TDWError &error) override;
    void handlePreflightSuccess() override;

    TDWAccountFlowController *m_flow;
    QPointer<QWidget> m_view;
    QLineEdit *m_usernameField = nullptr;
    QLabel *m_usernameLabel = nullptr;
    QMap<QString, QCheckBox *> m_enabledCheckboxesByService;
    QButtonGroup *m_limitedGoogleDocsRadioGroup = nullptr;
    QPushButton *m_continueButton = nullptr;
    QPushButton *m_backButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QPushButton *m_labelButton = nullptr;
    QPushButton *m_requiredImapSettingsButton = nullptr;
    QLabel *m_statusTextLabel = nullptr;
    QLabel *m_errorImageView = nullptr;
    QProgressBar *m_progressIndicator = nullptr;

    bool m_existingAccount = false;
    qint64 m_currentAccountStatus = -1;
    std::unique_ptr<TDWAccessTokenRetriever> m_accessTokenRetriever;
    std::unique_ptr<TDWAccountEmailAddressRetriever> m_emailAddressRetriever;
    std::unique_ptr<TDWPreflightMgr> m_preflightMgr;
};
