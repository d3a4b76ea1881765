#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QToolButton;

// One row of the Google Accounts pane: the account's address, its services
// line (or why it is not backed up), and an edit button.
class TDWAccountPrefCellView : public QWidget
{
    Q_OBJECT

public:
    explicit TDWAccountPrefCellView(const QString &username, QWidget *parent = nullptr);

    // The row's user name.
    const QString &objectValue() const { return m_objectValue; }
    QLabel *accountUsernameField() const { return m_accountUsernameField; }
    QLabel *servicesField() const { return m_servicesField; }
    QToolButton *editButton() const { return m_editButton; }

    // The services line, in grey or (for what asks the user to act) in red.
    void setServicesText(const QString &text, bool alert);
    bool servicesTextIsAlert() const { return m_alert; }

signals:
    void editClicked(const QString &username);

private:
    QString m_objectValue;
    QLabel *m_accountUsernameField;
    QLabel *m_servicesField;
    QToolButton *m_editButton;
    bool m_alert = false;
};
