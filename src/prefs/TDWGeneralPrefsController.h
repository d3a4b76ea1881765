#pragma once

#include <QObject>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QWidget;

// The General pane: deleted items in the browser, running with the status
// menu only (read at launch, hence the Restart button it reveals), how long
// history is kept, starting at login (the autostart entry) and locking the
// backup files. Each control takes effect at once. The controller lives as
// long as its view.
class TDWGeneralPrefsController : public QObject
{
    Q_OBJECT

public:
    // The history period that an absent or 0 value stands for: 90 days.
    static constexpr qint64 DefaultHistorySeconds = 7776000;

    TDWGeneralPrefsController();

    QWidget *view() const { return m_view; }
    QCheckBox *showDeletedCheckbox() const { return m_showDeletedCheckbox; }
    QCheckBox *runInBackgroundCheckbox() const { return m_runInBackgroundCheckbox; }
    QComboBox *keepHistoryMenu() const { return m_keepHistoryMenu; }
    QCheckBox *startAtLoginCheckbox() const { return m_startAtLoginCheckbox; }
    QCheckBox *lockBackupFilesCheckbox() const { return m_lockBackupFilesCheckbox; }
    QLabel *restartNowText() const { return m_restartNowText; }
    QPushButton *restartNowButton() const { return m_restartNowButton; }

    void showDeletedCheckboxClick();
    void runInBackgroundCheckboxClick();
    void handleKeepHistoryChange();
    void handleStartAtLoginCheckboxClick();
    void handleLockBackupFilesCheckboxClick();
    // Starts the new instance (which waits for this one to end), then quits.
    void handleRestartClick();

private:
    void fillControls();

    QWidget *m_view;
    QCheckBox *m_showDeletedCheckbox;
    QCheckBox *m_runInBackgroundCheckbox;
    QComboBox *m_keepHistoryMenu;
    QCheckBox *m_startAtLoginCheckbox;
    QCheckBox *m_lockBackupFilesCheckbox;
    QLabel *m_restartNowText;
    QPushButton *m_restartNowButton;
};
