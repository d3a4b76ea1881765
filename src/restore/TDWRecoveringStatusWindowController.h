#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;
class TDWRecoveryUserOperation;

// The small status window of one restore request. A restore that is over
// within half a second with nothing to report never shows it; otherwise it
// shows "Restoring…" with a bar and Cancel, and at the end closes by itself
// (everything restored) or shows what went wrong with OK. The texts and the
// bar's value come from the request's progress.
//
// Made on the main thread with the request; it ends itself (deleteLater())
// once it has closed, or once the request is over without showing it.
class TDWRecoveringStatusWindowController : public QObject
{
    Q_OBJECT

public:
    // How long a restore may run before its window shows.
    static constexpr int ShowDelayMs = 500;

    explicit TDWRecoveringStatusWindowController(std::shared_ptr<TDWRecoveryUserOperation> request, QObject *parent = nullptr);
    ~TDWRecoveringStatusWindowController() override;

    // Null until the window is first needed.
    QWidget *window() const { return m_window.get(); }
    QLabel *text() const { return m_text; }
    QProgressBar *progressIndicator() const { return m_progressIndicator; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    QPushButton *okButton() const { return m_okButton; }

    void showIfInProgress();
    void showWindow();
    void updateProgress();
    void cancel();
    void okButtonClick();

private:
    void loadWindow();
    void updateWindow();
    void closeWindow();

    std::shared_ptr<TDWRecoveryUserOperation> m_request;
    std::unique_ptr<QWidget> m_window;
    QLabel *m_text = nullptr;
    QProgressBar *m_progressIndicator = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QPushButton *m_okButton = nullptr;
    bool m_delayOver = false;
};
