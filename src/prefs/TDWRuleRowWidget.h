#pragma once

#include "platform/predicate/TDWPredicate.h"

#include <QList>
#include <QString>
#include <QWidget>

class QComboBox;
class QLineEdit;
class QStackedWidget;
class QToolButton;

// One exclusion rule in the rule sheet: either a Name row (the item's title
// contains, is, begins with or ends with a text, ignoring case and
// diacritics) or a Type row (the item's document type is one of the types
// the row offers).
class TDWRuleRowWidget : public QWidget
{
    Q_OBJECT

public:
    struct DocType
    {
        QString id;
        QString label;
    };

    explicit TDWRuleRowWidget(const QList<DocType> &docTypes, QWidget *parent = nullptr);

    // Shows the comparison when it is one a row can show; false (the row
    // unchanged) otherwise.
    bool setPredicate(const TDWPredicate &predicate);
    // The row's rule; a null predicate when the row has no text to match, as
    // such a row excludes nothing.
    TDWPredicate predicate() const;

    QComboBox *fieldPopUp() const { return m_field; }
    QComboBox *operatorPopUp() const { return m_operator; }
    QLineEdit *textField() const { return m_text; }
    QComboBox *typePopUp() const { return m_type; }
    QToolButton *removeButton() const { return m_remove; }

signals:
    void removeRequested();

private:
    enum Field { NameField = 0, TypeField = 1 };
    void showField(int field);

    QComboBox *m_field;
    QComboBox *m_operator;
    QStackedWidget *m_value;
    QLineEdit *m_text;
    QComboBox *m_type;
    QToolButton *m_remove;
};
