#include "migration/TDWMigratingProgressWindowController.h"

#include "common/TDWFileMgr.h"
#include "dataobjects/TDWMasterStore.h"
#include "migration/TDWDataFileUpgrade.h"
#include "migration/TDWMigrationManager.h"
#include "migration/TDWSignInSurvey.h"
#include "platform/foundation/TDWMainThread.h"
#include "platform/foundation/TDWOperationQueue.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QWidget>

namespace {

// The bar's steps: fine enough that every fraction the migration reports moves it.
constexpr int ProgressSteps = 1000;

} // namespace

TDWMigratingProgressWindowController::TDWMigratingProgressWindowController(bool updateDatabase, bool updateOauth, QObject *parent)
    : QObject(parent)
    , m_updateDatabase(updateDatabase)
    , m_updateOauth(updateOauth)
    , m_window(std::make_unique<QWidget>())
    , m_workQueue(std::make_unique<TDWOperationQueue>())
{
    m_workQueue->setMaxConcurrentOperationCount(1);
    m_window->setWindowTitle(QStringLiteral("Tidewell"));
    m_label = new QLabel(updateDatabase ? tr("Updating the backup database…") : tr("Updating authentication credentials…"));
    m_progressIndicator = new QProgressBar;
    // No fraction is known yet: a busy indicator.
    m_progressIndicator->setRange(0, 0);
    auto *layout = new QVBoxLayout(m_window.get());
    layout->addWidget(m_label);
    layout->addWidget(m_progressIndicator);
    m_window->resize(420, 110);
}

TDWMigratingProgressWindowController::~TDWMigratingProgressWindowController()
{
    // The work reaches this object until it ends.
    m_workQueue->waitUntilAllOperationsAreFinished();
}

void TDWMigratingProgressWindowController::showWindow()
{
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    startMigration();
}

void TDWMigratingProgressWindowController::close()
{
    m_window->close();
}

QString TDWMigratingProgressWindowController::labelText() const
{
    return m_label->text();
}

void TDWMigratingProgressWindowController::startMigration()
{
    m_workQueue->addOperation([this] { work(); });
}

std::unique_ptr<TDWManagedObjectContext> TDWMigratingProgressWindowController::newMoc(const std::shared_ptr<TDWPersistentStoreCoordinator> &destPsc)
{
    return destPsc ? std::make_unique<TDWManagedObjectContext>(destPsc) : TDWMasterStore::shared().newMoc();
}

void TDWMigratingProgressWindowController::work()
{
    TDWUpgradeResult result;
    if (m_updateDatabase) {
        TDWMigrationManager manager;
        connect(
            &manager, &TDWMigrationManager::tdwMigrationProgressChanged, this,
            [this](float progress) { TDWMainThread::post(this, [this, progress] { showProgress(progress); }); },
            Qt::DirectConnection);
        result.destPsc = TDWDataFileUpgrade::run(manager, TDWFileMgr::dataFilePath(), QDateTime::currentDateTimeUtc());
        if (!result.destPsc) {
            TDWMainThread::post(this, [this] { emit failed(); });
            return;
        }
    }
    if (m_updateOauth) {
        TDWSignInSurvey survey;
        const std::unique_ptr<TDWManagedObjectContext> moc = newMoc(result.destPsc);
        // Unread accounts are no reason to stop: the notes then name none.
        if (moc && TDWSignInSurvey::take(*moc, &survey)) {
            result.allUsernames = survey.allUsernames;
            result.failedOauthAccountUsernames = survey.failedUsernames;
        }
    }
    TDWMainThread::post(this, [this, result] { emit finished(result); });
}

void TDWMigratingProgressWindowController::showProgress(float progress)
{
    // Tiny fractions leave the indicator spinning.
    if (progress <= 0.0001f)
        return;
    m_progressIndicator->setRange(0, ProgressSteps);
    m_progressIndicator->setValue(int(progress * ProgressSteps));
}
