// The status-bar item's menu on a headless event loop: a fixture store, a
// scripted status evaluator and a scheduler whose backup runs wait for the test.
#include "StatusMenuFixture.h"

#include "PinnedZoneAndLocale.h"
#include "TestSupport.h"
#include "common/BKSDateFormatUtils.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "ui/TDWStatusAccountItems.h"
#include "ui/TDWStatusIconDrawing.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

#include <gtest/gtest.h>

using namespace statusmenutest;

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QString Bob = QStringLiteral("bob@example.com");
const QString Carol = QStringLiteral("carol@example.com");
const QStringList AppItems = {QStringLiteral("Preferences…"), QStringLiteral("---"), QStringLiteral("About Tidewell"), QStringLiteral("Activity"),
                              QStringLiteral("---"), QStringLiteral("Quit Tidewell")};

QAction *itemTitled(const QMenu *menu, const QString &title)
{
    for (QAction *action : menu->actions())
        if (action->text() == title)
            return action;
    return nullptr;
}

QImage imageOf(const QIcon &icon)
{
    return icon.pixmap(16, 16).toImage();
}

class TDWStatusItemMgrTest : public ::testing::Test, public StatusMenuFixture
{
protected:
    void addIteration(const QDateTime &start, const QDateTime &end)
    {
        const TDWBackupIteration::Ptr iteration = TDWBackupIteration::newWithMoc(*stack.moc);
        iteration->setIterationStartTime(start);
        iteration->setIterationEndTime(end);
        ASSERT_TRUE(stack.moc->save(nullptr));
    }
};

TEST_F(TDWStatusItemMgrTest, WithoutAccountsTheMenuSaysSoAndBackUpNowIsOff)
{
    statusMgr->global = TDWStatusMgr::NothingEnabled;
    make();
    EXPECT_EQ(lines(), QStringList({QStringLiteral("Not backed up [off]"), QStringLiteral("---"), QStringLiteral("Back Up Now [off]"),
                                    QStringLiteral("---"), QStringLiteral("No accounts configured [off]"), QStringLiteral("---")}) + AppItems);
    EXPECT_EQ(mgr->menu()->title(), QStringLiteral("Tidewell"));
    EXPECT_EQ(itemTitled(mgr->menu(), QStringLiteral("Preferences…"))->data().toInt(), TDWStatusItemMgr::PreferencesTag);

    // A cycle that ends re-applies the rule: still nothing to back up.
    post(QStringLiteral("failedBackup"));
    EXPECT_FALSE(mgr->backUpNowItem()->isEnabled());
}

TEST_F(TDWStatusItemMgrTest, DebugItemsOnlyWhenTheSettingSaysSo)
{
    TDWUserDefaults::standard()->setBool(true, QStringLiteral("ShowDebugMenuItems"));
    make();
    const QStringList all = lines();
    const QStringList tail = all.mid(all.indexOf(QStringLiteral("Activity")) + 1);
    EXPECT_EQ(tail, QStringList({QStringLiteral("---"), QStringLiteral("Throw Exception"), QStringLiteral("Remove startup item"),
                                 QStringLiteral("Check startup item status"), QStringLiteral("---"), QStringLiteral("Quit Tidewell")}));
    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("ShowDebugMenuItems"));
}

// One account's group for each mix of service codes (mail, docs, contacts, calendar).
struct GroupCase
{
    const char *name;
    QList<qint32> codes;
    QStringList lines; // after the separator and the title line
    qint32 image;
};

void PrintTo(const GroupCase &row, std::ostream *out)
{
    *out << row.name;
}

class TDWStatusGroupTest : public TDWStatusItemMgrTest, public ::testing::WithParamInterface<GroupCase>
{
};

TEST_P(TDWStatusGroupTest, LinesAndImage)
{
    const GroupCase &row = GetParam();
    stack.addAccount(Alice);
    statusMgr->setAll(Alice, row.codes);
    make();
    const QStringList group = accountLines();
    ASSERT_GE(group.size(), 3);
    EXPECT_EQ(group.at(0), QStringLiteral("---"));
    EXPECT_EQ(group.at(1), Alice);
    EXPECT_EQ(group.mid(2, group.size() - 3), row.lines);
    EXPECT_EQ(group.last(), QStringLiteral("---")); // the separator after the accounts
    EXPECT_EQ(imageOf(itemTitled(mgr->menu(), Alice)->icon()), imageOf(TDWStatusAccountItems::accountStatusImage(row.image)));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, TDWStatusGroupTest,
    ::testing::Values(
        GroupCase{"AllBackedUp", {7, 7, 7, 7, 7}, {QStringLiteral("Backed up. [off]")}, 7},
        GroupCase{"OneBackedUpRestDisabled",
                  {7, 9, 9, 9, 9},
                  {QStringLiteral("Gmail: Backed up. [off]"), QStringLiteral("Drive, Contacts, Calendar, Tasks: Disabled. [off]")},
                  7},
        GroupCase{"TwoFailedListsGetALineEach",
                  {2, 2, 7, 7, 7},
                  {QStringLiteral("Gmail: Last Gmail message list retrieval failed. [off]"),
                   QStringLiteral("Drive: Last Google Drive file list retrieval failed. [off]"),
                   QStringLiteral("Contacts, Calendar, Tasks: Backed up. [off]")},
                  2},
        GroupCase{"MailWaitingForTheNextRunHasHelp",
                  {8, 7, 7, 7, 7},
                  {QStringLiteral("Gmail: 0 of 0 Gmail messages are not yet backed up. [off]"), QStringLiteral("Help"),
                   QStringLiteral("Drive, Contacts, Calendar, Tasks: Backed up. [off]")},
                  7},
        GroupCase{"DisabledAndFolderMissingGetNoLight",
                  {9, 10, 9, 10, 9},
                  {QStringLiteral("Gmail, Contacts, Tasks: Disabled. [off]"), QStringLiteral("Drive, Calendar: Backup directory not found. [off]")},
                  9},
        GroupCase{"AllInProgress", {6, 6, 6, 6, 6}, {QStringLiteral("Backup in progress… [off]")}, 6},
        GroupCase{"LoginRequiredGroupsOthersDoNot",
                  {1, 5, 1, 5, 1},
                  {QStringLiteral("Gmail, Contacts, Tasks: Login required. [off]"), QStringLiteral("Drive: Last backup did not complete [off]"),
                   QStringLiteral("Calendar: Last backup did not complete [off]")},
                  1}),
    [](const ::testing::TestParamInfo<GroupCase> &info) { return std::string(info.param.name); });

TEST_F(TDWStatusItemMgrTest, StatusImagesDifferByMeaning)
{
    const QImage available = imageOf(TDWStatusAccountItems::accountStatusImage(7));
    EXPECT_EQ(imageOf(TDWStatusAccountItems::accountStatusImage(8)), available);
    EXPECT_NE(imageOf(TDWStatusAccountItems::accountStatusImage(2)), available);
    EXPECT_NE(imageOf(TDWStatusAccountItems::accountStatusImage(9)), available);
    EXPECT_NE(imageOf(TDWStatusAccountItems::accountStatusImage(9)), imageOf(TDWStatusAccountItems::accountStatusImage(2)));
    for (qint32 grouped : {1, 6, 7, 9, 10})
        EXPECT_TRUE(TDWStatusAccountItems::joinStatusLabels(grouped)) << grouped;
    for (qint32 single : {0, 2, 3, 4, 5, 8, 11})
        EXPECT_FALSE(TDWStatusAccountItems::joinStatusLabels(single)) << single;
}

TEST_F(TDWStatusItemMgrTest, AccountsComeAndGoInOrder)
{
    stack.addAccount(Carol);
    stack.addAccount(Alice);
    make();
    EXPECT_EQ(accountLines(), QStringList({QStringLiteral("---"), Alice, QStringLiteral("Backed up. [off]"), QStringLiteral("---"), Carol,
                                           QStringLiteral("Backed up. [off]"), QStringLiteral("---")}));

    // Bob sorts between them: his group goes just before Carol's separator.
    stack.addAccount(Bob);
    statusMgr->setAll(Bob, {2, 7, 7, 7, 7});
    post(QStringLiteral("newAccount"), Bob);
    EXPECT_EQ(accountLines(), QStringList({QStringLiteral("---"), Alice, QStringLiteral("Backed up. [off]"), QStringLiteral("---"), Bob,
                                           QStringLiteral("Gmail: Last Gmail message list retrieval failed. [off]"),
                                           QStringLiteral("Drive, Contacts, Calendar, Tasks: Backed up. [off]"), QStringLiteral("---"), Carol,
                                           QStringLiteral("Backed up. [off]"), QStringLiteral("---")}));
    // A second notice for a shown account adds nothing.
    post(QStringLiteral("newAccount"), Bob);
    EXPECT_EQ(lines().count(Bob), 1);

    // An update rebuilds the group in place.
    statusMgr->setAll(Bob, {7, 7, 7, 7});
    post(QStringLiteral("accountUpdate"), Bob);
    EXPECT_EQ(accountLines().mid(3, 4), QStringList({QStringLiteral("---"), Bob, QStringLiteral("Backed up. [off]"), QStringLiteral("---")}));

    // The last group removed ends before the separator after the accounts.
    post(QStringLiteral("deletedAccount"), Carol);
    post(QStringLiteral("deletedAccount"), Alice);
    EXPECT_EQ(accountLines(), QStringList({QStringLiteral("---"), Bob, QStringLiteral("Backed up. [off]"), QStringLiteral("---")}));
    post(QStringLiteral("deletedAccount"), Bob);
    EXPECT_EQ(lines().mid(3, 3), QStringList({QStringLiteral("---"), QStringLiteral("No accounts configured [off]"), QStringLiteral("---")}));
    EXPECT_EQ(lines().mid(6), AppItems);

    // The first account replaces the placeholder.
    post(QStringLiteral("newAccount"), Bob);
    EXPECT_EQ(accountLines(), QStringList({QStringLiteral("---"), Bob, QStringLiteral("Backed up. [off]"), QStringLiteral("---")}));
    EXPECT_EQ(lines().mid(7), AppItems);
}

TEST_F(TDWStatusItemMgrTest, UnknownUserNamesLeaveTheMenuAlone)
{
    stack.addAccount(Alice);
    make();
    const QStringList before = lines();
    post(QStringLiteral("accountUpdate"), Bob);
    post(QStringLiteral("toggleincludeinstatus"), Bob);
    post(QStringLiteral("deletedAccount"), Bob);
    post(QStringLiteral("newAccount"), Bob); // not in the store
    EXPECT_EQ(lines(), before);
}

// The first build could not read the accounts: the first account added
// builds the area afresh in place of the error line, not after Quit.
TEST_F(TDWStatusItemMgrTest, AnAccountAreaThatFailedIsBuiltAfreshByTheNextAccount)
{
    stack.addAccount(Alice);
    const QString master = TDWMasterStore::shared().masterStore()->path();
    ASSERT_EQ(dotest::sqlite(master, QStringLiteral("ALTER TABLE Account RENAME TO AccountAway")), QString());
    {
        tdwtest::LogCapture log;
        make();
        EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to retrieve account status summaries: ")));
    }
    EXPECT_EQ(lines().mid(3, 2), QStringList({QStringLiteral("Error checking backup status [off]"), QStringLiteral("---")}));
    EXPECT_EQ(lines().mid(5), AppItems);

    ASSERT_EQ(dotest::sqlite(master, QStringLiteral("ALTER TABLE AccountAway RENAME TO Account")), QString());
    post(QStringLiteral("newAccount"), Alice);
    EXPECT_EQ(accountLines(), QStringList({QStringLiteral("---"), Alice, QStringLiteral("Backed up. [off]"), QStringLiteral("---")}));
    EXPECT_EQ(lines().mid(7), AppItems);
}

TEST_F(TDWStatusItemMgrTest, BackUpNowFollowsTheRuleAtBuildEndAndAccountChangesOnly)
{
    statusMgr->global = TDWStatusMgr::NothingEnabled;
    make();
    EXPECT_FALSE(mgr->backUpNowItem()->isEnabled());
    // A cycle that begins leaves the item as it was.
    post(QStringLiteral("backupInProgress"));
    EXPECT_FALSE(mgr->backUpNowItem()->isEnabled());
    EXPECT_EQ(mgr->backUpNowItem()->text(), QStringLiteral("Stop Backing Up"));
    // An account change while the cycle runs enables it.
    stack.addAccount(Alice);
    post(QStringLiteral("newAccount"), Alice);
    EXPECT_TRUE(mgr->backUpNowItem()->isEnabled());
    post(QStringLiteral("failedBackup"));
    EXPECT_FALSE(mgr->backUpNowItem()->isEnabled());
    statusMgr->global = TDWStatusMgr::AllBackedUp;
    post(QStringLiteral("accountUpdate"), Alice);
    EXPECT_TRUE(mgr->backUpNowItem()->isEnabled());
}

TEST_F(TDWStatusItemMgrTest, BackUpNowStopAndTheEndOfTheCycle)
{
    stack.addAccount(Alice);
    addIteration(dotest::at(1), QDateTime());
    make();
    // The first build takes the start time of an iteration that has not ended.
    EXPECT_EQ(mgr->lastBackupDate(), dotest::at(1));

    mgr->handleNow();
    timers.advance(0); // the scheduler's timer fires at once
    ASSERT_TRUE(schedtest::waitFor([this] { return !runs.empty() && runs.front()->hasStarted(); }));
    post(QStringLiteral("backupInProgress"));
    EXPECT_EQ(mgr->currentStatusItem()->text(), QStringLiteral("Backup in progress…"));
    EXPECT_EQ(mgr->backUpNowItem()->text(), QStringLiteral("Stop Backing Up"));

    mgr->handleNow();
    EXPECT_EQ(mgr->currentStatusItem()->text(), QStringLiteral("Cancelling Backup"));
    EXPECT_EQ(mgr->backUpNowItem()->text(), QStringLiteral("Stop Backing Up"));
    ASSERT_TRUE(schedtest::waitFor([this] { return runs.front()->isCancelled(); }));
    EXPECT_EQ(runs.size(), 1u);

    // The end of the cycle counts only an end time.
    post(QStringLiteral("failedBackup"));
    EXPECT_FALSE(mgr->lastBackupDate().isValid());
    EXPECT_EQ(mgr->currentStatusItem()->text(), QStringLiteral("Not backed up"));
    EXPECT_EQ(mgr->backUpNowItem()->text(), QStringLiteral("Back Up Now"));

    addIteration(dotest::at(2), dotest::at(3));
    post(QStringLiteral("failedBackup"));
    EXPECT_EQ(mgr->lastBackupDate(), dotest::at(3));
    EXPECT_EQ(mgr->currentStatusItem()->text(),
              QStringLiteral("Most recent backup cycle: %1").arg(BKSDateFormatUtils::formatDate(dotest::at(3), false)));
}

TEST_F(TDWStatusItemMgrTest, ABackupRunningWhenTheItemIsMadeShowsFromTheStart)
{
    stack.addAccount(Alice);
    scheduler->userRequestedImmediateBackup();
    timers.advance(0);
    ASSERT_TRUE(schedtest::waitFor([this] { return scheduler->backupInProgress(); }));
    make();
    EXPECT_TRUE(mgr->backupInProgress());
    EXPECT_EQ(mgr->currentStatusItem()->text(), QStringLiteral("Backup in progress…"));
    EXPECT_EQ(mgr->backUpNowItem()->text(), QStringLiteral("Stop Backing Up"));
    EXPECT_EQ(mgr->trayIcon()->contextMenu(), mgr->menu());
    EXPECT_EQ(mgr->trayIcon()->icon().pixmap(18, 18).toImage().convertToFormat(QImage::Format_ARGB32),
              TDWStatusIconDrawing::getImageForStatus(TDWStatusMgr::AllBackedUp, 0.0, true).convertToFormat(QImage::Format_ARGB32));
}

TEST_F(TDWStatusItemMgrTest, TheIconFollowsTheGlobalStatus)
{
    statusMgr->global = TDWStatusMgr::NeedsAttention;
    stack.addAccount(Alice);
    make();
    const auto shown = [this] { return mgr->trayIcon()->icon().pixmap(18, 18).toImage().convertToFormat(QImage::Format_ARGB32); };
    const auto drawn = [](qint32 global, bool busy) { return TDWStatusIconDrawing::getImageForStatus(global, 0.0, busy).convertToFormat(QImage::Format_ARGB32); };
    EXPECT_EQ(shown(), drawn(TDWStatusMgr::NeedsAttention, false));
    post(QStringLiteral("backupInProgress"));
    EXPECT_EQ(shown(), drawn(TDWStatusMgr::NeedsAttention, true));
    statusMgr->global = TDWStatusMgr::NothingEnabled;
    post(QStringLiteral("failedBackup"));
    EXPECT_EQ(shown(), drawn(TDWStatusMgr::NothingEnabled, false));
    // An update redraws a moment later.
    statusMgr->global = TDWStatusMgr::AllBackedUp;
    post(QStringLiteral("accountUpdate"), Alice);
    ASSERT_TRUE(schedtest::waitFor([&] { return shown() == drawn(TDWStatusMgr::AllBackedUp, false); }));
}

TEST_F(TDWStatusItemMgrTest, OutsideOperationsDisableExactlyWhatWasEnabled)
{
    stack.addAccount(Alice);
    statusMgr->setAll(Alice, {8, 7, 7, 7});
    make();
    const QStringList before = lines();
    post(QStringLiteral("outsideopstarted"));
    for (const QAction *action : mgr->menu()->actions())
        EXPECT_FALSE(action->isEnabled() && !action->isSeparator()) << action->text().toStdString();
    post(QStringLiteral("outsideopstarted"));
    post(QStringLiteral("outsideopfinished"));
    EXPECT_EQ(lines(), before);
    // Nothing more to give back.
    post(QStringLiteral("outsideopfinished"));
    EXPECT_EQ(lines(), before);
}

TEST_F(TDWStatusItemMgrTest, ItemsRebuiltDuringAnOutsideOperationAreNotTouchedAtItsEnd)
{
    stack.addAccount(Alice);
    statusMgr->setAll(Alice, {8, 7, 7, 7});
    make();
    post(QStringLiteral("outsideopstarted"));
    // The group's Help item, disabled and remembered, is replaced by a new one.
    post(QStringLiteral("accountUpdate"), Alice);
    QAction *help = itemTitled(mgr->menu(), QStringLiteral("Help"));
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->isEnabled());
    help->setEnabled(false);
    post(QStringLiteral("outsideopfinished"));
    // Only the remembered items that still exist come back; the new one is left as it is.
    EXPECT_FALSE(help->isEnabled());
    EXPECT_TRUE(mgr->backUpNowItem()->isEnabled());
    EXPECT_TRUE(mgr->quitItem()->isEnabled());
}

TEST_F(TDWStatusItemMgrTest, TheCheckMarkFollowsTheSelectedAccount)
{
    stack.addAccount(Alice);
    stack.addAccount(Bob);
    currentAccountUsername = Bob;
    make();
    EXPECT_TRUE(itemTitled(mgr->menu(), Bob)->isChecked());
    EXPECT_FALSE(itemTitled(mgr->menu(), Alice)->isChecked());

    QSignalSpy select(mgr.get(), &TDWStatusItemMgr::selectAccountRequested);
    QSignalSpy show(mgr.get(), &TDWStatusItemMgr::showMainWindowRequested);
    itemTitled(mgr->menu(), Bob)->trigger();
    EXPECT_EQ(select.size(), 0);
    EXPECT_EQ(show.size(), 1);
    EXPECT_TRUE(itemTitled(mgr->menu(), Bob)->isChecked());

    itemTitled(mgr->menu(), Alice)->trigger();
    ASSERT_EQ(select.size(), 1);
    EXPECT_EQ(select.at(0).at(0).toString(), Alice);
    EXPECT_EQ(show.size(), 2);
    // The mark moves when the selection is announced, not before.
    EXPECT_FALSE(itemTitled(mgr->menu(), Alice)->isChecked());
    post(QStringLiteral("usernameSelected"), Alice);
    EXPECT_TRUE(itemTitled(mgr->menu(), Alice)->isChecked());
    EXPECT_FALSE(itemTitled(mgr->menu(), Bob)->isChecked());

    post(QStringLiteral("usernameSelected"), Carol);
    for (const QAction *action : mgr->menu()->actions())
        EXPECT_FALSE(action->isChecked());
}

TEST_F(TDWStatusItemMgrTest, TheEndOfTheFirstRunEnablesPreferences)
{
    make();
    QAction *preferences = itemTitled(mgr->menu(), QStringLiteral("Preferences…"));
    preferences->setEnabled(false);
    post(QStringLiteral("firsttimedone"));
    EXPECT_TRUE(preferences->isEnabled());
}

TEST_F(TDWStatusItemMgrTest, MenuCommandsReachTheApplication)
{
    stack.addAccount(Alice);
    statusMgr->setAll(Alice, {8, 7, 7, 7});
    make();
    QSignalSpy prefs(mgr.get(), &TDWStatusItemMgr::showPrefsWindowRequested);
    QSignalSpy about(mgr.get(), &TDWStatusItemMgr::showAboutRequested);
    QSignalSpy activity(mgr.get(), &TDWStatusItemMgr::showActivityWindowRequested);
    QSignalSpy help(mgr.get(), &TDWStatusItemMgr::throttlingHelpRequested);
    QSignalSpy quit(mgr.get(), &TDWStatusItemMgr::quitRequested);
    for (const char *title : {"Preferences…", "About Tidewell", "Activity", "Help", "Quit Tidewell"})
        itemTitled(mgr->menu(), QString::fromUtf8(title))->trigger();
    EXPECT_EQ(prefs.size() + about.size() + activity.size() + help.size() + quit.size(), 5);
    EXPECT_EQ(help.size(), 1);
    EXPECT_EQ(quit.size(), 1);
}

// The status line's relative wording is refreshed 5 s after every quarter hour.
TEST_F(TDWStatusItemMgrTest, StatusLineTimerFiresAfterEachQuarterHour)
{
    PinnedZoneAndLocale pinned("UTC", "en_US");
    for (const auto &[start, first] : {std::pair{QTime(10, 7, 30), QTime(10, 15, 5)}, std::pair{QTime(10, 15, 0), QTime(10, 30, 5)}}) {
        timers.now = QDateTime(QDate(2024, 3, 1), start, Qt::UTC);
        make();
        EXPECT_EQ(mgr->statusUpdateTimer()->fireDate(), QDateTime(QDate(2024, 3, 1), first, Qt::UTC));
        EXPECT_EQ(mgr->statusUpdateTimer()->interval(), std::chrono::seconds(900));
    }
}

TEST_F(TDWStatusItemMgrTest, StatusLineTurnsTodayIntoYesterday)
{
    PinnedZoneAndLocale pinned("UTC", "en_US");
    TDWClock::setDurationScale(0.001);
    const QDate day(2024, 3, 1);
    timers.now = QDateTime(day, QTime(23, 59, 0), Qt::UTC);
    addIteration(QDateTime(day, QTime(9, 0), Qt::UTC), QDateTime(day, QTime(9, 30), Qt::UTC));
    make();
    EXPECT_TRUE(mgr->currentStatusItem()->text().startsWith(QStringLiteral("Most recent backup cycle: Today"))) << mgr->currentStatusItem()->text().toStdString();
    // Midnight passes before the timer's firing at 00:00:05.
    timers.now = QDateTime(day.addDays(1), QTime(0, 0, 10), Qt::UTC);
    const bool refreshed = schedtest::waitFor([this] { return mgr->currentStatusItem()->text().contains(QStringLiteral("Yesterday")); });
    TDWClock::setDurationScale(1.0);
    EXPECT_TRUE(refreshed) << mgr->currentStatusItem()->text().toStdString();
    // The timer runs 1,000 times faster: on a busy machine it may have fired
    // again since, but always stays 5 s past a quarter hour after midnight.
    const QDateTime fireDate = mgr->statusUpdateTimer()->fireDate();
    EXPECT_GE(fireDate, QDateTime(day.addDays(1), QTime(0, 15, 5), Qt::UTC));
    EXPECT_EQ(fireDate.time().minute() % 15, 0);
    EXPECT_EQ(fireDate.time().second(), 5);
}

TEST_F(TDWStatusItemMgrTest, TheTimerLeavesTheLineAloneDuringABackup)
{
    PinnedZoneAndLocale pinned("UTC", "en_US");
    TDWClock::setDurationScale(0.001);
    timers.now = QDateTime(QDate(2024, 3, 1), QTime(10, 14, 0), Qt::UTC);
    make();
    post(QStringLiteral("backupInProgress"));
    const QDateTime firstFire = mgr->statusUpdateTimer()->fireDate();
    timers.now = firstFire.addSecs(1);
    ASSERT_TRUE(schedtest::waitFor([&] { return mgr->statusUpdateTimer()->fireDate() != firstFire; }));
    TDWClock::setDurationScale(1.0);
    EXPECT_EQ(mgr->currentStatusItem()->text(), QStringLiteral("Backup in progress…"));
}

} // namespace
