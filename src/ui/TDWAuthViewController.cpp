#include "ui/TDWAuthViewController.h"

#include "accounts/TDWOAuthSignIn.h"
#include "ui/TDWAccountFlowController.h"

#include <QDialogButtonBox>
#include <QFont>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

TDWAuthViewController::TDWAuthViewController(TDWAccountFlowController *flow, const QString &accountUsername,
                                             const QStringList &serviceIds, QObject *parent)
    : QObject(parent)
    , m_flow(flow)
    , m_accountUsername(accountUsername)
    , m_serviceIds(serviceIds)
    , m_view(new QWidget)
{
    auto *title = new QLabel(tr("Sign in to Google"));
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
    title->setFont(titleFont);

    m_accountUsernameLabel = new QLabel(m_accountUsername);
    m_accountUsernameLabel->setObjectName(QStringLiteral("accountUsername"));
    m_accountUsernameLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_browserInstructions = new QLabel(
        tr("Google’s sign-in page has opened in your web browser. Sign in there as the account above and allow Tidewell "
           "to read its data. Tidewell goes on by itself once you have; the browser’s tab can then be closed."));
    m_browserInstructions->setObjectName(QStringLiteral("browserInstructions"));
    m_browserInstructions->setWordWrap(true);

    m_progressIndicator = new QProgressBar;
    m_progressIndicator->setObjectName(QStringLiteral("progress"));
    m_progressIndicator->setRange(0, 0); // spins
    m_progressIndicator->setTextVisible(false);
    m_progressIndicator->setMaximumHeight(12);

    m_statusTextLabel = new QLabel(tr("Waiting for Google’s answer in your web browser…"));
    m_statusTextLabel->setObjectName(QStringLiteral("statusText"));
    m_statusTextLabel->setWordWrap(true);

    auto *buttons = new QDialogButtonBox;
    m_backButton = buttons->addButton(tr("Back"), QDialogButtonBox::ResetRole);
    m_backButton->setObjectName(QStringLiteral("back"));
    m_cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    m_cancelButton->setObjectName(QStringLiteral("cancel"));
    connect(m_backButton, &QPushButton::clicked, this, &TDWAuthViewController::handleBack);
    connect(m_cancelButton, &QPushButton::clicked, this, &TDWAuthViewController::handleCancel);

    auto *layout = new QVBoxLayout(m_view);
    layout->addWidget(title);
    layout->addWidget(m_accountUsernameLabel);
    layout->addSpacing(8);
    layout->addWidget(m_browserInstructions);
    layout->addSpacing(8);
    layout->addWidget(m_progressIndicator);
    layout->addWidget(m_statusTextLabel);
    layout->addStretch();
    layout->addWidget(buttons);

    m_signIn = new TDWOAuthSignIn(m_accountUsername, m_serviceIds, this);
    connect(m_signIn, &TDWOAuthSignIn::codeReceived, this, [this] { setStatus(tr("Verifying access…")); });
}

TDWAuthViewController::~TDWAuthViewController()
{
    // The window may have taken the view down with it already.
    delete m_view.data();
}

void TDWAuthViewController::start()
{
    m_signIn->start([this](const TDWError &error) { signInFinished(error); });
}

void TDWAuthViewController::handleCancel()
{
    if (m_navigatedAway)
        return;
    navigateAway();
    m_flow->cancelledAccountView();
}

void TDWAuthViewController::handleBack()
{
    if (m_navigatedAway)
        return;
    navigateAway();
    m_flow->backFromAuthView();
}

void TDWAuthViewController::signInFinished(const TDWError &error)
{
    if (m_navigatedAway)
        return;
    // Taken before the sign-in is let go of.
    const std::optional<TDWFoldersWithFlags> foldersWithFlags
        = error.isNull() ? TDWAccountFlowController::foldersWithFlagsOf(m_signIn->mailPreflightOperation()) : std::nullopt;
    navigateAway();
    if (!error.isNull()) {
        // A failed preflight comes after the credential was saved; either
        // way the account view shows the message.
        m_flow->backFromAuthViewWithError(error.localizedDescription());
        return;
    }
    m_flow->doneAuthView(foldersWithFlags);
}

void TDWAuthViewController::navigateAway()
{
    m_navigatedAway = true;
    m_progressIndicator->hide();
    m_backButton->setEnabled(false);
    m_cancelButton->setEnabled(false);
    // Outside the completion this stops the listener and every step;
    // inside it, the sign-in has already finished and nothing changes.
    m_signIn->cancel();
}

void TDWAuthViewController::setStatus(const QString &text)
{
    m_statusTextLabel->setText(text);
}
