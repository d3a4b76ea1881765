#include "prefs/TDWGeneralPrefsController.h"

#include "agent/TDWBackupScheduler.h"
#include "common/TDWSettingsKeys.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "prefs/TDWTidewellPrefsWindowController.h"
#include "ui/TDWWindowUtilities.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString ShowDeleted = QStringLiteral("showdeleted");

TDWUserDefaults *defaults()
{
    return TDWUserDefaults::standard();
}

const TDWPrefsEnvironment &environment()
{
    return TDWTidewellPrefsWindowController::environment();
}

} // namespace

TDWGeneralPrefsController::TDWGeneralPrefsController()
    : m_view(new QWidget)
    , m_showDeletedCheckbox(new QCheckBox(tr("Show deleted items in the backup browser")))
    , m_runInBackgroundCheckbox(new QCheckBox(tr("Run in the background, with only the status menu")))
    , m_keepHistoryMenu(new QComboBox)
    , m_startAtLoginCheckbox(new QCheckBox(tr("Start Tidewell at login")))
    , m_lockBackupFilesCheckbox(new QCheckBox(tr("Lock backup files")))
    , m_restartNowText(new QLabel(tr("Tidewell takes this setting when it starts.")))
    , m_restartNowButton(new QPushButton(tr("Restart Now")))
{
    setParent(m_view);
    m_view->setObjectName(QStringLiteral("generalPane"));
    m_showDeletedCheckbox->setObjectName(QStringLiteral("showDeletedCheckbox"));
    m_runInBackgroundCheckbox->setObjectName(QStringLiteral("runInBackgroundCheckbox"));
    m_keepHistoryMenu->setObjectName(QStringLiteral("keepHistoryMenu"));
    m_startAtLoginCheckbox->setObjectName(QStringLiteral("startAtLoginCheckbox"));
    m_lockBackupFilesCheckbox->setObjectName(QStringLiteral("lockBackupFilesCheckbox"));
    m_restartNowButton->setObjectName(QStringLiteral("restartNowButton"));

    const QList<std::pair<QString, qint64>> periods = {
        {tr("30 days"), 2592000}, {tr("90 days"), DefaultHistorySeconds}, {tr("180 days"), 15552000},
        {tr("1 year"), 31536000}, {tr("2 years"), 63072000},          {tr("Forever"), -1},
    };
    for (const auto &[title, seconds] : periods)
        m_keepHistoryMenu->addItem(title, seconds);

    auto *lockNote = new QLabel(tr("Locked files are read-only. You can still delete them, as their owner."));
    lockNote->setObjectName(QStringLiteral("lockBackupFilesNote"));
    QFont small = lockNote->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    lockNote->setFont(small);

    auto *layout = new QVBoxLayout(m_view);
    layout->addWidget(m_showDeletedCheckbox);
    layout->addWidget(m_runInBackgroundCheckbox);
    auto *restart = new QHBoxLayout;
    restart->setContentsMargins(24, 0, 0, 0);
    restart->addWidget(m_restartNowText);
    restart->addWidget(m_restartNowButton);
    restart->addStretch();
    layout->addLayout(restart);
    auto *history = new QFormLayout;
    history->addRow(tr("Keep history for:"), m_keepHistoryMenu);
    layout->addLayout(history);
    layout->addWidget(m_startAtLoginCheckbox);
    layout->addWidget(m_lockBackupFilesCheckbox);
    layout->addWidget(lockNote);
    layout->addStretch();
    m_view->setMinimumWidth(520);

    m_restartNowText->hide();
    m_restartNowButton->hide();
    fillControls();

    connect(m_showDeletedCheckbox, &QCheckBox::clicked, this, &TDWGeneralPrefsController::showDeletedCheckboxClick);
    connect(m_runInBackgroundCheckbox, &QCheckBox::clicked, this, &TDWGeneralPrefsController::runInBackgroundCheckboxClick);
    connect(m_keepHistoryMenu, &QComboBox::activated, this, &TDWGeneralPrefsController::handleKeepHistoryChange);
    connect(m_startAtLoginCheckbox, &QCheckBox::clicked, this, &TDWGeneralPrefsController::handleStartAtLoginCheckboxClick);
    connect(m_lockBackupFilesCheckbox, &QCheckBox::clicked, this, &TDWGeneralPrefsController::handleLockBackupFilesCheckboxClick);
    connect(m_restartNowButton, &QPushButton::clicked, this, &TDWGeneralPrefsController::handleRestartClick);
}

void TDWGeneralPrefsController::fillControls()
{
    m_showDeletedCheckbox->setChecked(defaults()->boolForKey(ShowDeleted));
    m_runInBackgroundCheckbox->setChecked(defaults()->boolForKey(TDWSettingsKeys::BackgroundApp));
    qint64 period = defaults()->integerForKey(TDWSettingsKeys::DeleteReferenceDeltaSeconds);
    if (period == 0)
        period = DefaultHistorySeconds;
    const int item = m_keepHistoryMenu->findData(period);
    if (item >= 0)
        m_keepHistoryMenu->setCurrentIndex(item);
    else
        tdwLog(QStringLiteral("ERROR: Unable to set keepHistoryMenu to %1").arg(period));
    m_startAtLoginCheckbox->setChecked(environment().inLoginItems && environment().inLoginItems());
    m_lockBackupFilesCheckbox->setChecked(defaults()->boolForKey(TDWSettingsKeys::LockBackupFiles));
}

void TDWGeneralPrefsController::showDeletedCheckboxClick()
{
    defaults()->setBool(m_showDeletedCheckbox->isChecked(), ShowDeleted);
}

void TDWGeneralPrefsController::runInBackgroundCheckboxClick()
{
    defaults()->setBool(m_runInBackgroundCheckbox->isChecked(), TDWSettingsKeys::BackgroundApp);
    // Once shown, they stay for as long as the pane is open.
    if (m_restartNowButton->isHidden()) {
        TDWWindowUtilities::setHiddenWithFade(m_restartNowText, false, true);
        TDWWindowUtilities::setHiddenWithFade(m_restartNowButton, false, true);
    }
}

void TDWGeneralPrefsController::handleKeepHistoryChange()
{
    defaults()->setInteger(m_keepHistoryMenu->currentData().toLongLong(), TDWSettingsKeys::DeleteReferenceDeltaSeconds);
}

void TDWGeneralPrefsController::handleStartAtLoginCheckboxClick()
{
    const auto &act = m_startAtLoginCheckbox->isChecked() ? environment().addToLoginItems : environment().removeFromLoginItems;
    if (act)
        act();
}

void TDWGeneralPrefsController::handleLockBackupFilesCheckboxClick()
{
    defaults()->setBool(m_lockBackupFilesCheckbox->isChecked(), TDWSettingsKeys::LockBackupFiles);
    defaults()->setInteger(defaults()->integerForKey(TDWSettingsKeys::LockBackupFilesLastChanged) + 1, TDWSettingsKeys::LockBackupFilesLastChanged);
    if (TDWBackupScheduler *scheduler = environment().backupScheduler ? environment().backupScheduler() : nullptr)
        scheduler->userRequestedImmediateBackup();
}

void TDWGeneralPrefsController::handleRestartClick()
{
    // The new instance waits for this one to end before it reads the settings.
    if (environment().startNewInstance && !environment().startNewInstance()) {
        // Quitting now would leave no Tidewell at all.
        tdwLog(QStringLiteral("ERROR: Unable to start Tidewell again: %1").arg(QCoreApplication::applicationFilePath()));
        return;
    }
    TDWBackupScheduler *scheduler = environment().backupScheduler ? environment().backupScheduler() : nullptr;
    if (scheduler && scheduler->backupInProgress())
        defaults()->setBool(true, TDWSettingsKeys::RestartedWhileBackupInProgress);
    defaults()->synchronize();
    if (environment().quitForRestart)
        environment().quitForRestart();
}
