// The preferences window as the application's start-up wires it: its panes,
// the pane it remembers, the settings each control writes (read back from the
// settings file by Python's plistlib), the accounts table, and restarting.
#include "AppTestSupport.h"
#include "TestSupport.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "app/TDWWindowRegistry.h"
#include "common/BKSNotUtils.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "loginitem/TDWLoginItemMgr.h"
#include "platform/desktop/TDWFileManager.h"
#include "platform/foundation/TDWMainThread.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/keychain/TDWKeyring.h"
#include "prefs/TDWAccountDeleteConfirmationWindowController.h"
#include "prefs/TDWAccountPrefCellView.h"
#include "prefs/TDWAccountPrefController.h"
#include "prefs/TDWAccountTable.h"
#include "prefs/TDWAdvancedPrefsController.h"
#include "prefs/TDWGeneralPrefsController.h"
#include "prefs/TDWRelaunch.h"
#include "prefs/TDWRuleSheetController.h"
#include "prefs/TDWTidewellPrefsWindowController.h"
#include "ui/TDWAccountFlowController.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QToolBar>

#include <thread>

namespace {

using Prefs = TDWTidewellPrefsWindowController;

const QString Alice = QStringLiteral("alice@example.com");
const QString Bob = QStringLiteral("bob@example.com");
const QString Carol = QStringLiteral("carol@example.com");

// The keyring of a desktop whose keyring is locked: every question waits a
// while (the unlock prompt), then has no answer.
class LockedKeyring : public TDWKeyringBackend
{
public:
    QString name() const override { return QStringLiteral("locked"); }
    TDWKeyringStatus find(const QString &, const QString &, QByteArray *, TDWError *) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return TDWKeyringStatus::Unavailable;
    }
    bool store(const QString &, const QString &, const QByteArray &, TDWError *) override { return false; }
    TDWKeyringStatus remove(const QString &, const QString &, TDWError *) override { return TDWKeyringStatus::Unavailable; }
};

// The desktop's file manager on the test's private session bus.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QList<QStringList> shown;

public slots:
    void ShowItems(const QStringList &uris, const QString &) { shown.append(uris); }
};

class TDWPrefsWindowTest : public apptest::AppFixture
{
protected:
    void TearDown() override
    {
        if (Prefs::hasSharedPrefsWindowController())
            delete Prefs::sharedPrefsWindowController();
        TDWKeyring::setBackend(nullptr);
        AppFixture::TearDown();
    }

    // A returning user's accounts (each name made unique for the test, as the
    // keychain manager's cache lasts for the process), then start-up.
    QStringList launchWith(const QStringList &names)
    {
        static int run = 0;
        ++run;
        QStringList usernames;
        for (const QString &name : names)
            usernames << QStringLiteral("%1.%2").arg(run).arg(name);
        prepareReturningUser(usernames);
        makeController();
        launch();
        EXPECT_TRUE(startupFinished);
        return usernames;
    }

    static void storeCredential(const QString &username, bool refreshTokenInvalid)
    {
        auto credential = std::make_shared<TDWCredential>();
        credential->setRefreshToken(QStringLiteral("rt-") + username);
        credential->setRefreshTokenInvalid(refreshTokenInvalid);
        ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, username, true));
    }

    static void setServices(const QString &username, const QStringList &services)
    {
        auto moc = TDWMasterStore::shared().newMoc();
        ASSERT_TRUE(TDWAccount::updateAccountWithUsername(username, {}, 1, services, false, *moc));
    }

    Prefs *openPrefs()
    {
        controller->windows()->showPrefsWindow();
        Prefs *prefs = Prefs::sharedPrefsWindowController();
        EXPECT_TRUE(prefs->window()->isVisible());
        return prefs;
    }

    static void closePrefs()
    {
        Prefs::sharedPrefsWindowController()->window()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(Prefs::hasSharedPrefsWindowController());
    }

    // The settings file as Python's plistlib reads it: each key's type name and value.
    QJsonObject settingsFile() const
    {
        TDWUserDefaults::standard()->synchronize();
        QProcess python;
        python.start(QStringLiteral("python3"),
                     {QStringLiteral("-c"),
                      QStringLiteral("import json, plistlib, sys\n"
                                     "d = plistlib.load(open(sys.argv[1], 'rb'))\n"
                                     "print(json.dumps({k: [type(v).__name__, v] for k, v in d.items() "
                                     "if isinstance(v, (bool, int, str, float))}))"),
                      TDWUserDefaults::standard()->path()});
        EXPECT_TRUE(python.waitForFinished(30000));
        EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
        return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    }

    // "int 7200", "bool True", "str fast": what plistlib read under the key.
    QString stored(const QJsonObject &settings, const QString &key) const
    {
        const QJsonArray entry = settings.value(key).toArray();
        if (entry.isEmpty())
            return QStringLiteral("(absent)");
        const QJsonValue value = entry.at(1);
        QString text = value.isBool() ? (value.toBool() ? QStringLiteral("True") : QStringLiteral("False"))
                       : value.isString() ? value.toString()
                                          : QString::number(value.toDouble(), 'g', 15);
        return entry.at(0).toString() + QLatin1Char(' ') + text;
    }

    TDWAccountPrefController *accounts(Prefs *prefs) const { return prefs->accountPrefsViewController(); }

    // The row's services line once the keyring's answer is in.
    static QString rowText(TDWAccountPrefController *pane, const QString &username, bool *alert = nullptr)
    {
        EXPECT_TRUE(tdwtest::waitUntil([&] { return pane->signInState(username) != TDWAccountPrefController::SignIn::Unknown; }));
        const int row = int(pane->accountUsernames().indexOf(username));
        TDWAccountPrefCellView *cell = pane->rowView(row);
        if (!cell)
            return QStringLiteral("(no row)");
        if (alert)
            *alert = cell->servicesTextIsAlert();
        return cell->servicesField()->text();
    }

    static void press(QWidget *widget, Qt::Key key, const QString &text = {})
    {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
        QCoreApplication::sendEvent(widget, &event);
    }
};

TEST_F(TDWPrefsWindowTest, PanesComeInOrderAndTheWindowRemembersTheOneChosen)
{
    launchWith({QStringLiteral("a@example.com")});
    Prefs *prefs = openPrefs();
    EXPECT_EQ(prefs->toolbarIdentifiers(), (QStringList{QStringLiteral("accounts"), QStringLiteral("general"), QStringLiteral("advanced")}));
    QStringList labels;
    for (QAction *item : prefs->toolbar()->actions())
        labels << item->text();
    EXPECT_EQ(labels, (QStringList{QStringLiteral("Google Accounts"), QStringLiteral("General"), QStringLiteral("Advanced")}));
    // First opening: the first pane, chosen in the toolbar.
    EXPECT_EQ(prefs->currentIdentifier(), QStringLiteral("accounts"));
    EXPECT_TRUE(prefs->toolbarItem(QStringLiteral("accounts"))->isChecked());
    EXPECT_EQ(prefs->window()->windowTitle(), QStringLiteral("Preferences"));

    // Shown by other means: not remembered.
    prefs->displayViewForIdentifier(QStringLiteral("general"), false);
    EXPECT_EQ(prefs->currentIdentifier(), QStringLiteral("general"));
    EXPECT_TRUE(TDWUserDefaults::standard()->objectForKey(Prefs::LastToolbarIdentifierKey).isNull());

    // Chosen from the toolbar: remembered, and the window's top edge stays.
    const int top = prefs->window()->geometry().top();
    prefs->toolbarItem(QStringLiteral("advanced"))->trigger();
    EXPECT_EQ(prefs->currentIdentifier(), QStringLiteral("advanced"));
    EXPECT_EQ(TDWUserDefaults::standard()->stringForKey(Prefs::LastToolbarIdentifierKey), QStringLiteral("advanced"));
    ASSERT_TRUE(tdwtest::waitUntil([&] { return !prefs->viewAnimation(); }));
    EXPECT_EQ(prefs->window()->geometry().top(), top);
    // An unknown pane changes nothing.
    prefs->displayViewForIdentifier(QStringLiteral("softwareupdate"), true);
    EXPECT_EQ(prefs->currentIdentifier(), QStringLiteral("advanced"));

    // Closed, the window goes; the next one opens where the user left.
    closePrefs();
    prefs = openPrefs();
    EXPECT_EQ(prefs->currentIdentifier(), QStringLiteral("advanced"));
    EXPECT_TRUE(prefs->toolbarItem(QStringLiteral("advanced"))->isChecked());
    closePrefs();

    // A pane this program does not have falls back to the first.
    TDWUserDefaults::standard()->setString(QStringLiteral("softwareupdate"), Prefs::LastToolbarIdentifierKey);
    prefs = openPrefs();
    EXPECT_EQ(prefs->currentIdentifier(), QStringLiteral("accounts"));
    EXPECT_TRUE(prefs->toolbarItem(QStringLiteral("accounts"))->isChecked());
}

TEST_F(TDWPrefsWindowTest, EachControlWritesItsKeyWithItsType)
{
    launchWith({QStringLiteral("a@example.com")});
    Prefs *prefs = openPrefs();
    TDWGeneralPrefsController *general = prefs->generalPrefsController();
    TDWAdvancedPrefsController *advanced = prefs->advancedPrefsController();

    // Nothing is written before the user acts; the defaults are shown.
    EXPECT_EQ(general->keepHistoryMenu()->currentData().toLongLong(), 7776000);
    EXPECT_EQ(advanced->performBackupMenu()->currentData().toLongLong(), 3600);
    EXPECT_FALSE(advanced->backupEveryHourUntilBackupCompleteCheckbox()->isEnabled());
    EXPECT_EQ(advanced->gmailBackupRateMenu()->currentText(), QStringLiteral("Moderate"));
    EXPECT_EQ(advanced->googleDriveTimeoutMenu()->currentData().toLongLong(), 60);
    EXPECT_EQ(advanced->googleDriveSimultaneousMenu()->currentData().toLongLong(), 4);
    EXPECT_EQ(advanced->calendarAccessLevelRadioButtons()->checkedId(), 1);
    EXPECT_TRUE(general->restartNowButton()->isHidden());
    QJsonObject settings = settingsFile();
    for (const char *key : {"DeleteReferenceDeltaSeconds", "SecondsBetweenBackups", "ThrottleLevel", "showdeleted"})
        EXPECT_EQ(stored(settings, QString::fromLatin1(key)), QStringLiteral("(absent)")) << key;

    general->showDeletedCheckbox()->click();
    general->runInBackgroundCheckbox()->click();
    general->keepHistoryMenu()->setCurrentIndex(general->keepHistoryMenu()->findData(-1));
    general->handleKeepHistoryChange();
    general->lockBackupFilesCheckbox()->click();
    general->lockBackupFilesCheckbox()->click();
    advanced->performBackupMenu()->setCurrentIndex(advanced->performBackupMenu()->findData(7200));
    advanced->handlePerformBackupsChange();
    advanced->backupEveryHourUntilBackupCompleteCheckbox()->click(); // on -> off
    advanced->gmailBackupRateMenu()->setCurrentIndex(advanced->gmailBackupRateMenu()->findText(QStringLiteral("Fast")));
    advanced->handleChangeGmailBackupRateMenu();
    advanced->googleDriveTimeoutMenu()->setCurrentIndex(advanced->googleDriveTimeoutMenu()->findData(120));
    advanced->handleTimeoutChange();
    advanced->googleDriveSimultaneousMenu()->setCurrentIndex(advanced->googleDriveSimultaneousMenu()->findData(8));
    advanced->handleSimultaneousChange();
    advanced->calendarAccessLevelRadioButtons()->button(3)->click();
    prefs->toolbarItem(QStringLiteral("general"))->trigger();

    settings = settingsFile();
    EXPECT_EQ(stored(settings, QStringLiteral("showdeleted")), QStringLiteral("bool True"));
    EXPECT_EQ(stored(settings, QStringLiteral("backgroundapp")), QStringLiteral("bool True"));
    EXPECT_EQ(stored(settings, QStringLiteral("DeleteReferenceDeltaSeconds")), QStringLiteral("int -1"));
    EXPECT_EQ(stored(settings, QStringLiteral("lockBackupFiles")), QStringLiteral("bool True")); // registered on, off, on again
    EXPECT_EQ(stored(settings, QStringLiteral("lockBackupFilesLastChanged")), QStringLiteral("int 2"));
    EXPECT_EQ(stored(settings, QStringLiteral("SecondsBetweenBackups")), QStringLiteral("int 7200"));
    // The box says "retry hourly"; the key says the opposite.
    EXPECT_EQ(stored(settings, QStringLiteral("DontIgnoreBackupIntervalWhenBackupIncomplete")), QStringLiteral("bool True"));
    EXPECT_EQ(stored(settings, QStringLiteral("ThrottleLevel")), QStringLiteral("str fast"));
    EXPECT_EQ(stored(settings, QStringLiteral("googleDriveTimeout")), QStringLiteral("int 120"));
    EXPECT_EQ(stored(settings, QStringLiteral("googleDriveSimultaneous")), QStringLiteral("int 8"));
    EXPECT_EQ(stored(settings, QStringLiteral("calendarAccessLevel")), QStringLiteral("int 3"));
    EXPECT_EQ(stored(settings, QStringLiteral("lasttoolbaridentifier")), QStringLiteral("str general"));
    // The restart button, revealed by the background setting, stays.
    general->runInBackgroundCheckbox()->click();
    EXPECT_FALSE(general->restartNowButton()->isHidden());

    // Reopened, the panes show what was stored.
    closePrefs();
    prefs = openPrefs();
    EXPECT_EQ(prefs->generalPrefsController()->keepHistoryMenu()->currentData().toLongLong(), -1);
    EXPECT_TRUE(prefs->advancedPrefsController()->backupEveryHourUntilBackupCompleteCheckbox()->isEnabled());
    EXPECT_FALSE(prefs->advancedPrefsController()->backupEveryHourUntilBackupCompleteCheckbox()->isChecked());
    EXPECT_EQ(prefs->advancedPrefsController()->gmailBackupRateMenu()->currentText(), QStringLiteral("Fast"));
    EXPECT_TRUE(prefs->generalPrefsController()->restartNowButton()->isHidden());
}

TEST_F(TDWPrefsWindowTest, StartAtLoginWritesAValidAutostartEntry)
{
    launchWith({QStringLiteral("a@example.com")});
    Prefs *prefs = openPrefs();
    QCheckBox *box = prefs->generalPrefsController()->startAtLoginCheckbox();
    EXPECT_FALSE(box->isChecked());
    box->click();
    const QString entry = TDWLoginItemMgr::launcherEntryPath();
    ASSERT_TRUE(QFileInfo::exists(entry));
    QProcess validate;
    validate.start(QStringLiteral("desktop-file-validate"), {entry});
    ASSERT_TRUE(validate.waitForFinished(30000));
    EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();
    closePrefs();
    // The box shows the entry's state when the window opens, not a setting.
    prefs = openPrefs();
    EXPECT_TRUE(prefs->generalPrefsController()->startAtLoginCheckbox()->isChecked());
    prefs->generalPrefsController()->startAtLoginCheckbox()->click();
    EXPECT_FALSE(QFileInfo::exists(entry));
}

TEST_F(TDWPrefsWindowTest, RowsTellServicesDisabledAndLoginRequired)
{
    const QStringList users = launchWith({Alice, Bob, Carol});
    storeCredential(users[0], false);
    storeCredential(users[1], true);
    setServices(users[0], {QStringLiteral("mail"), QStringLiteral("contacts")});
    setServices(users[2], {});
    TDWAccountPrefController *pane = accounts(openPrefs());
    EXPECT_EQ(pane->accountUsernames(), users);
    bool alert = true;
    EXPECT_EQ(rowText(pane, users[0], &alert), QStringLiteral("Gmail, Contacts"));
    EXPECT_FALSE(alert);
    EXPECT_EQ(rowText(pane, users[1], &alert), QStringLiteral("Login required"));
    EXPECT_TRUE(alert);
    // Every service off: Disabled, whatever the keyring says (there is no credential).
    EXPECT_EQ(rowText(pane, users[2], &alert), QStringLiteral("Disabled"));
    EXPECT_FALSE(alert);

    // Signed in again elsewhere: the notice redraws the row.
    storeCredential(users[1], false);
    BKSNotUtils::postNotificationName(QStringLiteral("not_needs_auth_change"), nullptr, {{QStringLiteral("accountUsername"), users[1]}});
    ASSERT_TRUE(tdwtest::waitUntil([&] { return rowText(pane, users[1]) == QStringLiteral("Gmail"); }));
}

TEST_F(TDWPrefsWindowTest, ALockedKeyringNeitherBlocksNorSaysLoginRequired)
{
    const QStringList users = launchWith({Alice});
    TDWKeyring::setBackend(std::make_shared<LockedKeyring>());
    QElapsedTimer opening;
    opening.start();
    TDWAccountPrefController *pane = accounts(openPrefs());
    EXPECT_LT(opening.elapsed(), 1000) << "the window waited for the keyring";
    EXPECT_EQ(pane->rowView(0)->servicesField()->text(), QStringLiteral("Gmail"));
    EXPECT_EQ(rowText(pane, users[0]), QStringLiteral("Keyring unavailable"));
    EXPECT_FALSE(pane->rowView(0)->servicesTextIsAlert());
}

TEST_F(TDWPrefsWindowTest, KeysAndContextMenuOfTheAccountsTable)
{
    const QStringList users = launchWith({Alice, Bob});
    Prefs *prefs = openPrefs();
    TDWAccountPrefController *pane = accounts(prefs);
    TDWAccountTable *table = pane->tableView();

    // No selection: no key opens a sheet, and there is no menu below the rows.
    for (Qt::Key key : {Qt::Key_Delete, Qt::Key_Backspace, Qt::Key_Return, Qt::Key_Enter})
        press(table, key);
    EXPECT_FALSE(prefs->attachedSheet());
    EXPECT_EQ(table->menuForPosition(QPoint(5, table->viewport()->height() - 2)), nullptr);

    // A right-click on a row selects it and offers both commands.
    const QPoint onBob(5, table->rowViewportPosition(1) + 5);
    std::unique_ptr<QMenu> menu(table->menuForPosition(onBob));
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->title(), QStringLiteral("Account"));
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("Edit Account Settings"));
    EXPECT_EQ(menu->actions()[1]->text(), QStringLiteral("Delete Account and Backups"));
    EXPECT_EQ(table->selectionModel()->selectedRows().value(0).row(), 1);

    // Delete from the menu: the confirmation sheet for that account.
    menu->actions()[1]->trigger();
    ASSERT_TRUE(pane->deleteConfirmationWindowController());
    EXPECT_EQ(pane->deleteConfirmationWindowController()->accountUsername(), users[1]);
    EXPECT_EQ(prefs->attachedSheet(), pane->deleteConfirmationWindowController());
    // A sign-in asked for while a sheet is open only beeps.
    prefs->showAccountSheetFor(users[0]);
    QTest::qWait(Prefs::AccountSheetDelayMs + 100);
    EXPECT_FALSE(pane->accountFlowController());
    pane->deleteConfirmationWindowController()->cancelButton()->click();
    ASSERT_TRUE(tdwtest::waitUntil([&] { return !prefs->attachedSheet(); }));

    // Backspace and Delete: the confirmation sheet; Return and Enter: the account sheet.
    for (Qt::Key key : {Qt::Key_Backspace, Qt::Key_Delete}) {
        press(table, key);
        ASSERT_TRUE(prefs->attachedSheet());
        EXPECT_EQ(prefs->attachedSheet(), pane->deleteConfirmationWindowController());
        pane->deleteConfirmationWindowController()->cancelButton()->click();
        ASSERT_TRUE(tdwtest::waitUntil([&] { return !prefs->attachedSheet(); }));
    }
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        press(table, key, QStringLiteral("\r"));
        ASSERT_TRUE(pane->accountFlowController());
        EXPECT_EQ(pane->accountFlowController()->accountUsername(), users[1]);
        EXPECT_EQ(prefs->attachedSheet(), pane->accountSheet());
        pane->cancelAccountFlow();
        EXPECT_FALSE(prefs->attachedSheet());
    }
    // Text of two characters is no command.
    press(table, Qt::Key_Delete, QStringLiteral("ab"));
    EXPECT_FALSE(prefs->attachedSheet());

    // The add button: the account sheet for a new account.
    pane->addButton()->click();
    ASSERT_TRUE(pane->accountFlowController());
    EXPECT_EQ(prefs->attachedSheet(), pane->accountSheet());
}

TEST_F(TDWPrefsWindowTest, ShowAccountSheetForOpensTheSignInOfThatAccount)
{
    const QStringList users = launchWith({Alice, Bob});
    storeCredential(users[1], true);
    openPrefs()->toolbarItem(QStringLiteral("general"))->trigger();
    // What the "Login required" notice does when clicked.
    controller->windows()->userNotificationActivated(
        {{QStringLiteral("notificationType"), QStringLiteral("loginrequired")}, {QStringLiteral("accountUsername"), users[1]}});
    Prefs *prefs = Prefs::sharedPrefsWindowController();
    EXPECT_EQ(prefs->currentIdentifier(), QStringLiteral("accounts"));
    EXPECT_EQ(TDWUserDefaults::standard()->stringForKey(Prefs::LastToolbarIdentifierKey), QStringLiteral("accounts"));
    TDWAccountPrefController *pane = accounts(prefs);
    ASSERT_TRUE(tdwtest::waitUntil([&] { return pane->accountFlowController() != nullptr; }));
    EXPECT_EQ(pane->accountFlowController()->accountUsername(), users[1]);
    EXPECT_TRUE(pane->accountFlowController()->authViewController());
    EXPECT_EQ(prefs->attachedSheet(), pane->accountSheet());
    EXPECT_EQ(pane->tableView()->selectionModel()->selectedRows().value(0).row(), 1);
}

TEST_F(TDWPrefsWindowTest, RevealNeverMakesAMissingChosenFolder)
{
    launchWith({Alice});
    const QString chosen = QDir(tdwtest::freshDir(QStringLiteral("disk"))).filePath(QStringLiteral("absent/Tidewell Backups"));
    ASSERT_TRUE(controller->saveAltBackupLoc(QUrl::fromLocalFile(chosen)));
    TDWUserDefaults::standard()->setBool(false, QStringLiteral("backupdirismissing"));
    Prefs *prefs = openPrefs();
    TDWAdvancedPrefsController *advanced = prefs->advancedPrefsController();
    EXPECT_EQ(advanced->locationField()->text(), chosen);
    ASSERT_FALSE(advanced->revealInFinderButton()->isHidden());
    advanced->revealInFinderButton()->click();
    EXPECT_FALSE(QFileInfo::exists(chosen));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(chosen).absolutePath()));
    // Reported as missing, with the buttons for a missing folder.
    EXPECT_TRUE(TDWUserDefaults::standard()->boolForKey(QStringLiteral("backupdirismissing")));
    EXPECT_FALSE(advanced->linkToDifferentDirectoryButton()->isHidden());
    EXPECT_FALSE(advanced->startNewDirectoryButton()->isHidden());
    EXPECT_TRUE(advanced->revealInFinderButton()->isHidden());
}

TEST_F(TDWPrefsWindowTest, RevealMakesOnlyTheDefaultFolderAndAsksTheFileManager)
{
    launchWith({Alice});
    FakeFileManager fileManager;
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.registerObject(TDWFileManager::Path, &fileManager, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService(TDWFileManager::Service));
    const QString folder = TDWFileMgr::defaultBackupLocation();
    QDir(folder).removeRecursively();
    TDWAdvancedPrefsController *advanced = openPrefs()->advancedPrefsController();
    EXPECT_EQ(advanced->locationField()->text(), folder);
    advanced->revealInFinderButton()->click();
    EXPECT_TRUE(QFileInfo(folder).isDir());
    ASSERT_TRUE(tdwtest::waitUntil([&] { return !fileManager.shown.isEmpty(); }));
    EXPECT_EQ(fileManager.shown.first(), QStringList{QUrl::fromLocalFile(folder).toString()});
    bus.unregisterService(TDWFileManager::Service);
    bus.unregisterObject(TDWFileManager::Path);
}

TEST_F(TDWPrefsWindowTest, ASettingWrittenByAWorkerReachesThePaneWithoutTheWorkerWaiting)
{
    launchWith({Alice});
    TDWAdvancedPrefsController *advanced = openPrefs()->advancedPrefsController();
    ASSERT_TRUE(advanced->linkToDifferentDirectoryButton()->isHidden());
    // The main thread waits for the worker, as it does at quit: a worker that
    // waited for the main thread in turn would never end.
    std::thread worker([] { TDWUserDefaults::standard()->setBool(true, QStringLiteral("backupdirismissing")); });
    worker.join();
    ASSERT_TRUE(tdwtest::waitUntil([&] { return !advanced->linkToDifferentDirectoryButton()->isHidden(); }));
    std::thread clearing([] { TDWUserDefaults::standard()->setBool(false, QStringLiteral("backupdirismissing")); });
    clearing.join();
    ASSERT_TRUE(tdwtest::waitUntil([&] { return advanced->linkToDifferentDirectoryButton()->isHidden(); }));
    EXPECT_FALSE(advanced->revealInFinderButton()->isHidden());
}

TEST_F(TDWPrefsWindowTest, TheRuleSheetOpensOnTheWindow)
{
    launchWith({Alice});
    Prefs *prefs = openPrefs();
    prefs->advancedPrefsController()->editRulesButton()->click();
    ASSERT_TRUE(prefs->advancedPrefsController()->ruleSheet());
    EXPECT_EQ(prefs->attachedSheet(), prefs->advancedPrefsController()->ruleSheet());
    prefs->advancedPrefsController()->ruleSheet()->rulesCancelButton()->click();
    EXPECT_FALSE(prefs->attachedSheet());
}

TEST_F(TDWPrefsWindowTest, RestartStartsTheNewInstanceThenQuits)
{
    launchWith({Alice});
    int started = 0;
    int quits = 0;
    TDWPrefsEnvironment environment = Prefs::environment();
    environment.startNewInstance = [&] { return ++started, true; };
    environment.quitForRestart = [&] { ++quits; };
    Prefs::setEnvironment(environment);
    Prefs *prefs = openPrefs();
    prefs->generalPrefsController()->handleRestartClick();
    EXPECT_EQ(started, 1);
    EXPECT_EQ(quits, 1);
    // No backup ran: the next start keeps its schedule.
    EXPECT_TRUE(TDWUserDefaults::standard()->objectForKey(QStringLiteral("restartedWhileBackupInProgress")).isNull());

    // A new instance that cannot start: this one stays.
    environment.startNewInstance = [&] { return ++started, false; };
    Prefs::setEnvironment(environment);
    prefs->generalPrefsController()->handleRestartClick();
    EXPECT_EQ(started, 2);
    EXPECT_EQ(quits, 1);
}

// Each pane, the window sized to it under the toolbar.
TEST_F(TDWPrefsWindowTest, Pictures)
{
    const QStringList users = launchWith({Alice, Bob});
    storeCredential(users[0], false);
    storeCredential(users[1], true);
    Prefs *prefs = openPrefs();
    rowText(accounts(prefs), users[1]);
    const QString folder = qEnvironmentVariable("TDW_PICTURE_DIR");
    for (const QString &identifier : prefs->toolbarIdentifiers()) {
        prefs->toolbarItem(identifier)->setChecked(true);
        prefs->displayViewForIdentifier(identifier, false);
        QWidget *pane = prefs->toolbarView(identifier);
        EXPECT_GE(prefs->window()->height(), pane->sizeHint().height() + prefs->toolbar()->sizeHint().height()) << identifier.toStdString();
        // The pane is not cut off at the bottom.
        EXPECT_GE(pane->height(), pane->sizeHint().height()) << identifier.toStdString();
        EXPECT_GE(pane->height(), pane->minimumSizeHint().height()) << identifier.toStdString();
        // The pane's controls are laid out from the event loop.
        QTest::qWait(100);
        const QPixmap picture = prefs->window()->grab();
        EXPECT_FALSE(picture.isNull());
        if (!folder.isEmpty()) {
            EXPECT_TRUE(picture.save(QDir(folder).filePath(QStringLiteral("prefs-%1.png").arg(identifier))));
        }
    }
}

// The stand-ins for the old instance: one that ends after 3 s, one that never does.
TEST(TDWRelaunchTest, TheNewInstanceWaitsForTheOldOneBounded)
{
    EXPECT_EQ(TDWRelaunch::waitForPidArgument({QStringLiteral("tidewell"), QStringLiteral("--wait-for-pid"), QStringLiteral("42")}).value_or(0), 42);
    EXPECT_FALSE(TDWRelaunch::waitForPidArgument({QStringLiteral("tidewell")}).has_value());
    EXPECT_FALSE(TDWRelaunch::waitForPidArgument({QStringLiteral("tidewell"), QStringLiteral("--wait-for-pid")}).has_value());
    EXPECT_FALSE(TDWRelaunch::waitForPidArgument({QStringLiteral("tidewell"), QStringLiteral("--wait-for-pid"), QStringLiteral("x")}).has_value());

    QProcess slow;
    slow.start(QStringLiteral("sleep"), {QStringLiteral("3")});
    ASSERT_TRUE(slow.waitForStarted());
    QElapsedTimer waited;
    waited.start();
    // Not reaped by its parent (this test) while it waits: ended all the same.
    EXPECT_TRUE(TDWRelaunch::waitForExit(slow.processId(), 20000));
    EXPECT_GE(waited.elapsed(), 2500);
    slow.waitForFinished();

    QProcess stuck;
    stuck.start(QStringLiteral("sleep"), {QStringLiteral("600")});
    ASSERT_TRUE(stuck.waitForStarted());
    EXPECT_FALSE(TDWRelaunch::waitForExit(stuck.processId(), 300));
    stuck.kill();
    stuck.waitForFinished();
}

} // namespace

#include "TDWPrefsWindowTest.moc"
