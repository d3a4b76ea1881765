// The Activity window's rows for scripted states of a real activity monitor.
#include "PinnedZoneAndLocale.h"
#include "ui/TDWActivityCellView.h"
#include "status/TDWActivityMonitor.h"
#include "ui/TDWActivityWindowController.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>

#include <gtest/gtest.h>

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QString Bob = QStringLiteral("bob@example.com");

// The monitor's notifications are queued for the main thread.
void deliver()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

class TDWActivityWindowTest : public ::testing::Test
{
protected:
    TDWActivityCellView *cell(qsizetype activity) const
    {
        return qobject_cast<TDWActivityCellView *>(window->tableView()->cellWidget(int(2 * activity), 0));
    }
    QString text(qsizetype activity) const { return cell(activity)->primaryTextField()->text(); }
    QList<int> heights() const
    {
        QList<int> result;
        for (int row = 0; row < window->tableView()->rowCount(); ++row)
            result.append(window->tableView()->rowHeight(row));
        return result;
    }

    PinnedZoneAndLocale pinned{"UTC", "en_US"};
    TDWActivityMonitor monitor;
    std::unique_ptr<TDWActivityWindowController> window;
};

TEST_F(TDWActivityWindowTest, AnEmptyMonitorGivesAnEmptyTable)
{
    window = std::make_unique<TDWActivityWindowController>(&monitor);
    EXPECT_EQ(window->tableView()->rowCount(), 0);
    // A notice for a record the monitor does not have, and no row: nothing.
    monitor.doneBackingUpAccountUsername(Alice, QStringLiteral("docs"));
    deliver();
    EXPECT_EQ(window->tableView()->rowCount(), 0);
}

TEST_F(TDWActivityWindowTest, OpeningShowsTheRecordsInTheMonitorsOrder)
{
    monitor.startedRetrievingApiListForAccountUsername(Alice, QStringLiteral("docs"), true);
    monitor.queueingIndividualItemBackupsForAccountUsername(Bob, QStringLiteral("contacts"));
    monitor.doneRetrievingListForAccountUsername(Alice, QStringLiteral("contacts"), 2);
    deliver();
    window = std::make_unique<TDWActivityWindowController>(&monitor);
    EXPECT_EQ(heights(), QList<int>({39, 1, 39, 1, 22, 1}));
    EXPECT_EQ(text(0), QStringLiteral("Retrieving Google Drive file list for “alice@example.com”"));
    EXPECT_EQ(text(1), QStringLiteral("Queueing download of contacts for “bob@example.com”"));
    EXPECT_EQ(text(2), QStringLiteral("Unable to retrieve Google Contacts for “alice@example.com”"));
    EXPECT_TRUE(cell(0)->isIndeterminate());
    EXPECT_FALSE(cell(2)->progressIndicator()->isVisibleTo(cell(2)));
    EXPECT_FALSE(cell(2)->secondaryTextField()->isVisibleTo(cell(2)));
}

TEST_F(TDWActivityWindowTest, RowsFollowTheMonitor)
{
    window = std::make_unique<TDWActivityWindowController>(&monitor);
    monitor.startedRetrievingApiListForAccountUsername(Alice, QStringLiteral("docs"), false);
    deliver();
    ASSERT_EQ(window->activities().size(), 1);
    EXPECT_EQ(text(0), QStringLiteral("Updating Google Drive file list for “alice@example.com”"));
    EXPECT_EQ(heights(), QList<int>({39, 1}));

    // Items arriving: a second line with the grouped count, the bar still spinning.
    monitor.updateApiListForAccountUsername(Alice, QStringLiteral("docs"), 1234);
    deliver();
    EXPECT_EQ(heights(), QList<int>({52, 1}));
    EXPECT_EQ(cell(0)->secondaryTextField()->text(), QStringLiteral("1,234 items retrieved"));
    EXPECT_TRUE(cell(0)->secondaryTextField()->isVisibleTo(cell(0)));
    EXPECT_TRUE(cell(0)->isIndeterminate());

    // A second account goes below.
    monitor.startedValidatingBackupsForAccountUsername(Bob, QStringLiteral("mail"));
    deliver();
    EXPECT_EQ(heights(), QList<int>({52, 1, 39, 1}));
    EXPECT_EQ(text(1), QStringLiteral("Validating existing Gmail backup files for “bob@example.com”"));

    // Downloads in batches: the bar at processed of queued.
    monitor.queuedIndividualItemBackupsForAccountUsername(Alice, QStringLiteral("docs"), 2500, true);
    deliver();
    EXPECT_EQ(text(0), QStringLiteral("Downloading files for “alice@example.com”"));
    EXPECT_EQ(cell(0)->secondaryTextField()->text(), QStringLiteral("Downloading batch of 2,500 messages"));
    EXPECT_FALSE(cell(0)->isIndeterminate());
    EXPECT_EQ(cell(0)->progressIndicator()->value(), 0);
    EXPECT_EQ(heights(), QList<int>({52, 1, 39, 1}));

    // Done: the row and its separator go; the other keeps its place.
    monitor.doneBackingUpAccountUsername(Alice, QStringLiteral("docs"));
    deliver();
    EXPECT_EQ(heights(), QList<int>({39, 1}));
    EXPECT_EQ(text(0), QStringLiteral("Validating existing Gmail backup files for “bob@example.com”"));
    EXPECT_EQ(window->activities().front().accountUsername, Bob);
}

TEST_F(TDWActivityWindowTest, MailListAndGlobalWork)
{
    window = std::make_unique<TDWActivityWindowController>(&monitor);
    monitor.startedRetrievingMailListForAccountUsername(Alice, true);
    monitor.updateRetrievingAllMailListForAccountUsername(Alice, 10, 110, 60);
    monitor.startedCheckingRules();
    deliver();
    ASSERT_EQ(window->activities().size(), 2);
    EXPECT_EQ(text(0), QStringLiteral("Retrieving Gmail message list for “alice@example.com”"));
    EXPECT_FALSE(cell(0)->isIndeterminate());
    EXPECT_EQ(cell(0)->progressIndicator()->value() * 2, cell(0)->progressIndicator()->maximum());
    EXPECT_EQ(text(1), QStringLiteral("Updating item status values"));

    monitor.startedStatusCache();
    deliver();
    EXPECT_EQ(text(1), QStringLiteral("Updating summary cache"));
    monitor.doneGlobal();
    deliver();
    EXPECT_EQ(heights(), QList<int>({39, 1}));
    EXPECT_EQ(window->activities().front().service, QStringLiteral("mail"));
}

TEST_F(TDWActivityWindowTest, RowsVanishedWithANewCycleGoAtTheirNextNotice)
{
    monitor.startedRetrievingApiListForAccountUsername(Alice, QStringLiteral("docs"), true);
    deliver();
    window = std::make_unique<TDWActivityWindowController>(&monitor);
    monitor.beganBackupCycle();
    deliver();
    EXPECT_EQ(window->activities().size(), 1);
    monitor.doneBackingUpAccountUsername(Alice, QStringLiteral("docs"));
    deliver();
    EXPECT_EQ(window->tableView()->rowCount(), 0);
}

// Texts, bars and row types for each status, filled straight from a record.
struct CellCase
{
    const char *name;
    TDWActivityMonitorBackupStatus record;
    QString text;
    QString secondLine; // empty: hidden
    int height;
    int barValue; // -1: spinning; -2: hidden
};

TDWActivityMonitorBackupStatus record(const QString &service, qint64 status)
{
    TDWActivityMonitorBackupStatus activity;
    activity.accountUsername = service.isEmpty() ? QString() : Alice;
    activity.service = service;
    activity.status = status;
    return activity;
}

TDWActivityMonitorBackupStatus withMail(double pct, bool initial)
{
    TDWActivityMonitorBackupStatus activity = record(QStringLiteral("mail"), 1);
    activity.pctComplete = pct;
    activity.initial = initial;
    return activity;
}

TDWActivityMonitorBackupStatus downloading(qint64 queued, qint64 processed)
{
    TDWActivityMonitorBackupStatus activity = record(QStringLiteral("docs"), 7);
    activity.numQueuedItems = queued;
    activity.numQueuedItemsProcessed = processed;
    return activity;
}

void PrintTo(const CellCase &row, std::ostream *out)
{
    *out << row.name;
}

class TDWActivityCellTest : public ::testing::TestWithParam<CellCase>
{
};

TEST_P(TDWActivityCellTest, Fill)
{
    PinnedZoneAndLocale pinned("UTC", "en_US");
    const CellCase &row = GetParam();
    TDWActivityCellView cell;
    TDWActivityWindowController::updateCellView(&cell, row.record);
    EXPECT_EQ(cell.primaryTextField()->text(), row.text);
    EXPECT_EQ(cell.secondaryTextField()->isVisibleTo(&cell), !row.secondLine.isEmpty());
    if (!row.secondLine.isEmpty()) {
        EXPECT_EQ(cell.secondaryTextField()->text(), row.secondLine);
    }
    EXPECT_EQ(TDWActivityWindowController::heightForCellType(TDWActivityWindowController::cellTypeForActivity(row.record)), row.height);
    EXPECT_EQ(cell.progressIndicator()->isVisibleTo(&cell), row.barValue != -2);
    if (row.barValue == -1) {
        EXPECT_TRUE(cell.isIndeterminate());
    }
    if (row.barValue >= 0) {
        EXPECT_FALSE(cell.isIndeterminate());
        EXPECT_EQ(cell.progressIndicator()->value() * 100 / cell.progressIndicator()->maximum(), row.barValue);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, TDWActivityCellTest,
    ::testing::Values(
        CellCase{"ItemStatusValues", record({}, 9), QStringLiteral("Updating item status values"), {}, 39, -1},
        CellCase{"Snapshot", record({}, 10), QStringLiteral("Creating a snapshot"), {}, 39, -1},
        CellCase{"SummaryCache", record({}, 11), QStringLiteral("Updating summary cache"), {}, 39, -1},
        CellCase{"LoggingIn", record(QStringLiteral("mail"), 4), QStringLiteral("Logging into Gmail for “alice@example.com”"), {}, 39, -1},
        CellCase{"LoginFailed", record(QStringLiteral("mail"), 5), QStringLiteral("Error logging into Gmail for “alice@example.com”"), {}, 22, -2},
        CellCase{"MailListHalfway", withMail(0.5, true), QStringLiteral("Retrieving Gmail message list for “alice@example.com”"), {}, 39, 50},
        CellCase{"MailListUpdate", withMail(0.25, false), QStringLiteral("Updating Gmail message list for “alice@example.com”"), {}, 39, 25},
        CellCase{"DownloadsOneBatch", downloading(8, 2), QStringLiteral("Downloading files for “alice@example.com”"), {}, 39, 25},
        CellCase{"NoStageYet", record(QStringLiteral("calendar"), 0), QStringLiteral("Updating calendar list for “alice@example.com”"), {}, 39, -1}),
    [](const ::testing::TestParamInfo<CellCase> &info) { return std::string(info.param.name); });

} // namespace
