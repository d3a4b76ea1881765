#include "prefs/TDWRuleSheetController.h"

#include "common/BKSNotUtils.h"
#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {


// The stored rules as the comparisons they are made of.
QList<TDWPredicate> storedRules()
{
    const QString stored = TDWUserDefaults::standard()->stringForKey(TDWSettingsKeys::DontBackupPredicate);
    if (stored.trimmed().isEmpty())
        return {};
    TDWError error;
    const TDWPredicate rule = TDWPredicate::parse(stored, {}, &error);
    if (rule.isNull()) {
        tdwLog(QStringLiteral("ERROR: Unable to read the stored exclusion rules: %1").arg(error.description()));
        return {};
    }
    if (rule.kind() == TDWPredicate::Kind::Or)
        return rule.subpredicates();
    return {rule};
}

} // namespace

TDWRuleSheetController::TDWRuleSheetController(QWidget *parent)
    : QDialog(parent)
    , m_docTypes(ruleDocTypes())
    , m_rowsLayout(new QVBoxLayout)
    , m_rulesOkButton(new QPushButton(tr("OK")))
    , m_rulesCancelButton(new QPushButton(tr("Cancel")))
    , m_addRuleButton(new QPushButton(tr("Add Rule")))
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Exclusion Rules"));

    auto *buttons = new QDialogButtonBox;
    buttons->addButton(m_addRuleButton, QDialogButtonBox::ActionRole);
    buttons->addButton(m_rulesCancelButton, QDialogButtonBox::RejectRole);
    buttons->addButton(m_rulesOkButton, QDialogButtonBox::AcceptRole);
    m_rulesOkButton->setDefault(true);
    connect(m_addRuleButton, &QPushButton::clicked, this, &TDWRuleSheetController::addRow);
    connect(m_rulesOkButton, &QPushButton::clicked, this, &TDWRuleSheetController::ruleSheetOkButtonClick);
    connect(m_rulesCancelButton, &QPushButton::clicked, this, &TDWRuleSheetController::ruleSheetCancelButtonClick);

    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(tr("Items that match any of these rules are not backed up:"));
    intro->setWordWrap(true);
    layout->addWidget(intro);
    layout->addLayout(m_rowsLayout);
    layout->addStretch();
    layout->addWidget(buttons);

    configurePredicateEditor();
}

QList<TDWRuleRowWidget::DocType> TDWRuleSheetController::ruleDocTypes()
{
    QList<TDWRuleRowWidget::DocType> types;
    for (const QVariant &entry : TDWServiceTable::shared().docTypeConfigs()) {
        const QVariantMap config = entry.toMap();
        const QString id = config.value(QStringLiteral("id")).toString();
        if (!config.value(QStringLiteral("isGrouping")).toBool() && id != QLatin1String("message"))
            types.append({id, config.value(QStringLiteral("label")).toString()});
    }
    return types;
}

void TDWRuleSheetController::configurePredicateEditor()
{
    clearRows();
    for (const TDWPredicate &rule : storedRules()) {
        TDWRuleRowWidget *row = addRow();
        if (!row->setPredicate(rule)) {
            tdwLog(QStringLiteral("ERROR: Ignoring an exclusion rule the rule sheet cannot show: %1").arg(rule.predicateFormat()));
            removeRow(row);
        }
    }
}

TDWRuleRowWidget *TDWRuleSheetController::addRow()
{
    auto *row = new TDWRuleRowWidget(m_docTypes);
    connect(row, &TDWRuleRowWidget::removeRequested, this, [this, row] { removeRow(row); });
    m_rowsLayout->addWidget(row);
    m_rows.append(row);
    return row;
}

void TDWRuleSheetController::removeRow(TDWRuleRowWidget *row)
{
    m_rows.removeOne(row);
    row->hide();
    row->deleteLater();
}

void TDWRuleSheetController::clearRows()
{
    for (TDWRuleRowWidget *row : std::as_const(m_rows)) {
        row->hide();
        row->deleteLater();
    }
    m_rows.clear();
}

TDWPredicate TDWRuleSheetController::predicate() const
{
    QList<TDWPredicate> rules;
    for (const TDWRuleRowWidget *row : m_rows)
        if (const TDWPredicate rule = row->predicate(); !rule.isNull())
            rules.append(rule);
    return rules.isEmpty() ? TDWPredicate() : TDWPredicate::orPredicate(rules);
}

void TDWRuleSheetController::ruleSheetOkButtonClick()
{
    const TDWPredicate rule = predicate();
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    if (rule.isNull())
        defaults->removeObjectForKey(TDWSettingsKeys::DontBackupPredicate);
    else
        defaults->setString(rule.predicateFormat(), TDWSettingsKeys::DontBackupPredicate);
    // The scheduler observes this and applies the rules once; calling it here
    // as well would apply them twice.
    BKSNotUtils::postNotificationName(QStringLiteral("excluderuleschanged"), this);
    defaults->synchronize();
    accept();
}

void TDWRuleSheetController::ruleSheetCancelButtonClick()
{
    reject();
}

void TDWRuleSheetController::reject()
{
    QDialog::reject();
    configurePredicateEditor();
}
