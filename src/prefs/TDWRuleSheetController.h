#pragma once

#include "prefs/TDWRuleRowWidget.h"

#include <QDialog>
#include <QList>

class QPushButton;
class QVBoxLayout;

// The sheet of the Advanced preferences in which the user edits the rules
// that keep items of the API services (not mail) out of the backup. The rules
// are one predicate under the user default "dontbackuppredicate", its rows
// joined by OR; without rows the key is removed, which excludes nothing.
// OK stores them and posts "excluderuleschanged", to which the backup
// scheduler answers by applying them to the stored revisions. Main thread only.
class TDWRuleSheetController : public QDialog
{
    Q_OBJECT

public:
    explicit TDWRuleSheetController(QWidget *parent = nullptr);

    // Shows the stored rules, one row for each.
    void configurePredicateEditor();
    // The rule the rows make now; a null predicate when no row excludes anything.
    TDWPredicate predicate() const;

    QList<TDWRuleRowWidget *> rows() const { return m_rows; }
    TDWRuleRowWidget *addRow();

    QPushButton *rulesOkButton() const { return m_rulesOkButton; }
    QPushButton *rulesCancelButton() const { return m_rulesCancelButton; }
    QPushButton *addRuleButton() const { return m_addRuleButton; }

    void ruleSheetOkButtonClick();
    // Closes the sheet and shows the stored rules again.
    void ruleSheetCancelButtonClick();
    // Cancel and Escape alike drop the unsaved edits.
    void reject() override;

    // The document types a Type row offers: the service table's types that do
    // not group items and are not mail messages, in table order.
    static QList<TDWRuleRowWidget::DocType> ruleDocTypes();

private:
    void removeRow(TDWRuleRowWidget *row);
    void clearRows();

    QList<TDWRuleRowWidget::DocType> m_docTypes;
    QVBoxLayout *m_rowsLayout;
    QList<TDWRuleRowWidget *> m_rows;
    QPushButton *m_rulesOkButton;
    QPushButton *m_rulesCancelButton;
    QPushButton *m_addRuleButton;
};
