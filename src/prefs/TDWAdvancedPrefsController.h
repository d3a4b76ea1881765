#pragma once

#include "prefs/TDWRuleSheetController.h"

#include <QObject>
#include <QPointer>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// The Advanced pane: how often backups run and whether an incomplete backup
// is retried hourly, the Gmail rate, the Google Drive time-out and parallel
// downloads, which calendars are backed up, the exclusion rules (their
// sheet), and the backup folder with the buttons for it. The folder buttons
// follow "backupdirismissing" (found or missing) and are disabled while a
// backup or a restore runs. The controller lives as long as its view.
class TDWAdvancedPrefsController : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 HourlySeconds = 3600;

    TDWAdvancedPrefsController();
    ~TDWAdvancedPrefsController() override;

    QWidget *view() const { return m_view; }
    QComboBox *performBackupMenu() const { return m_performBackupMenu; }
    QCheckBox *backupEveryHourUntilBackupCompleteCheckbox() const { return m_backupEveryHourCheckbox; }
    QComboBox *gmailBackupRateMenu() const { return m_gmailBackupRateMenu; }
    QComboBox *googleDriveTimeoutMenu() const { return m_googleDriveTimeoutMenu; }
    QComboBox *googleDriveSimultaneousMenu() const { return m_googleDriveSimultaneousMenu; }
    QButtonGroup *calendarAccessLevelRadioButtons() const { return m_calendarAccessLevelRadioButtons; }
    QLineEdit *locationField() const { return m_locationField; }
    QPushButton *changeLocationButton() const { return m_changeLocationButton; }
    QPushButton *resetLocationButton() const { return m_resetLocationButton; }
    QPushButton *revealInFinderButton() const { return m_revealInFinderButton; }
    QPushButton *linkToDifferentDirectoryButton() const { return m_linkToDifferentDirectoryButton; }
    QPushButton *startNewDirectoryButton() const { return m_startNewDirectoryButton; }
    QLabel *backupInProgressLabel() const { return m_backupInProgressLabel; }
    QPushButton *editRulesButton() const { return m_editRulesButton; }
    TDWRuleSheetController *ruleSheet() const { return m_ruleSheet; }

    void handlePerformBackupsChange();
    void handleBackupEveryHourUntilBackupCompleteCheckboxChange();
    void handleChangeGmailBackupRateMenu();
    void handleTimeoutChange();
    void handleSimultaneousChange();
    void handleCalendarAccessRadioButtonClick();
    void handleClickGmailBackupHelpButton();
    void editDocsExcRules();
    // Shows the backup folder in the file manager. Only the default folder is
    // made when it is not there; a chosen folder that is missing (its disk
    // not attached, say) is reported missing, never made on another disk.
    void revealInFinderClick();

    // The folder shown: the chosen one when set and not the default, else the default.
    static QString backupFolderPath();

signals:
    // The folder operations the buttons ask for; they are the backup folder's own.
    void changeLocationRequested();
    void resetLocationRequested();
    void linkToDifferentDirectoryRequested();
    void startNewDirectoryRequested();

private:
    void fillControls();
    void setEnabledOnChangeLocationButtons();
    void handleMissingBackupsDir();
    void handleFoundBackupsDir();
    void handleCalendarSettingChange();
    void defaultsChanged();
    void handleDefaultsChanged();

    QWidget *m_view;
    QComboBox *m_performBackupMenu;
    QCheckBox *m_backupEveryHourCheckbox;
    QComboBox *m_gmailBackupRateMenu;
    QComboBox *m_googleDriveTimeoutMenu;
    QComboBox *m_googleDriveSimultaneousMenu;
    QButtonGroup *m_calendarAccessLevelRadioButtons;
    QLineEdit *m_locationField;
    QPushButton *m_changeLocationButton;
    QPushButton *m_resetLocationButton;
    QPushButton *m_revealInFinderButton;
    QPushButton *m_linkToDifferentDirectoryButton;
    QPushButton *m_startNewDirectoryButton;
    QLabel *m_backupInProgressLabel;
    QPushButton *m_editRulesButton;
    QPointer<TDWRuleSheetController> m_ruleSheet;
    bool m_defaultsChangePending = false;
};
