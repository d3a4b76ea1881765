#include "app/TDWAppController.h"

#include "accounts/TDWKeychainMgr.h"
#include "agent/TDWBackupScheduler.h"
#include "app/TDWDesktopNotifier.h"
#include "app/TDWLaunchUrlHandler.h"
#include "app/TDWMonitorApp.h"
#include "app/TDWRegisterClasses.h"
#include "app/TDWTestException.h"
#include "common/BKSNotUtils.h"
#include "common/TDWServiceTable.h"
#include "common/TDWFileMgr.h"
#include "common/TDWUrlEncoding.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWDataProperty.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "loginitem/TDWLoginItemMgr.h"
#include "loginitem/TDWLoginItemMigrator.h"
#include "migration/TDWFirstTimeV25WindowController.h"
#include "migration/TDWMigratingProgressWindowController.h"
#include "migration/TDWMigrationManager.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWPropertyList.h"
#include "platform/foundation/TDWResources.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/http/TDWHttpOperation.h"
#include "prefs/TDWListDiagnosticWindowController.h"
#include "prefs/TDWTidewellPrefsWindowController.h"
#include "status/TDWActivityMonitor.h"
#include "status/TDWActivityWindowController.h"
#include "status/TDWStatusMgr.h"
#include "ui/TDWFirstTimeUserController.h"
#include "ui/TDWMainWindowController.h"
#include "ui/TDWOpenSourceWindowController.h"
#include "platform/predicate/TDWPredicate.h"
#include "ui/TDWStatusItemMgr.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QMenu>
#include <QMessageBox>
#include <QUrl>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace {

TDWAppController *g_shared = nullptr;

// How many restores run at once.
constexpr int MaxConcurrentRecoveryOperations = 4;
// The pause before quitting once the login item has been added.
constexpr int QuitAfterLoginItemDelayMs = 1000;

// The maker's pages; the version and edition are added as query parameters.
const QString WebSitePage = QStringLiteral("https://www.tidewell.org/");
const QString FaqPage = QStringLiteral("https://www.tidewell.org/faq/");
// Why some messages wait for a later backup run.
const QString ThrottlingHelpPage = QStringLiteral("https://www.tidewell.org/faq/throttling/");
const QString EditionName = QStringLiteral("Linux");
const QString EditionId = QStringLiteral("linux");
// The maker's secure web site, where the mailing list is.
const QString SecureWebSiteKey = QStringLiteral("secureWebSiteURL");
const QString SecureWebSite = QStringLiteral("https://www.tidewell.org");
const QString MailingListPath = QStringLiteral("/subscribetomailinglist.php");

// The main-menu item whose submenu holds the Google Reader items, and their tags.
constexpr int ReaderMenuTag = 444;
constexpr int FirstReaderItemTag = 1001;
constexpr int LastReaderItemTag = 1007;

// The one-time flags each of which, found unset at launch, asks for a backup at once.
const QStringList OneTimeBackupFlags = {QStringLiteral("mail2")};

// The screenshots' window frames: x and y of the lower-left corner, counted
// from the lower-left corner of the primary screen, then width and height.
const QRect ScreenShotMainWindowFrame(50, 50, 1340, 800);
const QRect ScreenShotNarrowMainWindowFrame(50, 50, 867, 800);
const QRect ScreenShotActivityWindowFrame(967, 541, 423, 309);
const QRect ScreenShotStatusMenuMainWindowFrame(50, 50, 920, 800);

TDWUserDefaults *defaults()
{
    return TDWUserDefaults::standard();
}

// Places the window's frame, title bar included, given from the lower left as above.
void setFrameFromLowerLeft(QWidget *window, const QRect &frame)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect placed(screen.x() + frame.x(), screen.y() + screen.height() - frame.y() - frame.height(), frame.width(), frame.height());
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    const QMargins decoration(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                              outer.bottom() - inner.bottom());
    window->setGeometry(placed.marginsRemoved(decoration));
}

} // namespace

TDWAppController::TDWAppController(std::unique_ptr<TDWAppPrompts> prompts, QObject *parent)
    : QObject(parent)
    , m_prompts(std::move(prompts))
    , m_loginItems{&TDWLoginItemMigrator::migrateLoginItem, &TDWLoginItemMgr::inLoginItems, &TDWLoginItemMgr::addToLoginItems,
                   &TDWLoginItemMgr::removeFromLoginItems}
    , m_monitorApp(new TDWMonitorApp(TDWMonitorApp::defaultProgram(), this))
    , m_statusQueue(std::make_unique<TDWOperationQueue>())
{
    g_shared = this;
    // Made here rather than at launch, so that restores can be added at any time.
    m_recoveryOperations = std::make_unique<TDWOperationQueue>();
    m_recoveryOperations->setMaxConcurrentOperationCount(MaxConcurrentRecoveryOperations);
    // Direct: the count is seen in order on the thread that changed it.
    connect(m_recoveryOperations.get(), &TDWOperationQueue::operationCountChanged, this, &TDWAppController::recoveryCountChanged,
            Qt::DirectConnection);
    TDWFileMgr::setFatalHandler([this](const TDWError &error) { fileLayoutFailed(error); });
    buildMenus();
}

TDWAppController::~TDWAppController()
{
    TDWFileMgr::setFatalHandler({});
    for (const std::weak_ptr<TDWHttpOperation> &subscription : std::as_const(m_subscriptions))
        if (const auto running = subscription.lock())
            running->cancel();
    // Restores and the status thread hold no pointer to this object once
    // their queues are gone.
    m_recoveryOperations.reset();
    m_statusQueue.reset();
    // The status manager may outlive the scheduler it asks.
    if (const std::shared_ptr<TDWStatusMgr> status = statusMgr())
        status->setBackupInProgressCheck({});
    // Its rule updates and evaluations end here, before the status manager
    // and the activity monitor go.
    m_backupScheduler.reset();
    delete m_mainWindowController;
    delete m_firstTimeUserController;
    delete m_migratingDatabaseWindowController;
    const QList<QObject *> kept = miscWindowControllers();
    qDeleteAll(kept);
    qDeleteAll(m_menus);
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
    deleteQuickLookFolder();
    // Opening the launch URL starts or brings forward this program.
    TDWLaunchUrlHandler::registerAsDefault();
    // "Login required" notices of the access-token refresh go to the desktop.
    if (!m_notifier) {
        m_notifier = new TDWDesktopNotifier(QDBusConnection::sessionBus(), this);
        connect(m_notifier, &TDWDesktopNotifier::activated, this, &TDWAppController::userNotificationActivated);
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
    if (!defaults()->boolForKey(QStringLiteral("backgroundapp")))
        makeForegroundApp();
    m_userSaidQuit = false;
    m_migrationInProgress = false;
    m_restartingTemp = false;
    m_recoveryInProgress = false;
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
    const QString imapHost = TDWServiceTable::shared().serviceConfig(QStringLiteral("mail")).imapHost;
    QVariantMap registered{
        {QStringLiteral("OAuth2Enabled"), true},
        {QStringLiteral("calendarAccessLevel"), 1},
        {QStringLiteral("googleDriveTimeout"), 60},
        {QStringLiteral("googleDriveSimultaneous"), 4},
        {QStringLiteral("lockBackupFiles"), true},
        {SecureWebSiteKey, SecureWebSite},
    };
    if (!imapHost.isEmpty())
        registered.insert(QStringLiteral("Hostname"), imapHost);
    defaults()->registerDefaults(registered);
}

void TDWAppController::writeKnownServices()
{
    QStringList ids;
    for (const TDWServiceConfig &service : TDWServiceTable::shared().serviceConfigs())
        ids.append(service.id);
    defaults()->setObject(ids, QStringLiteral("knownservices"));
}

void TDWAppController::makeForegroundApp()
{
    // A Linux desktop has no separate foreground state: the windows are the
    // application's presence. What remains is the screenshot settings copy.
    if (defaults()->boolForKey(QStringLiteral("screenshotprefs")))
        copyScreenShotPrefs();
}

void TDWAppController::applicationDidFinishLaunching()
{
    if (m_stopping)
        return;
    openMasterStore();
}

void TDWAppController::openMasterStore()
{
    const bool firstTime = defaults()->boolForKey(QStringLiteral("firsttime"));
    const bool doneOauth = defaults()->boolForKey(QStringLiteral("doneoauth"));
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
    defaults()->setBool(true, QStringLiteral("doneoauth"));
    TDWMasterStore &store = TDWMasterStore::shared();
    if (!store.persistentStoreCoordinator())
        store.setPersistentStoreCoordinator(result.destPsc);
    if (result.allUsernames) {
        defaults()->setObject(QVariantMap{{QStringLiteral("allUsernames"), *result.allUsernames},
                                          {QStringLiteral("failedOauthAccountUsernames"), result.failedOauthAccountUsernames}},
                              QStringLiteral("oauthMigrationResult"));
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

    runStartupFixups();

    m_migrationInProgress = false;
    if (m_migratingDatabaseWindowController) {
        m_migratingDatabaseWindowController->close();
        m_migratingDatabaseWindowController->deleteLater();
    }

    m_activityMonitor = std::make_unique<TDWActivityMonitor>();
    TDWActivityMonitor::setShared(m_activityMonitor.get());
    m_currentAccountUsername.clear();

    if (defaults()->boolForKey(QStringLiteral("firsttime"))) {
        if (!defaults()->boolForKey(QStringLiteral("backgroundapp")))
            showMainWindow();
        if (!defaults()->boolForKey(QStringLiteral("firsttimev25")))
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
    const QVariantMap result = defaults()->dictionaryForKey(QStringLiteral("oauthMigrationResult"));
    auto *window = new TDWFirstTimeV25WindowController(result.value(QStringLiteral("allUsernames")).toStringList(),
                                                       result.value(QStringLiteral("failedOauthAccountUsernames")).toStringList());
    addWindowController(window);
    connect(window, &TDWFirstTimeV25WindowController::finished, this, [this, window] { removeWindowController(window); });
    window->showWindow();
}

void TDWAppController::showFirstTimeUserWindow()
{
    auto *window = new TDWFirstTimeUserController(this);
    m_firstTimeUserController = window;
    connect(window, &TDWFirstTimeUserController::finished, this, &TDWAppController::firstTimeUserFinished);
    connect(window, &TDWFirstTimeUserController::cancelled, this, [this] {
        // Nothing was written: the next launch is a first run again.
        m_userSaidQuit = true;
        terminate();
    });
    window->showWindow();
}

void TDWAppController::firstTimeUserFinished(const QString &emailAddress, bool startAtLogin, const QString &accountUsername)
{
    if (!emailAddress.isEmpty()) {
        subscribeEmail(emailAddress);
        defaults()->setString(emailAddress, QStringLiteral("BKEmailAddress"));
    }
    if (startAtLogin && m_loginItems.addToLoginItems)
        m_loginItems.addToLoginItems();
    else if (!startAtLogin && m_loginItems.removeFromLoginItems)
        m_loginItems.removeFromLoginItems();
    for (const char *flag : {"firsttime", "firsttimev2", "firsttimev25", "doneoauth", "tw216fix"})
        defaults()->setBool(true, QString::fromLatin1(flag));
    defaults()->synchronize();
    // Not being able to make it now is not fatal: the backup needs it later and says so then.
    QDir().mkpath(TDWFileMgr::defaultBackupLocation());

    doneFirstTimeUser(true);
    setCurrentAccountUsername(accountUsername);
    showMainWindow();
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
    m_backupScheduler = std::make_unique<TDWBackupScheduler>(TDWServiceTable::shared().getConfig(),
                                                             TDWMasterStore::shared().persistentStoreCoordinator(), std::move(schedulerEnvironment));
    statusMgr()->setBackupInProgressCheck([scheduler = m_backupScheduler.get()] { return scheduler->backupInProgress(); });
    if (backUpImmediately) {
        m_backupScheduler->userRequestedImmediateBackup();
        setOneTimeBackupFlags();
    }
    auto *statusItemMgr = new TDWStatusItemMgr(m_backupScheduler.get(), TDWMasterStore::shared().persistentStoreCoordinator(), statusMgr(),
                                               [this] { return m_currentAccountUsername; }, this);
    m_statusItemMgr = statusItemMgr;
    connectStatusItemMgr(statusItemMgr);
    statusItemMgr->draw();
    m_notifier->setTrayIcon(statusItemMgr->trayIcon());
    emit startupFinished();
}

void TDWAppController::connectStatusItemMgr(TDWStatusItemMgr *statusItemMgr)
{
    connect(statusItemMgr, &TDWStatusItemMgr::selectAccountRequested, this, &TDWAppController::setCurrentAccountUsername);
    connect(statusItemMgr, &TDWStatusItemMgr::showMainWindowRequested, this, &TDWAppController::showMainWindow);
    connect(statusItemMgr, &TDWStatusItemMgr::showPrefsWindowRequested, this, &TDWAppController::showPrefsWindow);
    connect(statusItemMgr, &TDWStatusItemMgr::showAboutRequested, this, &TDWAppController::showAboutBox);
    connect(statusItemMgr, &TDWStatusItemMgr::showActivityWindowRequested, this, &TDWAppController::showActivityWindow);
    connect(statusItemMgr, &TDWStatusItemMgr::throttlingHelpRequested, this, [this] { openWebSiteLink(ThrottlingHelpPage); });
    connect(statusItemMgr, &TDWStatusItemMgr::removeStartupItemRequested, this, [this] {
        if (m_loginItems.removeFromLoginItems)
            m_loginItems.removeFromLoginItems();
    });
    connect(statusItemMgr, &TDWStatusItemMgr::checkStartupItemStatusRequested, this, [this] {
        QMessageBox status(QMessageBox::NoIcon, tr("Status"), tr("Status"), QMessageBox::Ok);
        status.setInformativeText(QStringLiteral("status: %1").arg(m_loginItems.inLoginItems && m_loginItems.inLoginItems() ? 1 : 0));
        status.exec();
    });
    // A test of crash reporting: the exception leaves a thread of its own, which ends the program.
    connect(statusItemMgr, &TDWStatusItemMgr::throwExceptionRequested, this, [this] { std::thread([this] { throwException(); }).detach(); });
    connect(statusItemMgr, &TDWStatusItemMgr::quitRequested, this, &TDWAppController::quitConfirming);
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

TDWMainWindowController *TDWAppController::mainWindowController() const
{
    return m_mainWindowController;
}

TDWFirstTimeUserController *TDWAppController::firstTimeUserController() const
{
    return m_firstTimeUserController;
}

TDWMigratingProgressWindowController *TDWAppController::migratingDatabaseWindowController() const
{
    return m_migratingDatabaseWindowController;
}

// ---------------------------------------------------------------------------
// One-time fix-ups and maintenance commands

void TDWAppController::runStartupFixups()
{
    showGoogleReaderMenuItemsIfNecessary();
    deleteOldDocListXmlFolders();
    lockDownKeychainItems();
    // Done once: the flag is set only when the reset was saved, so a failed
    // one is tried again at the next launch.
    if (!defaults()->boolForKey(QStringLiteral("gdriveall252")) && resetGoogleDriveBackup())
        defaults()->setBool(true, QStringLiteral("gdriveall252"));
}

void TDWAppController::showGoogleReaderMenuItemsIfNecessary()
{
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    TDWFetchRequest request(QStringLiteral("AccountServiceSetting"));
    request.setPredicate(TDWPredicate::parse(QStringLiteral("service = %@ and lastListIteration != nil"), {QStringLiteral("reader")}));
    TDWError error;
    const qint64 count = moc->countForFetchRequest(request, &error);
    moc->reset();
    if (count == TDWManagedObjectContext::NotFound) {
        tdwLog(QStringLiteral("ERROR: Unable to determine whether there are Google Reader backups in showGoogleReaderMenuItemsIfNecessary: %1")
                   .arg(error.description()));
        return;
    }
    if (count == 0)
        return;
    for (QMenu *menu : std::as_const(m_menus)) {
        for (QAction *item : menu->actions()) {
            if (item->data().toInt() != ReaderMenuTag || !item->menu())
                continue;
            for (QAction *readerItem : item->menu()->actions()) {
                const int tag = readerItem->data().toInt();
                if (tag >= FirstReaderItemTag && tag <= LastReaderItemTag)
                    readerItem->setVisible(true);
            }
        }
    }
}

void TDWAppController::deleteOldDocListXmlFolders()
{
    // Folders of list pages that older versions kept; failures are tried again next time.
    for (const char *name : {"doclistxml", "readerlistxml", "calendarlistxml"}) {
        const QString path = QDir(TDWMasterStore::applicationSupportFolder()).filePath(QString::fromLatin1(name));
        if (QFileInfo::exists(path))
            QDir(path).removeRecursively();
    }
}

void TDWAppController::lockDownKeychainItems()
{
    TDWKeychainMgr *keychain = TDWKeychainMgr::keychainMgr();
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const auto accounts = TDWAccount::all(*moc, nullptr);
    for (const TDWAccount::Ptr &account : accounts.value_or(QList<TDWAccount::Ptr>())) {
        if (account->lockedDownKeychain())
            continue;
        const QString username = account->username();
        const std::shared_ptr<TDWCredential> credential = keychain->credentialForUsername(username);
        if (!credential) {
            tdwLog(QStringLiteral("Unable to find credential for %1").arg(username));
            continue;
        }
        tdwLog(QStringLiteral("Updating credential for %1").arg(username));
        // Writing it again gives the item the keyring's current access settings.
        if (keychain->setCredential(credential, username, false))
            account->setLockedDownKeychain(true);
        else
            tdwLog(QStringLiteral("Unable to update credential for %1").arg(username));
    }
    TDWError error;
    if (moc->hasChanges() && !moc->save(&error))
        tdwLog(QStringLiteral("ERROR: Unable to save in lockDownKeychainItems: %1").arg(error.description()));
    moc->reset();
}

bool TDWAppController::resetGoogleDriveBackup()
{
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    TDWError error;
    const auto accounts = TDWAccount::all(*moc, &error);
    bool saved = false;
    if (!accounts || !storeMgr) {
        tdwLog(QStringLiteral("ERROR: Unable to save in resetGoogleDriveBackup: %1").arg(error.description()));
    } else {
        for (const TDWAccount::Ptr &account : *accounts) {
            // Without its Drive store the account has no change id to forget.
            if (const TDWPersistentStorePtr store = storeMgr->storeForAccountUsername(account->username(), QStringLiteral("docs")))
                TDWDataProperty::removePropertyForName(QStringLiteral("lastChangeId"), store, *moc);
        }
        saved = moc->save(&error);
        if (!saved)
            tdwLog(QStringLiteral("ERROR: Unable to save in resetGoogleDriveBackup: %1").arg(error.description()));
    }
    moc->reset();
    return saved;
}

void TDWAppController::forceFullOfGoogleDrive()
{
    resetGoogleDriveBackup();
}

void TDWAppController::throwException()
{
    QThread::sleep(1);
    throw TDWTestException("Something went wrong");
}

void TDWAppController::copyScreenShotPrefs()
{
    const QString path = TDWResources::path(QStringLiteral("screenshotprefs"), QStringLiteral("plist"));
    if (path.isEmpty())
        return;
    const QVariantMap settings = TDWPropertyList::readFile(path, nullptr).toMap();
    for (auto it = settings.constBegin(); it != settings.constEnd(); ++it)
        defaults()->setObject(it.value(), it.key());
}

void TDWAppController::screenShotsMainWindow()
{
    showMainWindow();
    if (m_mainWindowController)
        setFrameFromLowerLeft(m_mainWindowController->window(), ScreenShotMainWindowFrame);
}

void TDWAppController::screenShotsActivityWindow()
{
    showActivityWindow();
    showMainWindow();
    setFrameFromLowerLeft(m_activityWindowController->window(), ScreenShotActivityWindowFrame);
    if (m_mainWindowController)
        setFrameFromLowerLeft(m_mainWindowController->window(), ScreenShotNarrowMainWindowFrame);
}

void TDWAppController::screenShotsStatusMenu()
{
    showMainWindow();
    if (m_mainWindowController)
        setFrameFromLowerLeft(m_mainWindowController->window(), ScreenShotStatusMenuMainWindowFrame);
}

void TDWAppController::takeAllScreenShots()
{
}

void TDWAppController::showListDiagnosticWindow()
{
    if (!m_listDiagnosticWindowController)
        m_listDiagnosticWindowController = std::make_unique<TDWListDiagnosticWindowController>();
    m_listDiagnosticWindowController->showWindow();
}

// ---------------------------------------------------------------------------
// Windows

void TDWAppController::showMainWindow()
{
    if (m_currentAccountUsername.isEmpty()) {
        QString username = defaults()->stringForKey(QStringLiteral("lastCurrentAccountUsername"));
        if (std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc()) {
            if (!username.isEmpty() && !TDWAccount::byUsername(username, *moc, nullptr))
                username.clear();
            if (username.isEmpty()) {
                const auto accounts = TDWAccount::all(*moc, nullptr);
                if (accounts && !accounts->isEmpty())
                    username = accounts->first()->username();
            }
            moc->reset();
        } else {
            username.clear();
        }
        if (username.isEmpty())
            return;
        setCurrentAccountUsername(username);
    }
    if (!m_mainWindowController) {
        auto *controller = new TDWMainWindowController(m_menus, this);
        m_mainWindowController = controller;
        connect(controller, &TDWMainWindowController::closed, this, &TDWAppController::closedMainWindow);
    }
    m_mainWindowController->setAccountUsername(m_currentAccountUsername);
    m_mainWindowController->showWindow();
}

void TDWAppController::showActivityWindow()
{
    if (!m_activityWindowController)
        m_activityWindowController = std::make_unique<TDWActivityWindowController>(m_activityMonitor.get());
    m_activityWindowController->showWindow();
}

void TDWAppController::showOssWindow()
{
    if (!m_ossWindowController)
        m_ossWindowController = std::make_unique<TDWOpenSourceWindowController>();
    m_ossWindowController->showWindow();
}

void TDWAppController::buildMenus()
{
    auto *application = new QMenu(QStringLiteral("Tidewell"));
    auto add = [this](QMenu *menu, const QString &text, const char *selector, void (TDWAppController::*slot)()) {
        QAction *action = menu->addAction(text, this, slot);
        action->setObjectName(QString::fromLatin1(selector));
        return action;
    };
    add(application, tr("About Tidewell"), "showAboutBox:", &TDWAppController::showAboutBox);
    add(application, tr("Open Source Notices"), "showOssWindow:", &TDWAppController::showOssWindow);
    add(application, tr("Preferences…"), "showPrefsWindow:", &TDWAppController::showPrefsWindow)->setShortcut(QKeySequence::Preferences);
    application->addSeparator();
    add(application, tr("Quit Tidewell"), "quitConfirming:", &TDWAppController::quitConfirming)->setShortcut(QKeySequence::Quit);

    auto *window = new QMenu(tr("Window"));
    add(window, tr("Tidewell"), "showMainWindow:", &TDWAppController::showMainWindow);
    add(window, tr("Activity"), "showActivityWindow:", &TDWAppController::showActivityWindow);

    auto *help = new QMenu(tr("Help"));
    add(help, tr("Tidewell Web Site"), "showTidewellWebSite:", &TDWAppController::showTidewellWebSite);
    add(help, tr("Frequently Asked Questions"), "showFaq:", &TDWAppController::showFaq);
    help->addSeparator();
    QMenu *maintenance = help->addMenu(tr("Maintenance"));
    add(maintenance, tr("List Diagnostics…"), "showListDiagnosticWindow:", &TDWAppController::showListDiagnosticWindow);
    add(maintenance, tr("Force Full Google Drive Backup"), "forceFullOfGoogleDrive:", &TDWAppController::forceFullOfGoogleDrive);
    add(maintenance, tr("Raise a Test Exception"), "throwException", &TDWAppController::throwException);
    QMenu *screenShots = maintenance->addMenu(tr("Arrange for Screenshots"));
    add(screenShots, tr("Main Window"), "screenShotsMainWindow:", &TDWAppController::screenShotsMainWindow);
    add(screenShots, tr("Activity Window"), "screenShotsActivityWindow:", &TDWAppController::screenShotsActivityWindow);
    add(screenShots, tr("Status Menu"), "screenShotsStatusMenu:", &TDWAppController::screenShotsStatusMenu);

    m_menus = {application, window, help};
    for (QMenu *menu : std::as_const(m_menus)) {
        connect(menu, &QMenu::aboutToShow, this, [this, menu] {
            for (QAction *action : menu->actions())
                if (!action->isSeparator())
                    action->setEnabled(validateMenuItem(action));
        });
    }
}

bool TDWAppController::validateMenuItem(const QAction *item) const
{
    const QString selector = item->objectName();
    TDWMasterStore &store = TDWMasterStore::shared();
    if (selector == QLatin1String("showMainWindow:")) {
        if (!store.persistentStoreCoordinator())
            return false;
        if (!m_currentAccountUsername.isEmpty())
            return true;
        std::unique_ptr<TDWManagedObjectContext> moc = store.newMoc();
        const qint64 count = TDWAccount::count(*moc, nullptr);
        moc->reset();
        return count != TDWManagedObjectContext::NotFound && count > 0;
    }
    if (selector == QLatin1String("showPrefsWindow:"))
        return store.persistentStoreCoordinator() && defaults()->boolForKey(QStringLiteral("firsttimev25"));
    if (selector == QLatin1String("quitConfirming:"))
        return !m_migrationInProgress;
    return true;
}

void TDWAppController::showPrefsWindow()
{
    TDWTidewellPrefsWindowController::sharedPrefsWindowController()->showWindow();
}

void TDWAppController::showAccountPrefs()
{
    TDWTidewellPrefsWindowController *prefs = TDWTidewellPrefsWindowController::sharedPrefsWindowController();
    prefs->showWindow();
    prefs->displayViewForIdentifier(tr("Google Accounts"), true);
}

void TDWAppController::showTidewellWebSite()
{
    openWebSiteLink(WebSitePage);
}

void TDWAppController::showFaq()
{
    openWebSiteLink(FaqPage);
}

void TDWAppController::openWebSiteLink(const QString &page)
{
    QDesktopServices::openUrl(QUrl(page + QStringLiteral("?version=") + QCoreApplication::applicationVersion() + QStringLiteral("&edition=") + EditionId));
}

void TDWAppController::showAboutBox()
{
    QMessageBox::about(nullptr, tr("About Tidewell"),
                       QStringLiteral("Tidewell\n") + tr("Version %1 (%2)").arg(QCoreApplication::applicationVersion(), EditionName));
}

void TDWAppController::userNotificationActivated(const QVariantMap &userInfo)
{
    if (userInfo.value(QStringLiteral("notificationType")).toString() != QLatin1String("loginrequired"))
        return;
    const QString username = userInfo.value(QStringLiteral("accountUsername")).toString();
    bool exists = false;
    if (std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc()) {
        exists = TDWAccount::byUsername(username, *moc, nullptr) != nullptr;
        moc->reset();
    }
    if (!exists) {
        // Deleted since the notice was shown.
        QApplication::beep();
        return;
    }
    showPrefsWindow();
    TDWTidewellPrefsWindowController::sharedPrefsWindowController()->showAccountSheetFor(username);
}

void TDWAppController::closedMainWindow()
{
    // Dropped from the event loop: the window is still inside its close event.
    if (m_mainWindowController)
        m_mainWindowController->deleteLater();
    m_mainWindowController = nullptr;
}

void TDWAppController::addWindowController(QObject *controller)
{
    if (controller)
        m_miscWindowControllers.append(controller);
}

void TDWAppController::removeWindowController(QObject *controller)
{
    if (!controller || m_miscWindowControllers.removeAll(controller) == 0)
        return;
    // Later: the controller may be inside its own close handler.
    controller->deleteLater();
}

QList<QObject *> TDWAppController::miscWindowControllers() const
{
    // Each once, and none that was deleted elsewhere meanwhile.
    QList<QObject *> controllers;
    for (const QPointer<QObject> &controller : m_miscWindowControllers)
        if (controller && !controllers.contains(controller.data()))
            controllers.append(controller.data());
    return controllers;
}

void TDWAppController::subscribeEmail(const QString &emailAddress)
{
    QUrl url(defaults()->stringForKey(SecureWebSiteKey));
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
        defaults()->removeObjectForKey(QStringLiteral("altbackuploc"));
    } else {
        // Anything else would put the backups somewhere relative to whatever
        // folder the program happens to run in.
        if (!url.isLocalFile() || !QDir::isAbsolutePath(url.toLocalFile()))
            return false;
        defaults()->setString(QDir::cleanPath(url.toLocalFile()), QStringLiteral("altbackuploc"));
    }
    const QString bookmark = TDWFileMgr::altLocBookmarkFileLocation();
    if (QFileInfo::exists(bookmark) || QFileInfo(bookmark).isSymLink()) {
        QFile file(bookmark);
        if (!file.remove())
            tdwLog(QStringLiteral("ERROR: Unable to delete the bookmark file: %1").arg(file.errorString()));
    }
    defaults()->setBool(false, QStringLiteral("backupdirismissing"));
    defaults()->synchronize();
    return true;
}

void TDWAppController::setCurrentAccountUsername(const QString &username)
{
    m_currentAccountUsername = username;
    QVariantMap userInfo;
    if (!username.isEmpty()) {
        userInfo.insert(QStringLiteral("accountUsername"), username);
        defaults()->setString(username, QStringLiteral("lastCurrentAccountUsername"));
    }
    if (m_mainWindowController)
        m_mainWindowController->setAccountUsername(username);
    BKSNotUtils::postNotificationName(QStringLiteral("usernameSelected"), this, userInfo);
}

void TDWAppController::activate()
{
    if (m_stopping)
        return;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible()) {
            window->raise();
            window->activateWindow();
            return;
        }
    }
    showMainWindow();
}

// ---------------------------------------------------------------------------
// The restore queue

void TDWAppController::addRecoveryOperation(const std::shared_ptr<TDWOperation> &operation)
{
    m_recoveryOperations->addOperation(operation);
}

void TDWAppController::addRecoveryOperationWithBlock(std::function<void()> block)
{
    m_recoveryOperations->addOperation(std::move(block));
}

void TDWAppController::recoveryCountChanged(int count)
{
    const bool busy = count != 0;
    if (busy == m_recoveryInProgress.exchange(busy))
        return;
    // Not waiting: the main thread may itself be waiting for this queue.
    BKSNotUtils::postNotificationName(busy ? QStringLiteral("recovery_in_progress") : QStringLiteral("recovery_complete"), this, {}, false);
}

// ---------------------------------------------------------------------------
// Quitting

bool TDWAppController::inLoginItems() const
{
    return !m_loginItems.inLoginItems || m_loginItems.inLoginItems();
}

void TDWAppController::quitConfirming()
{
    if (m_userSaidQuit || defaults()->boolForKey(QStringLiteral("QuitNoPrompt_v2")) || !defaults()->boolForKey(QStringLiteral("firsttime"))) {
        m_userSaidQuit = true;
        terminate();
        return;
    }
    const TDWAppPrompts::QuitAnswer answer = m_prompts->askToQuit(!inLoginItems());
    switch (answer.choice) {
    case TDWAppPrompts::QuitChoice::Quit:
        if (answer.suppress)
            defaults()->setBool(true, QStringLiteral("QuitNoPrompt_v2"));
        m_userSaidQuit = true;
        terminate();
        break;
    case TDWAppPrompts::QuitChoice::QuitAndStartAtLogin:
        addToLoginItemsThenQuit();
        break;
    case TDWAppPrompts::QuitChoice::DontQuit:
        break;
    }
}

void TDWAppController::addToLoginItemsThenQuit()
{
    if (m_loginItems.addToLoginItems)
        m_loginItems.addToLoginItems();
    m_userSaidQuit = true;
    QTimer::singleShot(QuitAfterLoginItemDelayMs, this, &TDWAppController::terminate);
}

void TDWAppController::terminate()
{
    // Quitting works the windows and waits in the main thread's event loop:
    // a request from another thread is carried over to it.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, &TDWAppController::terminate, Qt::QueuedConnection);
        return;
    }
    // A second quit while the first waits for restores adds nothing.
    if (m_stopping || m_terminating)
        return;
    m_terminating = true;
    const TerminateReply reply = applicationShouldTerminate();
    m_terminating = false;
    if (reply == TerminateReply::Now)
        stop(EXIT_SUCCESS);
}

TDWAppController::TerminateReply TDWAppController::applicationShouldTerminate()
{
    defaults()->synchronize();
    if (!m_userSaidQuit && !inLoginItems() && !defaults()->boolForKey(QStringLiteral("QuitNoPrompt_v2")) && !m_restartingTemp
        && defaults()->boolForKey(QStringLiteral("firsttimev2"))) {
        const TDWAppPrompts::StartAtLoginAnswer answer = m_prompts->askToStartAtLogin();
        if (answer.choice == TDWAppPrompts::StartAtLoginChoice::StartAtLogin) {
            addToLoginItemsThenQuit();
            return TerminateReply::Cancel;
        }
        if (answer.suppress)
            defaults()->setBool(true, QStringLiteral("QuitNoPrompt_v2"));
    }
    waitForRecoveryOperations();
    if (m_backupScheduler && m_backupScheduler->backupInProgress())
        defaults()->setBool(true, QStringLiteral("last_cancelled"));
    quitTidewellMonitor();
    deleteQuickLookFolder();
    return TerminateReply::Now;
}

void TDWAppController::waitForRecoveryOperations()
{
    // The event loop keeps running meanwhile: a restore may need the main
    // thread (an alert, a blocking post) before it can finish.
    QEventLoop loop;
    connect(m_recoveryOperations.get(), &TDWOperationQueue::operationCountChanged, &loop,
            [this, &loop] {
                if (m_recoveryOperations->operationCount() == 0)
                    loop.quit();
            },
            Qt::QueuedConnection);
    if (m_recoveryOperations->operationCount() != 0)
        loop.exec();
}

void TDWAppController::quitTidewellMonitor()
{
    m_monitorApp->quit();
}

void TDWAppController::deleteQuickLookFolder()
{
    const QString folder = TDWMasterStore::quickLookFolder();
    if (!QFileInfo::exists(folder))
        return;
    if (!QDir(folder).removeRecursively())
        tdwLog(QStringLiteral("ERROR: Unable to delete Quick Look folder at %1: %2").arg(folder, tr("Some files could not be removed.")));
}

void TDWAppController::setRestartingTemp()
{
    m_restartingTemp = true;
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
    QMetaObject::invokeMethod(this, [this, error] { stopWithError(error.localizedDescription()); }, Qt::QueuedConnection);
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
