#include "migration/TDWFirstTimeV25WindowController.h"

#include "common/TDWSettingsKeys.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

TDWFirstTimeV25WindowController::TDWFirstTimeV25WindowController(const QStringList &allUsernames, const QStringList &failedUsernames,
                                                                 QObject *parent)
    : QObject(parent)
    , m_allUsernames(allUsernames)
    , m_failedUsernames(failedUsernames)
    , m_window(std::make_unique<QWidget>())
{
    m_window->setWindowTitle(tr("Tidewell has been updated"));
    QString text = tr("Tidewell now signs in to your Google accounts with Google's own sign-in.");
    if (!m_failedUsernames.isEmpty())
        text += QStringLiteral("\n\n") + failedAccountsText();
    m_notes = new QLabel(text);
    m_notes->setWordWrap(true);
    m_notes->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *buttons = new QDialogButtonBox;
    connect(buttons->addButton(tr("Done"), QDialogButtonBox::AcceptRole), &QPushButton::clicked, this,
            &TDWFirstTimeV25WindowController::done);
    auto *layout = new QVBoxLayout(m_window.get());
    layout->addWidget(m_notes);
    layout->addWidget(buttons);
    m_window->resize(480, 220);
}

TDWFirstTimeV25WindowController::~TDWFirstTimeV25WindowController() = default;

QString TDWFirstTimeV25WindowController::failedAccountsText() const
{
    const qsizetype failed = m_failedUsernames.size();
    QString someOfYourAccounts;
    QString affectedAccounts;
    QString authTokens = tr("authentication tokens");
    if (failed == 1) {
        someOfYourAccounts = tr("your “%1” account").arg(m_failedUsernames.first());
        affectedAccounts = tr("that account");
        authTokens = tr("an authentication token");
    } else if (failed == m_allUsernames.size()) {
        someOfYourAccounts = tr("your accounts");
        affectedAccounts = tr("your accounts");
    } else {
        // Named, since "some" alone does not say which.
        someOfYourAccounts = tr("some of your accounts") + QStringLiteral(" (") + m_failedUsernames.join(QStringLiteral(", ")) + QLatin1Char(')');
        affectedAccounts = tr("those accounts");
    }
    return tr("Tidewell could not convert the sign-in of %1. Please sign in to %2 again in the %3 preferences, so that Tidewell receives %4.")
        .arg(someOfYourAccounts, affectedAccounts, tr("Google Accounts"), authTokens);
}

QString TDWFirstTimeV25WindowController::notesText() const
{
    return m_notes->text();
}

void TDWFirstTimeV25WindowController::showWindow()
{
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void TDWFirstTimeV25WindowController::done()
{
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    defaults->setBool(true, TDWSettingsKeys::FirstTimeV2);
    defaults->setBool(true, TDWSettingsKeys::FirstTimeV25);
    defaults->removeObjectForKey(TDWSettingsKeys::OAuthMigrationResult);
    defaults->synchronize();
    m_window->close();
    emit finished();
}
