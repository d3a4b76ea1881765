#include "ui/TDWStatusItemMgr.h"

#include "agent/TDWBackupScheduler.h"
#include "common/BKSDateFormatUtils.h"
#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWRunLoopTimer.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "platform/store/TDWContextReset.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "status/TDWStatusMgr.h"
#include "ui/TDWStatusAccountItems.h"
#include "ui/TDWStatusIconDrawing.h"

#include <QAction>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QPalette>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <exception>
#include <utility>

namespace {

// Where the status line's first refresh falls after the quarter-hour boundary.
constexpr qint64 StatusUpdateOffset = 5;
constexpr std::chrono::milliseconds CreationDelay(25);
constexpr std::chrono::milliseconds AccountUpdateDelay(50);
// The status line sits above its separator and Back Up Now; the account area starts here.
constexpr qsizetype AccountAreaIndex = 3;

QString localized(const char *text)
{
    return QCoreApplication::translate("TDWStatusItemMgr", text);
}

QString usernameOf(const TDWNotification &notification)
{
    return notification.userInfo().value(QStringLiteral("accountUsername")).toString();
}

QAction *newSeparator(QObject *parent)
{
    auto *separator = new QAction(parent);
    separator->setSeparator(true);
    return separator;
}

// Whether the desktop's panels are dark, judged by the application's palette
// (the desktop's theme): the icon is then drawn white instead of black.
bool panelIsDark()
{
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

QIcon iconForStatus(qint32 globalStatus, bool backupInProgress)
{
    const double grey = panelIsDark() ? 1.0 : 0.0;
    QIcon icon;
    for (qreal scale : {1.0, 2.0, 4.0}) {
        icon.addPixmap(QPixmap::fromImage(TDWStatusIconDrawing::getImageForStatus(globalStatus, grey, backupInProgress, scale)));
        // The opposite colour while the item is highlighted.
        icon.addPixmap(QPixmap::fromImage(TDWStatusIconDrawing::getImageForStatus(globalStatus, 1.0 - grey, backupInProgress, scale)),
                       QIcon::Selected);
    }
    return icon;
}

} // namespace

TDWStatusItemMgr::TDWStatusItemMgr(TDWBackupScheduler *scheduler, std::shared_ptr<TDWPersistentStoreCoordinator> coordinator,
                                   std::shared_ptr<TDWStatusMgr> statusMgr, std::function<QString()> currentAccountUsername, QObject *parent)
    : QObject(parent)
    , m_backupScheduler(scheduler)
    , m_storeCoordinator(std::move(coordinator))
    , m_statusMgr(std::move(statusMgr))
    , m_currentAccountUsername(std::move(currentAccountUsername))
    , m_accountItems(std::make_unique<TDWStatusAccountItems>(m_statusMgr, TDWServiceTable::shared().serviceConfigs()))
    , m_statusItem(new QSystemTrayIcon(this))
{
    m_drawTimer.setSingleShot(true);
}

TDWStatusItemMgr::~TDWStatusItemMgr() = default;

void TDWStatusItemMgr::draw()
{
    getMenu();
    observe();
    // 5 s after each quarter-hour boundary, so "Today" turns into "Yesterday" in time.
    const qint64 now = TDWClock::now().toSecsSinceEpoch();
    const QDateTime firstFire = QDateTime::fromSecsSinceEpoch(now - now % StatusUpdateInterval + StatusUpdateInterval + StatusUpdateOffset, Qt::UTC);
    m_statusUpdateTimer = TDWRunLoopTimer::scheduled(firstFire, std::chrono::seconds(StatusUpdateInterval), [this] { updateDateFormat(); });
    scheduleDrawTimer(CreationDelay, &TDWStatusItemMgr::drawOnMain);
}

std::unique_ptr<TDWManagedObjectContext> TDWStatusItemMgr::newMoc() const
{
    return std::make_unique<TDWManagedObjectContext>(m_storeCoordinator);
}

void TDWStatusItemMgr::scheduleDrawTimer(std::chrono::milliseconds delay, void (TDWStatusItemMgr::*step)())
{
    // A newer request replaces the pending one.
    m_drawTimer.disconnect(this);
    connect(&m_drawTimer, &QTimer::timeout, this, step);
    m_drawTimer.start(TDWClock::duration(delay));
}

void TDWStatusItemMgr::drawOnMain()
{
    m_backupInProgress = m_backupScheduler->backupInProgress();
    if (m_backupInProgress)
        displayBackupStarted();
    else
        resetTopStatusIndicator();
    m_statusItem->setToolTip(QStringLiteral("Tidewell"));
    m_statusItem->setContextMenu(m_menu.get());
    m_statusItem->show();
}

// ---------------------------------------------------------------------------
// The menu

void TDWStatusItemMgr::getMenu()
{
    m_menu = std::make_unique<QMenu>(QStringLiteral("Tidewell"));

    m_lastBackupDate = QDateTime();
    {
        std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
        TDWContextReset reset(moc.get());
        if (const TDWBackupIteration::Ptr latest = TDWBackupIteration::latestBackupIteration(*moc, nullptr))
            m_lastBackupDate = latest->iterationEndTime().isValid() ? latest->iterationEndTime() : latest->iterationStartTime();
    }

    m_currentStatusItem = m_menu->addAction(lastBackupMenuItemTitle());
    m_currentStatusItem->setEnabled(false);
    m_menu->addSeparator();
    m_backUpNowItem = m_menu->addAction(localized("Back Up Now"), this, &TDWStatusItemMgr::handleNow);
    resetBackupNowEnabled();
    addStatusMenuItems();
    addApplicationItems();
}

QAction *TDWStatusItemMgr::addItem(const QString &title, void (TDWStatusItemMgr::*signal)())
{
    return m_menu->addAction(title, this, signal);
}

void TDWStatusItemMgr::addApplicationItems()
{
    addItem(localized("Preferences…"), &TDWStatusItemMgr::showPrefsWindowRequested)->setData(PreferencesTag);
    m_menu->addSeparator();
    addItem(localized("About Tidewell"), &TDWStatusItemMgr::showAboutRequested);
    addItem(localized("Activity"), &TDWStatusItemMgr::showActivityWindowRequested);
    // No "Check for Updates…": the distribution's packages update the program.
    if (TDWUserDefaults::standard()->boolForKey(TDWSettingsKeys::ShowDebugMenuItems)) {
        m_menu->addSeparator();
        addItem(QStringLiteral("Throw Exception"), &TDWStatusItemMgr::throwExceptionRequested);
        addItem(QStringLiteral("Remove startup item"), &TDWStatusItemMgr::removeStartupItemRequested);
        addItem(QStringLiteral("Check startup item status"), &TDWStatusItemMgr::checkStartupItemStatusRequested);
    }
    m_menu->addSeparator();
    m_quitItem = addItem(localized("Quit Tidewell"), &TDWStatusItemMgr::quitRequested);
}

void TDWStatusItemMgr::addStatusMenuItems()
{
    std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
    TDWContextReset reset(moc.get());
    TDWError error;
    const std::optional<QList<TDWAccount::Ptr>> accounts = TDWAccount::all(*moc, &error);
    if (!accounts) {
        tdwLog(QStringLiteral("ERROR: Unable to retrieve account status summaries: %1").arg(error.localizedDescription()));
        m_menu->addAction(localized("Error checking backup status"))->setEnabled(false);
        m_menu->addSeparator();
        return;
    }
    m_menu->addActions(accountStatusItems(*accounts, *moc));
}

QAction *TDWStatusItemMgr::noAccountsItem()
{
    auto *item = new QAction(localized("No accounts configured"), m_menu.get());
    item->setEnabled(false);
    return item;
}

QList<QAction *> TDWStatusItemMgr::accountStatusItems(const QList<TDWAccount::Ptr> &accounts, TDWManagedObjectContext &moc)
{
    QList<QAction *> items;
    if (accounts.isEmpty())
        items << newSeparator(m_menu.get()) << noAccountsItem();
    for (const TDWAccount::Ptr &account : accounts) {
        m_accountUsernames.append(account->username());
        items.append(menuItemsForAccount(account, moc));
    }
    m_itemAfterAccounts = newSeparator(m_menu.get());
    items.append(m_itemAfterAccounts);
    return items;
}

QList<QAction *> TDWStatusItemMgr::menuItemsForAccount(const TDWAccount::Ptr &account, TDWManagedObjectContext &moc)
{
    const bool checked = account->username() == m_currentAccountUsername();
    QList<QAction *> items =
        m_accountItems->menuItemsForAccount(account, moc, checked, m_menu.get(), [this] { emit throttlingHelpRequested(); });
    QAction *title = items.at(1);
    connect(title, &QAction::triggered, this, [this, title](bool checkedNow) { handleAccountSelection(title, checkedNow); });
    return items;
}

void TDWStatusItemMgr::handleAccountSelection(QAction *sender, bool checkedNow)
{
    // Triggering a checkable line flips its mark; the mark follows the selection instead.
    const bool wasOn = !checkedNow;
    sender->setChecked(wasOn);
    if (!wasOn)
        emit selectAccountRequested(sender->text());
    emit showMainWindowRequested();
}

qsizetype TDWStatusItemMgr::indexOfTitle(const QString &title) const
{
    const QList<QAction *> actions = m_menu->actions();
    for (qsizetype i = 0; i < actions.size(); ++i)
        if (!actions.at(i)->isSeparator() && actions.at(i)->text() == title)
            return i;
    return -1;
}

qsizetype TDWStatusItemMgr::indexOfMenuItemAfterThoseForUsername(const QString &username) const
{
    const qsizetype position = m_accountUsernames.indexOf(username);
    if (position < 0)
        return -1;
    if (position + 1 < m_accountUsernames.size()) {
        const qsizetype next = indexOfTitle(m_accountUsernames.at(position + 1));
        return next < 0 ? -1 : next - 1;
    }
    return m_menu->actions().indexOf(m_itemAfterAccounts);
}

void TDWStatusItemMgr::insertItems(qsizetype index, const QList<QAction *> &items)
{
    m_menu->insertActions(m_menu->actions().value(index, nullptr), items);
}

void TDWStatusItemMgr::removeItems(qsizetype first, qsizetype count)
{
    const QList<QAction *> actions = m_menu->actions().mid(first, count);
    for (QAction *action : actions) {
        m_menu->removeAction(action);
        delete action;
    }
}

void TDWStatusItemMgr::updateAllAccountMenuItems()
{
    std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
    TDWContextReset reset(moc.get());
    TDWError error;
    const std::optional<QList<TDWAccount::Ptr>> accounts = TDWAccount::all(*moc, &error);
    if (!accounts) {
        tdwLog(QStringLiteral("ERROR:  Unable to get list of accounts: %1").arg(error.localizedDescription()));
        return;
    }
    for (const TDWAccount::Ptr &account : *accounts)
        updateAccountMenuItemsForUsername(account->username(), *moc);
}

void TDWStatusItemMgr::updateAccountMenuItemsForUsername(const QString &username, TDWManagedObjectContext &moc)
{
    TDWError error;
    const TDWAccount::Ptr account = TDWAccount::byUsername(username, moc, &error);
    if (!account) {
        // An account that is not (or no longer) in the store is no failure.
        if (!error.isNull())
            tdwLog(QStringLiteral("ERROR: Unable to retrieve account in updateAccountMenuItemsForUsername: %1").arg(error.localizedDescription()));
        return;
    }
    const qsizetype title = indexOfTitle(username);
    const qsizetype after = indexOfMenuItemAfterThoseForUsername(username);
    // A user name without a group in the menu leaves the menu as it is.
    if (title < 1 || after < title)
        return;
    const qsizetype first = title - 1;
    removeItems(first, after - first);
    insertItems(first, menuItemsForAccount(account, moc));
}

// ---------------------------------------------------------------------------
// Notifications

void TDWStatusItemMgr::observe()
{
    TDWNotificationCenter &center = TDWNotificationCenter::defaultCenter();
    auto on = [this, &center](const char *name, std::function<void(const TDWNotification &)> handler) {
        center.addObserver(QString::fromLatin1(name), std::move(handler), this);
    };
    on("backupInProgress", [this](const TDWNotification &) { backupStarted(); });
    on("failedBackup", [this](const TDWNotification &) { backupStopped(); });
    on("newAccount", [this](const TDWNotification &n) { accountAdded(n); });
    on("deletedAccount", [this](const TDWNotification &n) { accountDeleted(n); });
    on("accountUpdate", [this](const TDWNotification &n) { accountUpdated(n); });
    on("toggleincludeinstatus", [this](const TDWNotification &n) { toggledIncludeInStatus(n); });
    on("usernameSelected", [this](const TDWNotification &n) { clientSelectedUsername(n); });
    on("outsideopstarted", [this](const TDWNotification &) { outsideOpStarted(); });
    on("outsideopfinished", [this](const TDWNotification &) { outsideOpFinished(); });
    on("firsttimedone", [this](const TDWNotification &) { firstTimeUserDone(); });
}

void TDWStatusItemMgr::backupStarted()
{
    m_backupInProgress = true;
    displayBackupStarted();
}

void TDWStatusItemMgr::displayBackupStarted()
{
    m_currentStatusItem->setText(localized("Backup in progress…"));
    m_backUpNowItem->setText(localized("Stop Backing Up"));
    resetTopStatusIndicator();
    updateAllAccountMenuItems();
}

void TDWStatusItemMgr::backupStopped()
{
    m_backupInProgress = false;
    {
        std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
        TDWContextReset reset(moc.get());
        // Only a finished cycle counts here, unlike the menu's first build.
        const TDWBackupIteration::Ptr latest = TDWBackupIteration::latestBackupIteration(*moc, nullptr);
        m_lastBackupDate = latest ? latest->iterationEndTime() : QDateTime();
    }
    m_currentStatusItem->setText(lastBackupMenuItemTitle());
    m_backUpNowItem->setText(localized("Back Up Now"));
    resetTopStatusIndicator();
    updateAllAccountMenuItems();
    resetBackupNowEnabled();
}

void TDWStatusItemMgr::accountAdded(const TDWNotification &notification)
{
    const QString username = usernameOf(notification);
    std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
    TDWContextReset reset(moc.get());
    const TDWAccount::Ptr account = TDWAccount::byUsername(username, *moc, nullptr);
    if (!account || indexOfTitle(account->username()) >= 0)
        return;
    if (!m_itemAfterAccounts) {
        // The first build could not read the accounts: the area has no anchor,
        // so it is built afresh in place of its error line.
        const std::optional<QList<TDWAccount::Ptr>> accounts = TDWAccount::all(*moc, nullptr);
        if (!accounts)
            return;
        removeItems(AccountAreaIndex, 2);
        insertItems(AccountAreaIndex, accountStatusItems(*accounts, *moc));
        resetBackupNowEnabled();
        return;
    }
    if (m_accountUsernames.isEmpty()) {
        // The placeholder separator and "No accounts configured".
        removeItems(AccountAreaIndex, 2);
    }
    m_accountUsernames.append(account->username());
    m_accountUsernames.sort();
    insertItems(indexOfMenuItemAfterThoseForUsername(account->username()), menuItemsForAccount(account, *moc));
    resetBackupNowEnabled();
    if (!account->enabledForAnyService())
        resetTopStatusIndicator();
}

void TDWStatusItemMgr::accountDeleted(const TDWNotification &notification)
{
    const QString username = usernameOf(notification);
    const qsizetype title = indexOfTitle(username);
    const qsizetype after = indexOfMenuItemAfterThoseForUsername(username);
    if (title >= 1 && after >= title) {
        removeItems(title - 1, after - (title - 1));
        m_accountUsernames.removeAll(username);
        if (m_accountUsernames.isEmpty())
            insertItems(AccountAreaIndex, {newSeparator(m_menu.get()), noAccountsItem()});
    }
    resetBackupNowEnabled();
    resetTopStatusIndicator();
}

void TDWStatusItemMgr::accountUpdated(const TDWNotification &notification)
{
    {
        std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
        TDWContextReset reset(moc.get());
        updateAccountMenuItemsForUsername(usernameOf(notification), *moc);
    }
    resetBackupNowEnabled();
    scheduleDrawTimer(AccountUpdateDelay, &TDWStatusItemMgr::resetTopStatusIndicator);
}

void TDWStatusItemMgr::toggledIncludeInStatus(const TDWNotification &notification)
{
    {
        std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
        TDWContextReset reset(moc.get());
        updateAccountMenuItemsForUsername(usernameOf(notification), *moc);
    }
    resetTopStatusIndicator();
}

void TDWStatusItemMgr::clientSelectedUsername(const TDWNotification &notification)
{
    const QString username = usernameOf(notification);
    for (QAction *item : m_menu->actions())
        item->setChecked(item->isCheckable() && item->text() == username);
}

void TDWStatusItemMgr::outsideOpStarted()
{
    if (!m_menuItemsDisabledForOutsideOp)
        m_menuItemsDisabledForOutsideOp.emplace();
    for (QAction *item : m_menu->actions()) {
        if (item->isSeparator() || !item->isEnabled())
            continue;
        m_menuItemsDisabledForOutsideOp->append(item);
        item->setEnabled(false);
    }
}

void TDWStatusItemMgr::outsideOpFinished()
{
    if (!m_menuItemsDisabledForOutsideOp)
        return;
    for (const QPointer<QAction> &item : std::as_const(*m_menuItemsDisabledForOutsideOp))
        if (item)
            item->setEnabled(true);
    m_menuItemsDisabledForOutsideOp.reset();
}

void TDWStatusItemMgr::firstTimeUserDone()
{
    for (QAction *item : m_menu->actions())
        if (item->data() == PreferencesTag)
            item->setEnabled(true);
}

// ---------------------------------------------------------------------------
// The status line, Back Up Now and the icon

QString TDWStatusItemMgr::lastBackupMenuItemTitle() const
{
    if (!m_lastBackupDate.isValid())
        return localized("Not backed up");
    return localized("Most recent backup cycle: %1").arg(BKSDateFormatUtils::formatDate(m_lastBackupDate, false));
}

void TDWStatusItemMgr::updateDateFormat()
{
    if (!m_backupInProgress)
        m_currentStatusItem->setText(lastBackupMenuItemTitle());
}

void TDWStatusItemMgr::handleNow()
{
    // The manager's own flag decides: it follows the cycle's notifications.
    if (m_backupInProgress) {
        m_currentStatusItem->setText(localized("Cancelling Backup"));
        m_backupScheduler->userRequestedCancel();
    } else {
        m_backupScheduler->userRequestedImmediateBackup();
    }
}

void TDWStatusItemMgr::resetBackupNowEnabled()
{
    m_backUpNowItem->setEnabled(m_backupInProgress || m_statusMgr->globalStatus() != TDWStatusMgr::NothingEnabled);
}

void TDWStatusItemMgr::resetTopStatusIndicator()
{
    try {
        const qint32 globalStatus = m_statusMgr->globalStatus();
        m_statusItem->setIcon(iconForStatus(globalStatus, m_backupInProgress));
    } catch (const std::exception &exception) {
        tdwLog(QStringLiteral("ERROR: Unable to perform updateAnimation: %1").arg(QString::fromUtf8(exception.what())));
    }
}
