#pragma once

#include "status/TDWActivityMonitorBackupStatus.h"

#include <QList>
#include <QObject>

#include <memory>
#include <optional>

class QTableWidget;
class QWidget;
class TDWActivityCellView;
class TDWActivityMonitor;
class TDWNotification;

// The Activity window: one row for what each busy account and service (and
// the work of no account) is doing now, built from copies of the activity
// monitor's records and kept up to date from its notifications. Each activity
// is followed by a thin separator row, so activity k is table row 2k. Rows
// keep the order in which they first appeared; one goes when the monitor no
// longer has its record at its next notification. The application's delegate
// makes one on the first "Activity" command and keeps it for the run.
//
// Notifications arrive on the main thread, where each is looked up in the
// monitor and applied at once: no other change can come between the two.
class TDWActivityWindowController : public QObject
{
    Q_OBJECT

public:
    // How an activity row is laid out.
    enum CellType {
        TextOnly = 0,          // a failed list retrieval or log-in: 22 pt
        TextAndBar = 1,        // 39 pt
        TextBarAndSecondLine = 2, // 52 pt
    };

    explicit TDWActivityWindowController(TDWActivityMonitor *monitor, QObject *parent = nullptr);
    ~TDWActivityWindowController() override;

    // Brings the application forward and shows the window; centred on its first showing ever.
    void showWindow();
    QWidget *window() const { return m_window.get(); }
    QTableWidget *tableView() const { return m_tableView; }
    const QList<TDWActivityMonitorBackupStatus> &activities() const { return m_activities; }

    static CellType cellTypeForActivity(const TDWActivityMonitorBackupStatus &activity);
    // Heights in points of activity rows of each type, and of separator rows.
    static int heightForCellType(CellType type);
    static constexpr int SeparatorHeight = 1;

    // Fills a row's view from the record.
    static void updateCellView(TDWActivityCellView *cell, const TDWActivityMonitorBackupStatus &activity);

private:
    void statusChanged(const TDWNotification &notification);
    void globalStatusChanged();
    // index: of the activity the record belongs to, or -1 for none yet.
    void processChangeWithActivity(const std::optional<TDWActivityMonitorBackupStatus> &record, qsizetype index);
    qsizetype indexOfActivity(const QString &username, const QString &service) const;
    void insertRowsForActivity(qsizetype index);
    void fillRow(qsizetype index);

    TDWActivityMonitor *m_monitor;
    std::unique_ptr<QWidget> m_window;
    QTableWidget *m_tableView;
    QList<TDWActivityMonitorBackupStatus> m_activities;
    bool m_calledAwakeFromNib = false;
};
