#include "app/TDWAppController.h"

#include "accounts/TDWKeychainMgr.h"
#include "agent/TDWBackupScheduler.h"
#include "app/TDWAppMenus.h"
#include "app/TDWDesktopNotifier.h"
#include "app/TDWLaunchUrlHandler.h"
#include "app/TDWMonitorApp.h"
#include "app/TDWQuitFlow.h"
#include "app/TDWRecoveryQueue.h"
#include "app/TDWRegisterClasses.h"
#include "app/TDWStartupFixups.h"
#include "app/TDWTrayWatch.h"
#include "app/TDWWindowRegistry.h"
#include "common/TDWFileMgr.h"
#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "common/TDWUrlEncoding.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "loginitem/TDWLoginItemMgr.h"
#include "loginitem/TDWLoginItemMigrator.h"
#include "migration/TDWFirstTimeV25WindowController.h"
#include "migration/TDWMigratingProgressWindowController.h"
#include "migration/TDWMigrationManager.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWMainThread.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWPropertyList.h"
#include "platform/foundation/TDWResources.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/http/TDWHttpOperation.h"
#include "prefs/TDWRelaunch.h"
#include "prefs/TDWTidewellPrefsWindowController.h"
#include "status/TDWActivityMonitor.h"
#include "status/TDWStatusMgr.h"
#include "ui/TDWFirstTimeUserController.h"
#include "ui/TDWMainWindowController.h"
#include "ui/TDWStatusItemMgr.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QUrl>

#include <csignal>
#include <cstdlib>
#include <ctime>

namespace {

TDWAppController *g_shared = nullptr;

// The maker's secure web site, where the mailing list is.
const QString SecureWebSite = QStringLiteral("https://www.tidewell.org");
const QString MailingListPath = QStringLiteral("/subscribetomailinglist.php");

// Set once the user has been told where the status menu is on a desktop without a tray.
const QString StatusMenuNoticeShownKey = QStringLiteral("statusMenuInWindowNoticeShown");

// The one-time flags each of which, found unset at launch, asks for a backup at once.
const QStringList OneTimeBackupFlags = {TDWSettingsKeys::Mail2};

TDWUserDefaults *defaults()
{
    return TDWUserDefaults::standard();
}

} // namespace

TDWAppController::TDWAppController(std::unique_ptr<TDWAppPrompts> prompts, QObject *parent)
    : QObject(parent)
    , m_prompts(std::move(prompts))
    , m_loginItems{&TDWLoginItemMigrator::migrateLoginItem, &TDWLoginItemMgr::inLoginItems, &TDWLoginItemMgr::addToLoginItems,
                   &TDWLoginItemMgr::removeFromLoginItems}
    , m_monitorApp(new TDWMonitorApp(TDWMonitorApp::defaultProgram(), this))
    // Made here rather than at launch, so that restores can be added at any time.
    , m_recoveryQueue(std::make_unique<TDWRecoveryQueue>())
    , m_quitFlow(std::make_unique<TDWQuitFlow>(*this))
    , m_appMenus(std::make_unique<TDWAppMenus>(*this))
    , m_windows(std::make_unique<TDWWindowRegistry>(m_appMenus->menus()))
    , m_statusQueue(std::make_unique<TDWOperationQueue>())
{
    g_shared = this;
    connect(m_quitFlow.get(), &TDWQuitFlow::approved, this, [this] { stop(EXIT_SUCCESS); });
    // What the preferences act on; the login items as set when they are used.
    TDWTidewellPrefsWindowController::setEnvironment({
        [this] { return m_backupScheduler.get(); },
        [this] { return m_recoveryQueue && m_recoveryQueue->inProgress(); },
        [this] { return m_loginItems.inLoginItems && m_loginItems.inLoginItems(); },
        [this] { if (m_loginItems.addToLoginItems) m_loginItems.addToLoginItems(); },
        [this] { if (m_loginItems.removeFromLoginItems) m_loginItems.removeFromLoginItems(); },
        [] { return TDWRelaunch::startNewInstance(QCoreApplication::applicationFilePath()); },
        [this] {
            m_quitFlow->setRestartingTemp();
            m_quitFlow->terminate();
        },
    });
    TDWFileMgr::setFatalHandler([this](const TDWError &error) { fileLayoutFailed(error); });
}

TDWAppController::~TDWAppController()
{
    TDWFileMgr::setFatalHandler({});
    TDWTidewellPrefsWindowController::setEnvironment({});
    for (const std::weak_ptr<TDWHttpOperation> &subscription : std::as_const(m_subscriptions))
        if (const auto running = subscription.lock())
            running->cancel();
    // Restores and the status thread hold no pointer to this object once
    // their queues are gone.
    m_recoveryQueue.reset();
    m_statusQueue.reset();
    // The status manager may outlive the scheduler it asks.
    if (const std::shared_ptr<TDWStatusMgr> status = statusMgr())
        status->setBackupInProgressCheck({});
    // Its rule updates and evaluations end here, before the status manager
    // and the activity monitor go.
    m_backupScheduler.reset();
    m_windows.reset();
    delete m_firstTimeUserController;
    delete m_migratingDatabaseWindowController;
    m_appMenus.reset();
    if (TDWLoginNotifier::shared() == m_notifier)
        TDWLoginNotifier::setShared(nullptr);
    if (TDWActivityMonitor::shared() == m_activityMonitor.get())
        TDWActivityMonitor::setShared(nullptr);
    if (g_shared == this)
        g_shared = nullptr;
}

TDWAppController *TDWAppController::shared()
{
    return g_shared;
}

void TDWAppController::setLoginItems(LoginItems loginItems)
{
    m_loginItems = std::move(loginItems);
}

void TDWAppController::setMonitorProgram(const QString &path)
{
    delete m_monitorApp;
    m_monitorApp = new TDWMonitorApp(path, this);
}

void TDWAppController::setBackupSchedulerEnvironment(std::function<TDWBackupSchedulerEnvironment()> makeEnvironment)
{
    m_makeSchedulerEnvironment = std::move(makeEnvironment);
}

// ---------------------------------------------------------------------------
// Start-up

void TDWAppController::applicationWillFinishLaunching()
{
    if (!checkServiceTable())
        return;
    // Before anything makes an object by a name the service table gives.
    TDWRegisterClasses();
    registerDefaults();
    TDWStartupFixups::deleteQuickLookFolder();
    // Opening the launch URL starts or brings forward this program.
    TDWLaunchUrlHandler::registerAsDefault();
    // "Login required" notices of the access-token refresh go to the desktop.
    if (!m_notifier) {
        m_notifier = new TDWDesktopNotifier(QDBusConnection::sessionBus(), this);
        connect(m_notifier, &TDWDesktopNotifier::activated, m_windows.get(), &TDWWindowRegistry::userNotificationActivated);
        TDWLoginNotifier::setShared(m_notifier);
    }
    // Passwords given to account updates stay in memory for this run only.
    TDWAccount::setPasswordCache([](const QString &password, const QString &username) {
        TDWKeychainMgr::keychainMgr()->cachePassword(password, username);
    });
    if (m_loginItems.migrateLoginItem)
        m_loginItems.migrateLoginItem();
    writeKnownServices();
    // A peer that hangs up must give an error, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    m_monitorApp->launch();
    if (!defaults()->boolForKey(TDWSettingsKeys::BackgroundApp))
        makeForegroundApp();
    m_migrationInProgress = false;
    // The HTTP back-off draws from the C library's generator.
    std::srand(static_cast<unsigned>(std::clock()) ^ static_cast<unsigned>(std::time(nullptr)));
}

bool TDWAppController::checkServiceTable()
{
    if (!TDWServiceTable::shared().serviceConfigs().isEmpty())
        return true;
    stopWithError(tr("Tidewell is unable to read its service table (%1). Please reinstall Tidewell.")
                      .arg(TDWResources::path(QStringLiteral("Config"), QStringLiteral("plist"))));
    return false;
}

void TDWAppController::registerDefaults()
{
    // The Gmail host comes from the service table, so tests and the demo can point it elsewhere.
    const QString imapHost = TDWServiceTable::shared().serviceConfig(TDWServiceIds::Mail).imapHost;
    QVariantMap registered{
        {TDWSettingsKeys::OAuth2Enabled, true},
        {TDWSettingsKeys::CalendarAccessLevel, 1},
        {TDWSettingsKeys::GoogleDriveTimeout, 60},
        {TDWSettingsKeys::GoogleDriveSimultaneous, 4},
        {TDWSettingsKeys::LockBackupFiles, true},
        {TDWSettingsKeys::SecureWebSiteUrl, SecureWebSite},
    };
    if (!imapHost.isEmpty())
        registered.insert(TDWSettingsKeys::Hostname, imapHost);
    defaults()->registerDefaults(registered);
}

void TDWAppController::writeKnownServices()
{
    QStringList ids;
    for (const TDWServiceConfig &service : TDWServiceTable::shared().serviceConfigs())
        ids.append(service.id);
    defaults()->setObject(ids, TDWSettingsKeys::KnownServices);
}

void TDWAppController::makeForegroundApp()
{
    // A Linux desktop has no separate foreground state: the windows are the
    // application's presence. What remains is the screenshot settings copy.
    if (defaults()->boolForKey(TDWSettingsKeys::ScreenshotPrefs))
        TDWStartupFixups::copyScreenShotPrefs();
}

void TDWAppController::applicationDidFinishLaunching()
{
    if (m_stopping)
        return;
    openMasterStore();
}

void TDWAppController::openMasterStore()
{
    const bool firstTime = defaults()->boolForKey(TDWSettingsKeys::FirstTime);
    const bool doneOauth = defaults()->boolForKey(TDWSettingsKeys::DoneOAuth);
    const bool needsOauthConversion = firstTime && !doneOauth;

    TDWMasterStore &store = TDWMasterStore::shared();
    store.setPersistentStoreCoordinator(store.persistentStoreCoordinatorMigrating(false));
    // The data folder could not be made: there is nowhere to keep anything.
    if (const TDWError fatal = fatalError(); !fatal.isNull()) {
        stopWithError(fatal.localizedDescription());
        return;
    }

    // The master store may be current while stores it names are not: they too
    // go through the upgrade before the store manager opens them.
    if (store.persistentStoreCoordinator() && TDWMigrationManager().storesNeedMigration(TDWFileMgr::dataFilePath()))
        store.setPersistentStoreCoordinator(nullptr);

    if (store.persistentStoreCoordinator() && doneOauth) {
        initAfterStoreCoordinator(setOneTimeBackupFlags());
        return;
    }
    // A new user passes through the upgrade window too, with nothing to do.
    showUpgradeWindow(!store.persistentStoreCoordinator(), needsOauthConversion);
}

bool TDWAppController::setOneTimeBackupFlags()
{
    bool anyWasUnset = false;
    for (const QString &flag : OneTimeBackupFlags) {
        if (!defaults()->boolForKey(flag)) {
            defaults()->setBool(true, flag);
            anyWasUnset = true;
        }
    }
    return anyWasUnset;
}

void TDWAppController::showUpgradeWindow(bool updateDatabase, bool updateOauth)
{
    m_migrationInProgress = true;
    auto *window = new TDWMigratingProgressWindowController(updateDatabase, updateOauth);
    m_migratingDatabaseWindowController = window;
    connect(window, &TDWMigratingProgressWindowController::finished, this, &TDWAppController::finishedUpgradingDb);
    connect(window, &TDWMigratingProgressWindowController::failed, this, &TDWAppController::handleDbUpgradeFailure);
    window->showWindow();
}

void TDWAppController::finishedUpgradingDb(const TDWUpgradeResult &result)
{
    if (m_stopping)
        return;
    defaults()->setBool(true, TDWSettingsKeys::DoneOAuth);
    TDWMasterStore &store = TDWMasterStore::shared();
    if (!store.persistentStoreCoordinator())
        store.setPersistentStoreCoordinator(result.destPsc);
    if (result.allUsernames) {
        defaults()->setObject(QVariantMap{{QStringLiteral("allUsernames"), *result.allUsernames},
                                          {QStringLiteral("failedOauthAccountUsernames"), result.failedOauthAccountUsernames}},
                              TDWSettingsKeys::OAuthMigrationResult);
    }
    // A backup always starts at once after an upgrade.
    initAfterStoreCoordinator(true);
}

void TDWAppController::handleDbUpgradeFailure()
{
    quitTidewellMonitor();
    if (m_migratingDatabaseWindowController) {
        m_migratingDatabaseWindowController->close();
        m_migratingDatabaseWindowController->deleteLater();
    }
    stopWithError(tr("Unable to read the metadata store.  This is probably because you are going back to an older version of Tidewell.  "
                     "Please write to support@tidewell.org for assistance."));
}

void TDWAppController::initAfterStoreCoordinator(bool backUpImmediately)
{
    if (m_stopping)
        return;
    TDWMasterStore &store = TDWMasterStore::shared();
    const auto coordinator = store.persistentStoreCoordinator();
    if (coordinator && !store.storeMgr())
        store.setStoreMgr(TDWStoreMgr::initWithPersistentStoreCoordinator(coordinator, store.masterStore()));
    if (!coordinator || !store.storeMgr()) {
        stopWithError(TDWMasterStore::unableToReadCoreDataMsg());
        return;
    }

    if (TDWStartupFixups::hasGoogleReaderBackups())
        m_appMenus->showGoogleReaderItems();
    TDWStartupFixups::run();

    m_migrationInProgress = false;
    if (m_migratingDatabaseWindowController) {
        m_migratingDatabaseWindowController->close();
        m_migratingDatabaseWindowController->deleteLater();
    }

    m_activityMonitor = std::make_unique<TDWActivityMonitor>();
    TDWActivityMonitor::setShared(m_activityMonitor.get());
    m_windows->setActivityMonitor(m_activityMonitor.get());

    if (defaults()->boolForKey(TDWSettingsKeys::FirstTime)) {
        if (!defaults()->boolForKey(TDWSettingsKeys::BackgroundApp))
            m_windows->showMainWindow();
        if (!defaults()->boolForKey(TDWSettingsKeys::FirstTimeV25))
            showFirstTimeV25Window();
        doneFirstTimeUser(backUpImmediately);
        return;
    }
    // A first run. Data of other editions cannot exist on Linux, so there is
    // nothing to offer to migrate: straight to the first-run window.
    showFirstTimeUserWindow();
}

void TDWAppController::showFirstTimeV25Window()
{
    const QVariantMap result = defaults()->dictionaryForKey(TDWSettingsKeys::OAuthMigrationResult);
    auto *window = new TDWFirstTimeV25WindowController(result.value(QStringLiteral("allUsernames")).toStringList(),
                                                       result.value(QStringLiteral("failedOauthAccountUsernames")).toStringList());
    m_windows->addWindowController(window);
    connect(window, &TDWFirstTimeV25WindowController::finished, m_windows.get(), [this, window] { m_windows->removeWindowController(window); });
    window->showWindow();
}

void TDWAppController::showFirstTimeUserWindow()
{
    auto *window = new TDWFirstTimeUserController(this);
    m_firstTimeUserController = window;
    connect(window, &TDWFirstTimeUserController::finished, this, &TDWAppController::firstTimeUserFinished);
    connect(window, &TDWFirstTimeUserController::cancelled, this, [this] {
        // Nothing was written: the next launch is a first run again.
        m_quitFlow->quit();
    });
    window->showWindow();
}

void TDWAppController::firstTimeUserFinished(const QString &emailAddress, bool startAtLogin, const QString &accountUsername)
{
    if (!emailAddress.isEmpty()) {
        subscribeEmail(emailAddress);
        defaults()->setString(emailAddress, TDWSettingsKeys::EmailAddress);
    }
    if (startAtLogin && m_loginItems.addToLoginItems)
        m_loginItems.addToLoginItems();
    else if (!startAtLogin && m_loginItems.removeFromLoginItems)
        m_loginItems.removeFromLoginItems();
    for (const QString &flag : {TDWSettingsKeys::FirstTime, TDWSettingsKeys::FirstTimeV2, TDWSettingsKeys::FirstTimeV25, TDWSettingsKeys::DoneOAuth,
                                TDWSettingsKeys::Tw216Fix})
        defaults()->setBool(true, flag);
    defaults()->synchronize();
    // Not being able to make it now is not fatal: the backup needs it later and says so then.
    TDWPrivateFiles::makeFolder(TDWFileMgr::defaultBackupLocation());

    doneFirstTimeUser(true);
    m_windows->setCurrentAccountUsername(accountUsername);
    m_windows->showMainWindow();
    // The window posts its notifications and closes once this returns.
    if (m_firstTimeUserController)
        m_firstTimeUserController->deleteLater();
}

void TDWAppController::doneFirstTimeUser(bool backUpImmediately)
{
    if (m_stopping)
        return;
    // The first status evaluation may be slow: a thread of its own, then back here.
    m_statusQueue->addOperation([this, backUpImmediately] { getStatusInfo(backUpImmediately); });
}

void TDWAppController::getStatusInfo(bool backUpImmediately)
{
    {
        auto statusMgr = std::make_shared<TDWStatusMgr>();
        std::lock_guard lock(m_statusMutex);
        m_statusMgr = std::move(statusMgr);
    }
    QMetaObject::invokeMethod(this, [this, backUpImmediately] { finishInitializationAfterStatus(backUpImmediately); }, Qt::QueuedConnection);
}

void TDWAppController::finishInitializationAfterStatus(bool backUpImmediately)
{
    if (m_stopping)
        return;
    {
        auto statusMgr = std::make_shared<TDWStatusMgr>();
        std::lock_guard lock(m_statusMutex);
        m_statusMgr = std::move(statusMgr);
    }
    TDWBackupSchedulerEnvironment schedulerEnvironment =
        m_makeSchedulerEnvironment ? m_makeSchedulerEnvironment() : TDWBackupSchedulerEnvironment::standard();
    schedulerEnvironment.globalStatus = [this] { return statusMgr()->globalStatus(); };
    m_backupScheduler = std::make_unique<TDWBackupScheduler>(TDWServiceTable::shared().serviceConfigs(),
                                                             TDWMasterStore::shared().persistentStoreCoordinator(), std::move(schedulerEnvironment));
    statusMgr()->setBackupInProgressCheck([scheduler = m_backupScheduler.get()] { return scheduler->backupInProgress(); });
    if (backUpImmediately) {
        m_backupScheduler->userRequestedImmediateBackup();
        setOneTimeBackupFlags();
    }
    auto *statusItemMgr = new TDWStatusItemMgr(m_backupScheduler.get(), TDWMasterStore::shared().persistentStoreCoordinator(), statusMgr(),
                                               [this] { return m_windows->currentAccountUsername(); }, this);
    m_statusItemMgr = statusItemMgr;
    connectStatusItemMgr(statusItemMgr);
    statusItemMgr->draw();
    m_notifier->setTrayIcon(statusItemMgr->trayIcon());
    m_trayWatch = std::make_unique<TDWTrayWatch>();
    connect(m_trayWatch.get(), &TDWTrayWatch::availabilityChanged, this, &TDWAppController::placeStatusMenu);
    placeStatusMenu(m_trayWatch->isAvailable());
    emit startupFinished();
}

void TDWAppController::placeStatusMenu(bool trayAvailable)
{
    // Without a tray the icon cannot be seen: its menu goes into the main window's menu bar.
    if (!m_statusItemMgr)
        return;
    QMenu *menu = m_statusItemMgr->menu();
    menu->setTitle(tr("Status"));
    m_windows->setStatusMenu(trayAvailable ? nullptr : menu);
    if (trayAvailable || defaults()->boolForKey(StatusMenuNoticeShownKey))
        return;
    defaults()->setBool(true, StatusMenuNoticeShownKey);
    tdwLog(QStringLiteral("No tray to show the status icon in: the status menu is in the main window"));
    QWidget *parent = m_windows->mainWindowController() ? m_windows->mainWindowController()->window() : nullptr;
    auto *notice = new QMessageBox(QMessageBox::Information, QStringLiteral("Tidewell"),
                                   tr("Your desktop has no area for status icons, so Tidewell shows its status in the Status menu of "
                                      "its window instead: there you can back up now, stop a backup, and see how each account's "
                                      "backup stands. Choose Window ▸ Tidewell, or start Tidewell again, to bring the window forward."),
                                   QMessageBox::Ok, parent);
    notice->setObjectName(QStringLiteral("statusMenuNotice"));
    notice->setAttribute(Qt::WA_DeleteOnClose);
    notice->open();
}

void TDWAppController::connectStatusItemMgr(TDWStatusItemMgr *statusItemMgr)
{
    TDWWindowRegistry *windows = m_windows.get();
    connect(statusItemMgr, &TDWStatusItemMgr::selectAccountRequested, windows, &TDWWindowRegistry::setCurrentAccountUsername);
    connect(statusItemMgr, &TDWStatusItemMgr::showMainWindowRequested, windows, &TDWWindowRegistry::showMainWindow);
    connect(statusItemMgr, &TDWStatusItemMgr::showPrefsWindowRequested, windows, &TDWWindowRegistry::showPrefsWindow);
    connect(statusItemMgr, &TDWStatusItemMgr::showAboutRequested, this, &TDWAppMenus::showAboutBox);
    connect(statusItemMgr, &TDWStatusItemMgr::showActivityWindowRequested, windows, &TDWWindowRegistry::showActivityWindow);
    connect(statusItemMgr, &TDWStatusItemMgr::throttlingHelpRequested, this, &TDWAppMenus::showThrottlingHelp);
    connect(statusItemMgr, &TDWStatusItemMgr::removeStartupItemRequested, this, [this] {
        if (m_loginItems.removeFromLoginItems)
            m_loginItems.removeFromLoginItems();
    });
    connect(statusItemMgr, &TDWStatusItemMgr::checkStartupItemStatusRequested, this, [this] {
        QMessageBox status(QMessageBox::NoIcon, tr("Status"), tr("Status"), QMessageBox::Ok);
        status.setInformativeText(QStringLiteral("status: %1").arg(m_loginItems.inLoginItems && m_loginItems.inLoginItems() ? 1 : 0));
        status.exec();
    });
    // A test of how a worker thread reports an exception it lets escape.
    connect(statusItemMgr, &TDWStatusItemMgr::throwExceptionRequested, this, [this] { m_statusQueue->addOperation(&TDWAppMenus::throwException); });
    connect(statusItemMgr, &TDWStatusItemMgr::quitRequested, m_quitFlow.get(), &TDWQuitFlow::quitConfirming);
}

std::shared_ptr<TDWStatusMgr> TDWAppController::statusMgr() const
{
    std::lock_guard lock(m_statusMutex);
    return m_statusMgr;
}

TDWStatusItemMgr *TDWAppController::statusItemMgr() const
{
    return m_statusItemMgr;
}

TDWFirstTimeUserController *TDWAppController::firstTimeUserController() const
{
    return m_firstTimeUserController;
}

TDWMigratingProgressWindowController *TDWAppController::migratingDatabaseWindowController() const
{
    return m_migratingDatabaseWindowController;
}

void TDWAppController::subscribeEmail(const QString &emailAddress)
{
    QUrl url(defaults()->stringForKey(TDWSettingsKeys::SecureWebSiteUrl));
    if (url.host().isEmpty())
        return;
    url.setPath(MailingListPath);
    TDWHttpRequest request(url, QByteArrayLiteral("POST"));
    request.setBody((QStringLiteral("email=") + TDWUrlEncoding::stringByUrlEncoding(emailAddress)).toUtf8());
    auto subscription = std::make_shared<TDWHttpOperation>(request);
    m_subscriptions.removeIf([](const std::weak_ptr<TDWHttpOperation> &done) { return done.expired(); });
    m_subscriptions.append(subscription);
    // Whatever the answer, nothing is retried or shown.
    subscription->start([](const TDWError &, const TDWHttpResponse &) {});
}

QUrl TDWAppController::altBackupLoc() const
{
    const QString path = TDWFileMgr::altBackupLocation();
    return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path);
}

bool TDWAppController::saveAltBackupLoc(const QUrl &url)
{
    if (url.isEmpty()) {
        defaults()->removeObjectForKey(TDWSettingsKeys::AltBackupLocation);
    } else {
        // Anything else would put the backups somewhere relative to whatever
        // folder the program happens to run in.
        if (!url.isLocalFile() || !QDir::isAbsolutePath(url.toLocalFile()))
            return false;
        defaults()->setString(QDir::cleanPath(url.toLocalFile()), TDWSettingsKeys::AltBackupLocation);
    }
    const QString bookmark = TDWFileMgr::altLocBookmarkFileLocation();
    if (QFileInfo::exists(bookmark) || QFileInfo(bookmark).isSymLink()) {
        QFile file(bookmark);
        if (!file.remove())
            tdwLog(QStringLiteral("ERROR: Unable to delete the bookmark file: %1").arg(file.errorString()));
    }
    defaults()->setBool(false, TDWSettingsKeys::BackupDirIsMissing);
    defaults()->synchronize();
    return true;
}

void TDWAppController::activate()
{
    if (m_stopping)
        return;
    m_windows->bringForward();
}

void TDWAppController::quitTidewellMonitor()
{
    m_monitorApp->quit();
}

// ---------------------------------------------------------------------------
// Fatal failures

void TDWAppController::fileLayoutFailed(const TDWError &error)
{
    {
        std::lock_guard lock(m_fatalMutex);
        if (m_fatalError.isNull())
            m_fatalError = error;
    }
    // Start-up checks for it itself; a failure later on stops from the event loop.
    TDWMainThread::post(this, [this, error] { stopWithError(error.localizedDescription()); });
}

TDWError TDWAppController::fatalError() const
{
    std::lock_guard lock(m_fatalMutex);
    return m_fatalError;
}

void TDWAppController::stopWithError(const QString &message)
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_prompts->showError(message);
    stop(EXIT_FAILURE);
}

void TDWAppController::stop(int exitCode)
{
    m_stopping = true;
    quitTidewellMonitor();
    emit stopped(exitCode);
}

void TDWAppController::addRecoveryOperation(const std::shared_ptr<TDWRecoveryUserOperation> &request)
{
    m_recoveryQueue->addRecoveryOperation(request);
}
