#include "prefs/TDWAccountPrefCellView.h"

#include <QGridLayout>
#include <QLabel>
#include <QToolButton>

TDWAccountPrefCellView::TDWAccountPrefCellView(const QString &username, QWidget *parent)
    : QWidget(parent)
    , m_objectValue(username)
    , m_accountUsernameField(new QLabel(username))
    , m_servicesField(new QLabel)
    , m_editButton(new QToolButton)
{
    setObjectName(QStringLiteral("accountrow"));
    m_accountUsernameField->setObjectName(QStringLiteral("accountUsernameField"));
    m_servicesField->setObjectName(QStringLiteral("servicesField"));
    m_editButton->setObjectName(QStringLiteral("editButton"));
    QFont bold = m_accountUsernameField->font();
    bold.setBold(true);
    m_accountUsernameField->setFont(bold);
    m_editButton->setText(tr("Edit…"));
    m_editButton->setAutoRaise(true);
    connect(m_editButton, &QToolButton::clicked, this, [this] { emit editClicked(m_objectValue); });

    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setVerticalSpacing(2);
    layout->addWidget(m_accountUsernameField, 0, 0);
    layout->addWidget(m_servicesField, 1, 0);
    layout->addWidget(m_editButton, 0, 1, 2, 1, Qt::AlignVCenter);
    layout->setColumnStretch(0, 1);
}

void TDWAccountPrefCellView::setServicesText(const QString &text, bool alert)
{
    m_alert = alert;
    m_servicesField->setText(text);
    m_servicesField->setStyleSheet(alert ? QStringLiteral("color: red;") : QStringLiteral("color: gray;"));
}
