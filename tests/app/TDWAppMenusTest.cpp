// The application menu's windows and commands, the windows the delegate
// keeps for others, the backup folder setting and the mailing list.

#include "AppTestSupport.h"

#include "TestSupport.h"
#include "common/TDWFileMgr.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "prefs/TDWDiagnosticReportView.h"
#include "prefs/TDWDiagnosticWindowController.h"
#include "prefs/TDWListDiagnosticWindowController.h"
#include "ui/TDWActivityWindowController.h"
#include "ui/TDWMainWindowController.h"
#include "ui/TDWOpenSourceWindowController.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QTextBrowser>
#include <QWidget>

using namespace apptest;

namespace {

TDWUserDefaults *defaults()
{
    return TDWUserDefaults::standard();
}

using TDWAppMenusTest = AppFixture;

TEST_F(TDWAppMenusTest, KeptWindowControllersLiveUntilRemovedAndRemovingDropsEveryOccurrence)
{
    makeController();
    QPointer<QObject> twice = new QObject;
    QPointer<QObject> other = new QObject;
    QPointer<QObject> deletedElsewhere = new QObject;
    QObject stranger;
    controller->windows()->addWindowController(twice);
    controller->windows()->addWindowController(other);
    controller->windows()->addWindowController(twice);
    controller->windows()->addWindowController(deletedElsewhere);
    delete deletedElsewhere.data();
    EXPECT_EQ(controller->windows()->miscWindowControllers(), (QList<QObject *>{twice, other}));

    controller->windows()->removeWindowController(twice);
    // One that was never handed over is not the delegate's to delete.
    controller->windows()->removeWindowController(&stranger);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    EXPECT_TRUE(twice.isNull());
    ASSERT_FALSE(other.isNull());
    EXPECT_EQ(controller->windows()->miscWindowControllers(), QList<QObject *>{other});

    // What is still kept goes with the delegate.
    controller.reset();
    EXPECT_TRUE(other.isNull());
}

// "Perform diagnostics…" opens one window per item, kept by the delegate until
// the user closes it; an item no longer in the store still ends its report.
TEST_F(TDWAppMenusTest, AnItemDiagnosticsWindowIsKeptUntilItCloses)
{
    prepareReturningUser();
    makeController();
    launch();
    const QString user = QStringLiteral("returning@example.com");
    QPointer<TDWDiagnosticWindowController> first =
        controller->windows()->showItemDiagnosticWindow(user, QStringLiteral("gone"), QStringLiteral("contacts"));
    QPointer<TDWDiagnosticWindowController> second =
        controller->windows()->showItemDiagnosticWindow(user, QStringLiteral("gone too"), QStringLiteral("docs"));
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(controller->windows()->miscWindowControllers().contains(first.data()));
    EXPECT_TRUE(controller->windows()->miscWindowControllers().contains(second.data()));
    EXPECT_TRUE(first->isFinished());
    EXPECT_TRUE(first->textView()->toPlainText().endsWith(QStringLiteral("Unable to locate item revision.\n\n")));
    EXPECT_TRUE(first->window()->isVisible());

    first->window()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(controller->windows()->miscWindowControllers().contains(second.data()));
}

TEST_F(TDWAppMenusTest, SavingTheBackupFolderStoresItClearsTheMissingFlagAndDropsTheBookmark)
{
    const QString chosen = QDir(home).filePath(QStringLiteral("Backups"));
    struct Case
    {
        const char *name;
        QUrl url;
        bool saved;
        QString stored; // empty: no "altbackuploc"
    };
    const Case cases[] = {
        {"a folder", QUrl::fromLocalFile(chosen + QStringLiteral("/")), true, chosen},
        {"none: back to the default folder", QUrl(), true, {}},
        {"not a local file", QUrl(QStringLiteral("https://example.com/backups")), false, QStringLiteral("/previous")},
        {"a relative path", QUrl::fromLocalFile(QStringLiteral("Backups")), false, QStringLiteral("/previous")},
    };
    makeController();
    const QString bookmark = TDWFileMgr::altLocBookmarkFileLocation();
    ASSERT_FALSE(bookmark.isEmpty());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        defaults()->setString(QStringLiteral("/previous"), QStringLiteral("altbackuploc"));
        defaults()->setBool(true, QStringLiteral("backupdirismissing"));
        QFile file(bookmark);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();

        EXPECT_EQ(controller->saveAltBackupLoc(c.url), c.saved);

        EXPECT_EQ(defaults()->stringForKey(QStringLiteral("altbackuploc")), c.stored);
        EXPECT_EQ(controller->altBackupLoc(), c.stored.isEmpty() ? QUrl() : QUrl::fromLocalFile(c.stored));
        EXPECT_EQ(QFileInfo::exists(bookmark), !c.saved);
        EXPECT_EQ(defaults()->boolForKey(QStringLiteral("backupdirismissing")), !c.saved);
        QFile::remove(bookmark);
    }
}

TEST_F(TDWAppMenusTest, ABookmarkThatCannotBeDeletedIsLoggedAndTheFolderIsStoredAnyway)
{
    makeController();
    const QString bookmark = TDWFileMgr::altLocBookmarkFileLocation();
    ASSERT_TRUE(QDir().mkpath(QDir(bookmark).filePath(QStringLiteral("inside"))));
    defaults()->setBool(true, QStringLiteral("backupdirismissing"));
    tdwtest::LogCapture log;

    EXPECT_TRUE(controller->saveAltBackupLoc(QUrl::fromLocalFile(QStringLiteral("/media/backups"))));

    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to delete the bookmark file: ")));
    EXPECT_EQ(controller->altBackupLoc(), QUrl::fromLocalFile(QStringLiteral("/media/backups")));
    EXPECT_FALSE(defaults()->boolForKey(QStringLiteral("backupdirismissing")));
}

TEST_F(TDWAppMenusTest, SubscribingPostsTheUrlEncodedAddressToTheMailingListOfTheConfiguredSite)
{
    struct Case
    {
        QString address;
        QByteArray body;
    };
    const Case cases[] = {
        {QStringLiteral("user@example.com"), "email=user%40example.com"},
        // Every character that would end the value or mean something else in a form.
        {QStringLiteral("a+b&c=d %@exämple.com"), "email=a%2Bb%26c%3Dd%20%25%40ex%C3%A4mple.com"},
    };
    RecordingHttpServer server;
    makeController();
    defaults()->setString(server.url(), QStringLiteral("secureWebSiteURL"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.address.toStdString());
        server.requests.clear();

        controller->subscribeEmail(c.address);

        ASSERT_TRUE(waitFor([&] { return !server.requests.isEmpty(); }));
        const QByteArray request = server.requests.first();
        EXPECT_TRUE(request.startsWith("POST /subscribetomailinglist.php HTTP/1.1\r\n")) << request.toStdString();
        EXPECT_TRUE(request.endsWith("\r\n\r\n" + c.body)) << request.toStdString();
    }
}

// The windows of other parts that the menu opens: made on first use, then
// the same one shown again.
TEST_F(TDWAppMenusTest, MenuCommandsOpenTheirWindowOnceAndShowItAgain)
{
    struct Case
    {
        const char *selector;
        std::function<QWidget *()> window;
    };
    makeController();
    const Case cases[] = {
        {"showActivityWindow:", [this]() -> QWidget * {
             return controller->windows()->activityWindowController() ? controller->windows()->activityWindowController()->window() : nullptr;
         }},
        {"showOssWindow:", [this]() -> QWidget * {
             return controller->windows()->ossWindowController() ? controller->windows()->ossWindowController()->window() : nullptr;
         }},
        {"showListDiagnosticWindow:", [this]() -> QWidget * {
             return controller->windows()->listDiagnosticWindowController() ? controller->windows()->listDiagnosticWindowController()->window() : nullptr;
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.selector);
        QAction *item = menuItem(c.selector);
        ASSERT_TRUE(item);
        EXPECT_TRUE(controller->appMenus()->validateMenuItem(item));
        EXPECT_FALSE(c.window());

        item->trigger();
        QWidget *first = c.window();
        ASSERT_TRUE(first);
        EXPECT_TRUE(first->isVisible());

        first->close();
        item->trigger();
        EXPECT_EQ(c.window(), first);
        EXPECT_TRUE(first->isVisible());
    }
}

TEST_F(TDWAppMenusTest, TheOpenSourceNoticesComeFromTheResourceAndLinksLeaveThePageAlone)
{
    makeController();
    controller->windows()->showOssWindow();
    QTextBrowser *notices = controller->windows()->ossWindowController()->window();
    QFile resource(QDir(qEnvironmentVariable("TIDEWELL_RESOURCES")).filePath(QStringLiteral("oss.html")));
    ASSERT_TRUE(resource.open(QIODevice::ReadOnly));
    EXPECT_TRUE(resource.readAll().contains("SQLite"));
    EXPECT_TRUE(notices->toPlainText().contains(QStringLiteral("SQLite")));
    EXPECT_FALSE(notices->openLinks());
}

// The screenshot layouts give each frame's lower-left corner from the
// screen's lower-left corner; the activity window lines up with the top of
// the narrower main window.
TEST_F(TDWAppMenusTest, ScreenshotCommandsPlaceTheWindowsAsLaidOut)
{
    struct Case
    {
        const char *selector;
        QSize mainWindow;
        bool activityWindow;
    };
    const Case cases[] = {
        {"screenShotsMainWindow:", {1340, 800}, false},
        {"screenShotsStatusMenu:", {920, 800}, false},
        {"screenShotsActivityWindow:", {867, 800}, true},
    };
    prepareReturningUser();
    makeController();
    launch();
    ASSERT_TRUE(startupFinished);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.selector);
        ASSERT_TRUE(menuItem(c.selector));
        menuItem(c.selector)->trigger();

        ASSERT_TRUE(controller->windows()->mainWindowController());
        const QRect main = controller->windows()->mainWindowController()->window()->frameGeometry();
        EXPECT_EQ(main.size(), c.mainWindow);
        EXPECT_EQ(main.left(), screen.left() + 50);
        EXPECT_EQ(screen.bottom() - main.bottom(), 50);
        EXPECT_EQ(controller->windows()->activityWindowController() != nullptr, c.activityWindow);
        if (c.activityWindow) {
            QWidget *activity = controller->windows()->activityWindowController()->window();
            EXPECT_TRUE(activity->isVisible());
            EXPECT_EQ(activity->frameGeometry().size(), QSize(423, 309));
            EXPECT_EQ(activity->frameGeometry().left(), screen.left() + 967);
            EXPECT_EQ(activity->frameGeometry().top(), main.top());
        }
    }
}

} // namespace
