#include "prefs/TDWRuleRowWidget.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QStackedWidget>
#include <QToolButton>

namespace {

const QString TitleKey = QStringLiteral("title");
const QString DocTypeKey = QStringLiteral("doc.docType");
const QString Equal = QStringLiteral("==");

// The Name row's operators, in the order the pop-up shows them.
const QStringList NameOperators{QStringLiteral("CONTAINS"), Equal, QStringLiteral("BEGINSWITH"), QStringLiteral("ENDSWITH")};

} // namespace

TDWRuleRowWidget::TDWRuleRowWidget(const QList<DocType> &docTypes, QWidget *parent)
    : QWidget(parent)
    , m_field(new QComboBox)
    , m_operator(new QComboBox)
    , m_value(new QStackedWidget)
    , m_text(new QLineEdit)
    , m_type(new QComboBox)
    , m_remove(new QToolButton)
{
    m_field->addItem(tr("Name"));
    m_field->addItem(tr("Type"));
    for (const DocType &type : docTypes)
        m_type->addItem(type.label, type.id);
    m_text->setFixedWidth(200);
    m_value->addWidget(m_text);
    m_value->addWidget(m_type);
    m_remove->setText(QStringLiteral("\u2212"));
    m_remove->setToolTip(tr("Remove this rule"));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_field);
    layout->addWidget(m_operator);
    layout->addWidget(m_value);
    layout->addStretch();
    layout->addWidget(m_remove);

    connect(m_field, &QComboBox::currentIndexChanged, this, &TDWRuleRowWidget::showField);
    connect(m_remove, &QToolButton::clicked, this, &TDWRuleRowWidget::removeRequested);
    showField(NameField);
}

void TDWRuleRowWidget::showField(int field)
{
    m_operator->clear();
    if (field == NameField) {
        m_operator->addItem(tr("contains"), NameOperators[0]);
        m_operator->addItem(tr("is"), NameOperators[1]);
        m_operator->addItem(tr("begins with"), NameOperators[2]);
        m_operator->addItem(tr("ends with"), NameOperators[3]);
    } else {
        m_operator->addItem(tr("is"), Equal);
    }
    m_value->setCurrentIndex(field);
}

bool TDWRuleRowWidget::setPredicate(const TDWPredicate &predicate)
{
    const std::optional<TDWPredicate::KeyPathComparison> comparison = predicate.keyPathComparison();
    if (!comparison || comparison->value.typeId() != QMetaType::QString)
        return false;
    const QString value = comparison->value.toString();
    if (comparison->keyPath == TitleKey && NameOperators.contains(comparison->operatorText)) {
        m_field->setCurrentIndex(NameField);
        showField(NameField);
        m_operator->setCurrentIndex(m_operator->findData(comparison->operatorText));
        m_text->setText(value);
        return true;
    }
    const int type = m_type->findData(value);
    if (comparison->keyPath == DocTypeKey && comparison->operatorText == Equal && type >= 0) {
        m_field->setCurrentIndex(TypeField);
        showField(TypeField);
        m_type->setCurrentIndex(type);
        return true;
    }
    return false;
}

TDWPredicate TDWRuleRowWidget::predicate() const
{
    if (m_field->currentIndex() == TypeField) {
        if (m_type->currentIndex() < 0)
            return {};
        return TDWPredicate::parse(QStringLiteral("%K == %@"), {DocTypeKey, m_type->currentData()});
    }
    // An empty text would match every title under some readings, and nothing
    // under others: the row says nothing, so it excludes nothing.
    if (m_text->text().isEmpty())
        return {};
    return TDWPredicate::parse(QStringLiteral("%K %1[cd] %@").arg(m_operator->currentData().toString()), {TitleKey, m_text->text()});
}
