#pragma once

#include "platform/foundation/TDWError.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>


class QLabel;
class QProgressBar;
class QPushButton;
class TDWAccountFlowController;
class TDWOAuthSignIn;

// The sign-in step of the account sheet. Google's sign-in and consent pages
// open in the user's own browser (Google refuses sign-in inside embedded web
// views); the browser's redirect to a listener on 127.0.0.1 moves the step on
// by itself: the code is exchanged for tokens, the account is checked against
// the address typed, the credential is saved and each chosen service's access
// is checked. The view shows the account, what to do in the browser and how
// far the sign-in has come, with Back and Cancel. Any outcome hands control
// back to the flow, once; a new attempt is a new view. Its controls carry
// object names: "accountUsername", "browserInstructions", "statusText",
// "progress", "back", "cancel".
class TDWAuthViewController : public QObject
{
    Q_OBJECT

public:
    TDWAuthViewController(TDWAccountFlowController *flow, const QString &accountUsername, const QStringList &serviceIds,
                          QObject *parent = nullptr);
    ~TDWAuthViewController() override;

    QWidget *view() const { return m_view; }
    const QStringList &serviceIds() const { return m_serviceIds; }

    // Opens Google's page in the browser and waits for its answer.
    void start();

    void handleCancel();
    void handleBack();

private:
    void signInFinished(const TDWError &error);
    // The step is over: the sign-in stops and later answers are ignored.
    void navigateAway();
    void setStatus(const QString &text);

    TDWAccountFlowController *m_flow;
    QString m_accountUsername;
    QStringList m_serviceIds;
    QPointer<QWidget> m_view;
    QLabel *m_accountUsernameLabel = nullptr;
    QLabel *m_browserInstructions = nullptr;
    QLabel *m_statusTextLabel = nullptr;
    QProgressBar *m_progressIndicator = nullptr;
    QPushButton *m_backButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    TDWOAuthSignIn *m_signIn = nullptr; // a child of this controller
    bool m_navigatedAway = false;
};
