#include "prefs/TDWAdvancedPrefsController.h"

#include "agent/TDWBackupScheduler.h"
#include "common/BKSNotUtils.h"
#include "common/TDWFileMgr.h"
#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "platform/desktop/TDWFileManager.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "prefs/TDWRuleSheetController.h"
#include "prefs/TDWTidewellPrefsWindowController.h"
#include "ui/TDWWindowUtilities.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString CalendarAccessChanged = QStringLiteral("not_changed_calendar_access_settings");
const QString ThrottlingHelpPath = QStringLiteral("/tidewell-throttling/");

TDWUserDefaults *defaults()
{
    return TDWUserDefaults::standard();
}

const TDWPrefsEnvironment &environment()
{
    return TDWTidewellPrefsWindowController::environment();
}

TDWBackupScheduler *scheduler()
{
    return environment().backupScheduler ? environment().backupScheduler() : nullptr;
}

void selectTag(QComboBox *menu, qint64 tag)
{
    const int item = menu->findData(tag);
    if (item >= 0)
        menu->setCurrentIndex(item);
}

QComboBox *menuOf(const QString &name, const QList<std::pair<QString, qint64>> &items)
{
    auto *menu = new QComboBox;
    menu->setObjectName(name);
    for (const auto &[title, tag] : items)
        menu->addItem(title, tag);
    return menu;
}

QString capitalized(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

QVariantMap throttleLevels()
{
    return TDWServiceTable::shared().getConfig().value(QStringLiteral("throttlelevels")).toMap();
}

} // namespace

TDWAdvancedPrefsController::TDWAdvancedPrefsController()
    : m_view(new QWidget)
    , m_performBackupMenu(menuOf(QStringLiteral("performBackupMenu"), {{tr("Every hour"), HourlySeconds},
                                                                      {tr("Every 2 hours"), 7200},
                                                                      {tr("Every 4 hours"), 14400},
                                                                      {tr("Every 8 hours"), 28800},
                                                                      {tr("Every 12 hours"), 43200},
                                                                      {tr("Every day"), 86400}}))
    , m_backupEveryHourCheckbox(new QCheckBox(tr("Back up every hour until the backup is complete")))
    , m_gmailBackupRateMenu(new QComboBox)
    , m_googleDriveTimeoutMenu(menuOf(QStringLiteral("googleDriveTimeoutMenu"),
                                      {{tr("30 seconds"), 30}, {tr("1 minute"), 60}, {tr("2 minutes"), 120}, {tr("5 minutes"), 300}}))
    , m_googleDriveSimultaneousMenu(menuOf(QStringLiteral("googleDriveSimultaneousMenu"), {{tr("1"), 1}, {tr("2"), 2}, {tr("4"), 4}, {tr("8"), 8}}))
    , m_calendarAccessLevelRadioButtons(new QButtonGroup(m_view))
    , m_locationField(new QLineEdit)
    , m_changeLocationButton(new QPushButton(tr("Change…")))
    , m_resetLocationButton(new QPushButton(tr("Reset")))
    , m_revealInFinderButton(new QPushButton(tr("Show in File Manager")))
    , m_linkToDifferentDirectoryButton(new QPushButton(tr("Link to Folder…")))
    , m_startNewDirectoryButton(new QPushButton(tr("Start New Folder…")))
    , m_backupInProgressLabel(new QLabel(tr("The backup folder cannot be changed while a backup or a restore runs.")))
    , m_editRulesButton(new QPushButton(tr("Exclusion Rules…")))
{
    setParent(m_view);
    m_view->setObjectName(QStringLiteral("advancedPane"));
    m_backupEveryHourCheckbox->setObjectName(QStringLiteral("backupEveryHourUntilBackupCompleteCheckbox"));
    m_gmailBackupRateMenu->setObjectName(QStringLiteral("gmailBackupRateMenu"));
    m_locationField->setObjectName(QStringLiteral("locationField"));
    m_locationField->setReadOnly(true);
    m_changeLocationButton->setObjectName(QStringLiteral("changeLocationButton"));
    m_resetLocationButton->setObjectName(QStringLiteral("resetLocationButton"));
    m_revealInFinderButton->setObjectName(QStringLiteral("revealInFinderButton"));
    m_linkToDifferentDirectoryButton->setObjectName(QStringLiteral("linkToDifferentDirectoryButton"));
    m_startNewDirectoryButton->setObjectName(QStringLiteral("startNewDirectoryButton"));
    m_backupInProgressLabel->setObjectName(QStringLiteral("backupInProgressLabel"));
    m_editRulesButton->setObjectName(QStringLiteral("editRulesButton"));

    // One item per retrieval rate of the service table, slowest first.
    QList<std::pair<qint64, QString>> levels;
    const QVariantMap table = throttleLevels();
    for (auto level = table.begin(); level != table.end(); ++level)
        levels.append({level.value().toMap().value(QStringLiteral("menutag")).toLongLong(), level.key()});
    std::sort(levels.begin(), levels.end());
    for (const auto &[tag, name] : levels)
        m_gmailBackupRateMenu->addItem(capitalized(name), tag);

    auto *help = new QToolButton;
    help->setObjectName(QStringLiteral("gmailBackupHelpButton"));
    help->setText(QStringLiteral("?"));
    help->setToolTip(tr("About the Gmail backup rate"));
    auto *rate = new QHBoxLayout;
    rate->addWidget(m_gmailBackupRateMenu, 1);
    rate->addWidget(help);

    auto *calendars = new QVBoxLayout;
    const QList<std::pair<QString, int>> cells = {{tr("Calendars I own"), 1},
                                                  {tr("All calendars except those showing only free/busy times"), 2},
                                                  {tr("All calendars"), 3}};
    for (const auto &[title, tag] : cells) {
        auto *cell = new QRadioButton(title);
        cell->setObjectName(QStringLiteral("calendarAccessLevel%1").arg(tag));
        m_calendarAccessLevelRadioButtons->addButton(cell, tag);
        calendars->addWidget(cell);
    }

    auto *form = new QFormLayout;
    form->addRow(tr("Back up:"), m_performBackupMenu);
    form->addRow(QString(), m_backupEveryHourCheckbox);
    form->addRow(tr("Gmail backup rate:"), rate);
    form->addRow(tr("Google Drive time-out:"), m_googleDriveTimeoutMenu);
    form->addRow(tr("Simultaneous Google Drive downloads:"), m_googleDriveSimultaneousMenu);
    form->addRow(tr("Back up calendars:"), calendars);
    form->addRow(tr("Google Drive, Contacts, Calendar:"), m_editRulesButton);

    auto *folder = new QVBoxLayout;
    folder->addWidget(m_locationField);
    auto *folderButtons = new QHBoxLayout;
    for (QPushButton *button : {m_changeLocationButton, m_resetLocationButton, m_revealInFinderButton, m_linkToDifferentDirectoryButton,
                                m_startNewDirectoryButton})
        folderButtons->addWidget(button);
    folderButtons->addStretch();
    folder->addLayout(folderButtons);
    folder->addWidget(m_backupInProgressLabel);

    form->addRow(tr("Backup folder:"), folder);

    auto *layout = new QVBoxLayout(m_view);
    layout->addLayout(form);
    layout->addStretch();
    m_view->setMinimumWidth(600);

    connect(m_performBackupMenu, &QComboBox::activated, this, &TDWAdvancedPrefsController::handlePerformBackupsChange);
    connect(m_backupEveryHourCheckbox, &QCheckBox::clicked, this, &TDWAdvancedPrefsController::handleBackupEveryHourUntilBackupCompleteCheckboxChange);
    connect(m_gmailBackupRateMenu, &QComboBox::activated, this, &TDWAdvancedPrefsController::handleChangeGmailBackupRateMenu);
    connect(m_googleDriveTimeoutMenu, &QComboBox::activated, this, &TDWAdvancedPrefsController::handleTimeoutChange);
    connect(m_googleDriveSimultaneousMenu, &QComboBox::activated, this, &TDWAdvancedPrefsController::handleSimultaneousChange);
    connect(m_calendarAccessLevelRadioButtons, &QButtonGroup::idClicked, this, &TDWAdvancedPrefsController::handleCalendarAccessRadioButtonClick);
    connect(help, &QToolButton::clicked, this, &TDWAdvancedPrefsController::handleClickGmailBackupHelpButton);
    connect(m_editRulesButton, &QPushButton::clicked, this, &TDWAdvancedPrefsController::editDocsExcRules);
    connect(m_revealInFinderButton, &QPushButton::clicked, this, &TDWAdvancedPrefsController::revealInFinderClick);
    connect(m_changeLocationButton, &QPushButton::clicked, this, &TDWAdvancedPrefsController::changeLocationRequested, Qt::QueuedConnection);
    connect(m_resetLocationButton, &QPushButton::clicked, this, &TDWAdvancedPrefsController::resetLocationRequested, Qt::QueuedConnection);
    connect(m_linkToDifferentDirectoryButton, &QPushButton::clicked, this, &TDWAdvancedPrefsController::linkToDifferentDirectoryRequested);
    connect(m_startNewDirectoryButton, &QPushButton::clicked, this, &TDWAdvancedPrefsController::startNewDirectoryRequested);

    TDWNotificationCenter &center = TDWNotificationCenter::defaultCenter();
    for (const char *name : {"recovery_in_progress", "recovery_complete", "backupInProgress", "failedBackup"})
        center.addObserver(QString::fromLatin1(name), [this](const TDWNotification &) { setEnabledOnChangeLocationButtons(); }, this);
    center.addObserver(CalendarAccessChanged, [this](const TDWNotification &) { handleCalendarSettingChange(); }, this);
    m_linkToDifferentDirectoryButton->hide();
    m_startNewDirectoryButton->hide();
    m_backupInProgressLabel->hide();
    fillControls();
    // Queued, whichever thread wrote the setting: the writer never waits for the main thread.
    connect(defaults(), &TDWUserDefaults::changed, this, &TDWAdvancedPrefsController::defaultsChanged, Qt::QueuedConnection);
}

TDWAdvancedPrefsController::~TDWAdvancedPrefsController()
{
    // The sheet lives on the window, which outlives the pane.
    delete m_ruleSheet;
}

void TDWAdvancedPrefsController::fillControls()
{
    qint64 interval = defaults()->integerForKey(TDWSettingsKeys::SecondsBetweenBackups);
    if (interval == 0)
        interval = HourlySeconds;
    selectTag(m_performBackupMenu, interval);
    m_backupEveryHourCheckbox->setEnabled(interval != HourlySeconds);
    m_backupEveryHourCheckbox->setChecked(!defaults()->boolForKey(TDWSettingsKeys::DontIgnoreBackupIntervalWhenBackupIncomplete));
    selectTag(m_googleDriveTimeoutMenu, defaults()->integerForKey(TDWSettingsKeys::GoogleDriveTimeout));
    selectTag(m_googleDriveSimultaneousMenu, defaults()->integerForKey(TDWSettingsKeys::GoogleDriveSimultaneous));
    m_locationField->setText(backupFolderPath());
    if (defaults()->boolForKey(TDWSettingsKeys::BackupDirIsMissing))
        handleMissingBackupsDir();
    setEnabledOnChangeLocationButtons();
    selectTag(m_gmailBackupRateMenu, TDWServiceTable::shared().getThrottleLevel().value(QStringLiteral("menutag")).toLongLong());
    if (QAbstractButton *cell = m_calendarAccessLevelRadioButtons->button(int(defaults()->integerForKey(TDWSettingsKeys::CalendarAccessLevel))))
        cell->setChecked(true);
}

QString TDWAdvancedPrefsController::backupFolderPath()
{
    const QString chosen = TDWFileMgr::altBackupLocation();
    const QString standard = TDWFileMgr::defaultBackupLocation();
    return !chosen.isEmpty() && chosen != standard ? chosen : standard;
}

void TDWAdvancedPrefsController::handlePerformBackupsChange()
{
    const qint64 interval = m_performBackupMenu->currentData().toLongLong();
    defaults()->setInteger(interval, TDWSettingsKeys::SecondsBetweenBackups);
    m_backupEveryHourCheckbox->setEnabled(interval != HourlySeconds);
    if (TDWBackupScheduler *backups = scheduler())
        backups->scheduleNext();
}

void TDWAdvancedPrefsController::handleBackupEveryHourUntilBackupCompleteCheckboxChange()
{
    defaults()->setBool(!m_backupEveryHourCheckbox->isChecked(), TDWSettingsKeys::DontIgnoreBackupIntervalWhenBackupIncomplete);
    if (TDWBackupScheduler *backups = scheduler())
        backups->scheduleNext();
}

void TDWAdvancedPrefsController::handleChangeGmailBackupRateMenu()
{
    const qint64 tag = m_gmailBackupRateMenu->currentData().toLongLong();
    const QVariantMap levels = throttleLevels();
    for (auto level = levels.begin(); level != levels.end(); ++level) {
        if (level.value().toMap().value(QStringLiteral("menutag")).toLongLong() == tag) {
            defaults()->setString(level.key(), TDWSettingsKeys::ThrottleLevel);
            return;
        }
    }
}

void TDWAdvancedPrefsController::handleTimeoutChange()
{
    defaults()->setInteger(m_googleDriveTimeoutMenu->currentData().toLongLong(), TDWSettingsKeys::GoogleDriveTimeout);
}

void TDWAdvancedPrefsController::handleSimultaneousChange()
{
    defaults()->setInteger(m_googleDriveSimultaneousMenu->currentData().toLongLong(), TDWSettingsKeys::GoogleDriveSimultaneous);
}

void TDWAdvancedPrefsController::handleCalendarAccessRadioButtonClick()
{
    defaults()->setInteger(m_calendarAccessLevelRadioButtons->checkedId(), TDWSettingsKeys::CalendarAccessLevel);
    BKSNotUtils::postNotificationName(CalendarAccessChanged);
}

void TDWAdvancedPrefsController::handleCalendarSettingChange()
{
    const int level = int(defaults()->integerForKey(TDWSettingsKeys::CalendarAccessLevel));
    if (m_calendarAccessLevelRadioButtons->checkedId() != level)
        if (QAbstractButton *cell = m_calendarAccessLevelRadioButtons->button(level))
            cell->setChecked(true);
}

void TDWAdvancedPrefsController::handleClickGmailBackupHelpButton()
{
    QUrl page(defaults()->stringForKey(TDWSettingsKeys::SecureWebSiteUrl));
    if (page.host().isEmpty())
        return;
    page.setPath(ThrottlingHelpPath);
    QDesktopServices::openUrl(page);
}

void TDWAdvancedPrefsController::editDocsExcRules()
{
    if (!m_ruleSheet)
        m_ruleSheet = new TDWRuleSheetController(m_view->window());
    m_ruleSheet->configurePredicateEditor();
    m_ruleSheet->open();
}

void TDWAdvancedPrefsController::revealInFinderClick()
{
    const QString chosen = TDWFileMgr::altBackupLocation();
    const QString path = chosen.isEmpty() ? TDWFileMgr::defaultBackupLocation() : chosen;
    if (!QFileInfo::exists(path)) {
        if (!chosen.isEmpty() && chosen != TDWFileMgr::defaultBackupLocation()) {
            // Its disk may be away: made here, it would end up on another disk
            // and take the next backups there.
            defaults()->setBool(true, TDWSettingsKeys::BackupDirIsMissing);
            handleMissingBackupsDir();
            return;
        }
        QDir().mkdir(path);
    }
    TDWFileManager::revealItem(path);
}

void TDWAdvancedPrefsController::setEnabledOnChangeLocationButtons()
{
    const bool backupRuns = scheduler() && scheduler()->backupInProgress();
    const bool allowed = !(environment().recoveryInProgress && environment().recoveryInProgress()) && !backupRuns;
    if (backupRuns) {
        if (m_backupInProgressLabel->isHidden() && m_startNewDirectoryButton->isHidden())
            TDWWindowUtilities::setHiddenWithFade(m_backupInProgressLabel, false, m_view->isVisible());
    } else if (!m_backupInProgressLabel->isHidden()) {
        TDWWindowUtilities::setHiddenWithFade(m_backupInProgressLabel, true, m_view->isVisible());
    }
    m_changeLocationButton->setEnabled(allowed);
    const QString chosen = TDWFileMgr::altBackupLocation();
    m_resetLocationButton->setEnabled(allowed && !chosen.isEmpty() && chosen != TDWFileMgr::defaultBackupLocation());
}

void TDWAdvancedPrefsController::handleMissingBackupsDir()
{
    QPalette palette = m_locationField->palette();
    palette.setColor(QPalette::Text, Qt::red);
    m_locationField->setPalette(palette);
    m_changeLocationButton->hide();
    m_resetLocationButton->hide();
    m_revealInFinderButton->hide();
    m_startNewDirectoryButton->show();
    m_linkToDifferentDirectoryButton->show();
}

void TDWAdvancedPrefsController::handleFoundBackupsDir()
{
    m_locationField->setPalette(QPalette());
    m_startNewDirectoryButton->hide();
    m_linkToDifferentDirectoryButton->hide();
    m_changeLocationButton->show();
    m_resetLocationButton->show();
    m_revealInFinderButton->show();
}

void TDWAdvancedPrefsController::defaultsChanged()
{
    // Changes that come together are looked at once.
    if (m_defaultsChangePending)
        return;
    m_defaultsChangePending = true;
    QMetaObject::invokeMethod(this, &TDWAdvancedPrefsController::handleDefaultsChanged, Qt::QueuedConnection);
}

void TDWAdvancedPrefsController::handleDefaultsChanged()
{
    m_defaultsChangePending = false;
    const QString path = backupFolderPath();
    setEnabledOnChangeLocationButtons();
    if (m_locationField->text() != path)
        m_locationField->setText(path);
    const bool missing = defaults()->boolForKey(TDWSettingsKeys::BackupDirIsMissing);
    if (missing && m_linkToDifferentDirectoryButton->isHidden())
        handleMissingBackupsDir();
    else if (!missing && !m_linkToDifferentDirectoryButton->isHidden())
        handleFoundBackupsDir();
}
