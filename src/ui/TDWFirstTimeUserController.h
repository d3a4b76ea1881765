#pragma once

#include <QObject>

#include <memory>

class QLineEdit;
class QRadioButton;
class QWidget;

// The first-run window: a page of initial settings (an address for the
// mailing list, whether to start at login). Software updates come from the
// distribution's packages, so there is no update setting.
// Continue applies them and finishes the first run; Cancel ends the
// application without writing anything. Adding the first account from this
// window belongs to the account setup flow, which is not part of this program yet.
class TDWFirstTimeUserController : public QObject
{
    Q_OBJECT

public:
    explicit TDWFirstTimeUserController(QObject *parent = nullptr);
    ~TDWFirstTimeUserController() override;

    void showWindow();
    void close();
    QWidget *window() const { return m_window.get(); }

    // The page's buttons.
    void continueButton();
    void cancelButton();

    // The page's fields, for the caller's own checks.
    QLineEdit *emailAddressField() const { return m_emailAddressField; }
    QRadioButton *startAtLoginButton() const { return m_startAtLogin; }

signals:
    // Continue: the settings as the user left them. The address is empty
    // unless it holds "@". The window closes afterwards.
    void finished(const QString &emailAddress, bool startAtLogin);
    // Cancel or the window closed: the application is to end.
    void cancelled();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::unique_ptr<QWidget> m_window;
    QLineEdit *m_emailAddressField = nullptr;
    QRadioButton *m_startAtLogin = nullptr;
    QRadioButton *m_dontStartAtLogin = nullptr;
    bool m_done = false;
};
