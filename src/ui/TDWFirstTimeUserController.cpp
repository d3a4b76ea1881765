#include "ui/TDWFirstTimeUserController.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

TDWFirstTimeUserController::TDWFirstTimeUserController(QObject *parent)
    : QObject(parent)
    , m_window(std::make_unique<QWidget>())
{
    m_window->setWindowTitle(tr("Welcome to Tidewell"));

    auto *intro = new QLabel(tr("Tidewell keeps a local, versioned backup of your Google accounts. "
                                "Choose a few settings to begin."));
    intro->setWordWrap(true);

    m_emailAddressField = new QLineEdit;
    m_emailAddressField->setPlaceholderText(tr("Optional: your e-mail address for news about Tidewell"));

    m_startAtLogin = new QRadioButton(tr("Start Tidewell when I log in"));
    m_dontStartAtLogin = new QRadioButton(tr("Start Tidewell only when I open it"));
    auto *loginGroup = new QButtonGroup(m_window.get());
    loginGroup->addButton(m_startAtLogin);
    loginGroup->addButton(m_dontStartAtLogin);
    m_startAtLogin->setChecked(true);

    auto *form = new QFormLayout;
    form->addRow(tr("E-mail address:"), m_emailAddressField);
    form->addRow(tr("At login:"), m_startAtLogin);
    form->addRow(QString(), m_dontStartAtLogin);

    auto *buttons = new QDialogButtonBox;
    QPushButton *continueButton = buttons->addButton(tr("Continue"), QDialogButtonBox::AcceptRole);
    continueButton->setDefault(true);
    QPushButton *cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    connect(continueButton, &QPushButton::clicked, this, &TDWFirstTimeUserController::continueButton);
    connect(cancelButton, &QPushButton::clicked, this, &TDWFirstTimeUserController::cancelButton);

    auto *layout = new QVBoxLayout(m_window.get());
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addStretch();
    layout->addWidget(buttons);
    m_window->resize(560, 300);
    m_window->installEventFilter(this);
}

TDWFirstTimeUserController::~TDWFirstTimeUserController() = default;

void TDWFirstTimeUserController::showWindow()
{
    if (const QScreen *screen = m_window->screen())
        m_window->move(screen->availableGeometry().center() - m_window->rect().center());
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void TDWFirstTimeUserController::close()
{
    m_done = true;
    m_window->close();
}

void TDWFirstTimeUserController::continueButton()
{
    if (m_done)
        return;
    const QString typed = m_emailAddressField->text().trimmed();
    const QString emailAddress = typed.contains(QLatin1Char('@')) ? typed : QString();
    const bool startAtLogin = m_startAtLogin->isChecked();
    close();
    emit finished(emailAddress, startAtLogin);
}

void TDWFirstTimeUserController::cancelButton()
{
    if (m_done)
        return;
    close();
    emit cancelled();
}

bool TDWFirstTimeUserController::eventFilter(QObject *watched, QEvent *event)
{
    // Closing the window by its title bar is a Cancel.
    if (watched == m_window.get() && event->type() == QEvent::Close && !m_done) {
        m_done = true;
        emit cancelled();
    }
    return QObject::eventFilter(watched, event);
}
