#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

class QLineEdit;
class QRadioButton;
class TDWFirstTimeUserController;

// The first-run window's page of initial settings: an optional address for
// the mailing list and whether to start at login (on unless changed).
// Software updates come from the distribution's packages, so there is no
// update setting. Continue leads to the first account; Cancel ends the
// application. Its controls carry object names: "emailAddress",
// "startAtLogin", "dontStartAtLogin", "continue", "cancel".
class TDWInitConfigViewController : public QObject
{
    Q_OBJECT

public:
    explicit TDWInitConfigViewController(TDWFirstTimeUserController *firstTimeUserController, QObject *parent = nullptr);
    ~TDWInitConfigViewController() override;

    QWidget *view() const { return m_view; }

    // The address typed, when it holds "@"; empty otherwise.
    QString emailAddress() const;
    bool startAtLogin() const;

private:
    TDWFirstTimeUserController *m_firstTimeUserController;
    QPointer<QWidget> m_view;
    QLineEdit *m_emailAddressField = nullptr;
    QRadioButton *m_startAtLogin = nullptr;
};
