#include "app/TDWAppMenus.h"

#include "app/TDWAppController.h"
#include "app/TDWQuitFlow.h"
#include "app/TDWStartupFixups.h"
#include "app/TDWTestException.h"
#include "app/TDWWindowRegistry.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QMenu>
#include <QMessageBox>
#include <QThread>
#include <QUrl>

namespace {

// The maker's pages; the version and edition are added as query parameters.
const QString WebSitePage = QStringLiteral("https://www.tidewell.org/");
const QString FaqPage = QStringLiteral("https://www.tidewell.org/faq/");
const QString ThrottlingHelpPage = QStringLiteral("https://www.tidewell.org/faq/throttling/");
const QString EditionName = QStringLiteral("Linux");
const QString EditionId = QStringLiteral("linux");

// The main-menu item whose submenu holds the Google Reader items, and their tags.
constexpr int ReaderMenuTag = 444;
constexpr int FirstReaderItemTag = 1001;
constexpr int LastReaderItemTag = 1007;

void openWebSiteLink(const QString &page)
{
    QDesktopServices::openUrl(QUrl(page + QStringLiteral("?version=") + QCoreApplication::applicationVersion() + QStringLiteral("&edition=") + EditionId));
}

} // namespace

TDWAppMenus::TDWAppMenus(TDWAppController &app)
    : m_app(app)
{
    build();
}

TDWAppMenus::~TDWAppMenus()
{
    qDeleteAll(m_menus);
}

void TDWAppMenus::build()
{
    auto add = [this](QMenu *menu, const QString &text, const char *selector, auto command) {
        QAction *action = menu->addAction(text, this, command);
        action->setObjectName(QString::fromLatin1(selector));
        return action;
    };
    TDWAppController &app = m_app;
    auto *application = new QMenu(QStringLiteral("Tidewell"));
    add(application, tr("About Tidewell"), "showAboutBox:", &TDWAppMenus::showAboutBox);
    add(application, tr("Open Source Notices"), "showOssWindow:", [&app] { app.windows()->showOssWindow(); });
    add(application, tr("Preferences…"), "showPrefsWindow:", [&app] { app.windows()->showPrefsWindow(); })->setShortcut(QKeySequence::Preferences);
    application->addSeparator();
    add(application, tr("Quit Tidewell"), "quitConfirming:", [&app] { app.quitFlow()->quitConfirming(); })->setShortcut(QKeySequence::Quit);

    auto *window = new QMenu(tr("Window"));
    add(window, tr("Tidewell"), "showMainWindow:", [&app] { app.windows()->showMainWindow(); });
    add(window, tr("Activity"), "showActivityWindow:", [&app] { app.windows()->showActivityWindow(); });

    auto *help = new QMenu(tr("Help"));
    add(help, tr("Tidewell Web Site"), "showTidewellWebSite:", &TDWAppMenus::showTidewellWebSite);
    add(help, tr("Frequently Asked Questions"), "showFaq:", &TDWAppMenus::showFaq);
    help->addSeparator();
    QMenu *maintenance = help->addMenu(tr("Maintenance"));
    add(maintenance, tr("List Diagnostics…"), "showListDiagnosticWindow:", [&app] { app.windows()->showListDiagnosticWindow(); });
    add(maintenance, tr("Force Full Google Drive Backup"), "forceFullOfGoogleDrive:", [] { TDWStartupFixups::resetGoogleDriveBackup(); });
    add(maintenance, tr("Raise a Test Exception"), "throwException", &TDWAppMenus::throwException);
    QMenu *screenShots = maintenance->addMenu(tr("Arrange for Screenshots"));
    add(screenShots, tr("Main Window"), "screenShotsMainWindow:", [&app] { app.windows()->screenShotsMainWindow(); });
    add(screenShots, tr("Activity Window"), "screenShotsActivityWindow:", [&app] { app.windows()->screenShotsActivityWindow(); });
    add(screenShots, tr("Status Menu"), "screenShotsStatusMenu:", [&app] { app.windows()->screenShotsStatusMenu(); });

    m_menus = {application, window, help};
    for (QMenu *menu : std::as_const(m_menus)) {
        connect(menu, &QMenu::aboutToShow, this, [this, menu] {
            for (QAction *action : menu->actions())
                if (!action->isSeparator())
                    action->setEnabled(validateMenuItem(action));
        });
    }
}

bool TDWAppMenus::validateMenuItem(const QAction *item) const
{
    const QString selector = item->objectName();
    TDWMasterStore &store = TDWMasterStore::shared();
    if (selector == QLatin1String("showMainWindow:")) {
        if (!store.persistentStoreCoordinator())
            return false;
        if (!m_app.windows()->currentAccountUsername().isEmpty())
            return true;
        std::unique_ptr<TDWManagedObjectContext> moc = store.newMoc();
        const qint64 count = TDWAccount::count(*moc, nullptr);
        moc->reset();
        return count != TDWManagedObjectContext::NotFound && count > 0;
    }
    if (selector == QLatin1String("showPrefsWindow:"))
        return store.persistentStoreCoordinator() && TDWUserDefaults::standard()->boolForKey(TDWSettingsKeys::FirstTimeV25);
    if (selector == QLatin1String("quitConfirming:"))
        return !m_app.migrationInProgress();
    return true;
}

void TDWAppMenus::showGoogleReaderItems()
{
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

void TDWAppMenus::showAboutBox()
{
    QMessageBox::about(nullptr, tr("About Tidewell"),
                       QStringLiteral("Tidewell\n") + tr("Version %1 (%2)").arg(QCoreApplication::applicationVersion(), EditionName));
}

void TDWAppMenus::showTidewellWebSite()
{
    openWebSiteLink(WebSitePage);
}

void TDWAppMenus::showFaq()
{
    openWebSiteLink(FaqPage);
}

void TDWAppMenus::showThrottlingHelp()
{
    openWebSiteLink(ThrottlingHelpPage);
}

void TDWAppMenus::throwException()
{
    QThread::sleep(1);
    throw TDWTestException("Something went wrong");
}
