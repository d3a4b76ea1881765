#include "ui/TDWInitConfigViewController.h"

#include "ui/TDWFirstTimeUserController.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QWidget>

TDWInitConfigViewController::TDWInitConfigViewController(TDWFirstTimeUserController *firstTimeUserController, QObject *parent)
    : QObject(parent)
    , m_firstTimeUserController(firstTimeUserController)
    , m_view(new QWidget)
{
    auto *intro = new QLabel(tr("Tidewell keeps a local, versioned backup of your Google accounts. "
                                "Choose a few settings, then add your first account."));
    intro->setWordWrap(true);

    m_emailAddressField = new QLineEdit;
    m_emailAddressField->setObjectName(QStringLiteral("emailAddress"));
    m_emailAddressField->setPlaceholderText(tr("Optional: your e-mail address for news about Tidewell"));

    m_startAtLogin = new QRadioButton(tr("Start Tidewell when I log in"));
    m_startAtLogin->setObjectName(QStringLiteral("startAtLogin"));
    auto *dontStartAtLogin = new QRadioButton(tr("Start Tidewell only when I open it"));
    dontStartAtLogin->setObjectName(QStringLiteral("dontStartAtLogin"));
    auto *loginGroup = new QButtonGroup(m_view);
    loginGroup->addButton(m_startAtLogin);
    loginGroup->addButton(dontStartAtLogin);
    m_startAtLogin->setChecked(true);

    auto *form = new QFormLayout;
    form->addRow(tr("E-mail address:"), m_emailAddressField);
    form->addRow(tr("At login:"), m_startAtLogin);
    form->addRow(QString(), dontStartAtLogin);

    auto *buttons = new QDialogButtonBox;
    QPushButton *continueButton = buttons->addButton(tr("Continue"), QDialogButtonBox::AcceptRole);
    continueButton->setObjectName(QStringLiteral("continue"));
    continueButton->setDefault(true);
    QPushButton *cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    cancelButton->setObjectName(QStringLiteral("cancel"));
    connect(continueButton, &QPushButton::clicked, m_firstTimeUserController, &TDWFirstTimeUserController::doneInitConfigView);
    connect(cancelButton, &QPushButton::clicked, m_firstTimeUserController, &TDWFirstTimeUserController::cancel);
    connect(m_emailAddressField, &QLineEdit::returnPressed, continueButton, &QPushButton::click);

    auto *layout = new QVBoxLayout(m_view);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addStretch();
    layout->addWidget(buttons);
}

TDWInitConfigViewController::~TDWInitConfigViewController()
{
    // The window may have taken the view down with it already.
    delete m_view.data();
}

QString TDWInitConfigViewController::emailAddress() const
{
    const QString typed = m_emailAddressField->text().trimmed();
    return typed.contains(QLatin1Char('@')) ? typed : QString();
}

bool TDWInitConfigViewController::startAtLogin() const
{
    return m_startAtLogin->isChecked();
}
