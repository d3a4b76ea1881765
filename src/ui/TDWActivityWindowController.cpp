#include "ui/TDWActivityWindowController.h"

#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "status/TDWActivityMonitor.h"
#include "ui/TDWActivityCellView.h"
#include "ui/TDWWindowUtilities.h"

#include <QCoreApplication>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString localized(const char *text)
{
    return QCoreApplication::translate("TDWActivityWindowController", text);
}

QString grouped(qint64 count)
{
    return QLocale().toString(count);
}

} // namespace

TDWActivityWindowController::TDWActivityWindowController(TDWActivityMonitor *monitor, QObject *parent)
    : QObject(parent)
    , m_monitor(monitor)
    , m_window(std::make_unique<QWidget>())
    , m_tableView(new QTableWidget(0, 1, m_window.get()))
{
    m_window->setObjectName(QStringLiteral("TDWActivityWindow"));
    m_window->setWindowTitle(localized("Activity"));
    auto *layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tableView);
    m_tableView->horizontalHeader()->hide();
    m_tableView->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_tableView->verticalHeader()->hide();
    m_tableView->verticalHeader()->setMinimumSectionSize(SeparatorHeight);
    m_tableView->setShowGrid(false);
    m_tableView->setSelectionMode(QAbstractItemView::NoSelection);
    m_tableView->setFocusPolicy(Qt::NoFocus);
    m_window->resize(423, 309);

    if (m_monitor)
        m_activities = m_monitor->currentStatusValues();
    for (qsizetype i = 0; i < m_activities.size(); ++i)
        insertRowsForActivity(i);

    TDWNotificationCenter &center = TDWNotificationCenter::defaultCenter();
    for (const char *name : {"indexretrievalstatuschange", "NOTIFICATION_INDEXRETRIEVAL_FAILED", "retrievalattempted"})
        center.addObserver(QString::fromLatin1(name), [this](const TDWNotification &notification) { statusChanged(notification); }, this);
    center.addObserver(QStringLiteral("NOTIFICATION_GLOBAL_BACKUP_OPERATION_STATUS_CHANGE"), [this](const TDWNotification &) { globalStatusChanged(); },
                       this);
}

TDWActivityWindowController::~TDWActivityWindowController() = default;

void TDWActivityWindowController::showWindow()
{
    if (!m_calledAwakeFromNib) {
        m_calledAwakeFromNib = true;
        TDWWindowUtilities::centerFirstTime(m_window.get());
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

TDWActivityWindowController::CellType TDWActivityWindowController::cellTypeForActivity(const TDWActivityMonitorBackupStatus &activity)
{
    if (activity.status == TDWActivityMonitor::LoginFailed || activity.status == TDWActivityMonitor::ListRetrievalFailed)
        return TextOnly;
    if (activity.status == TDWActivityMonitor::RetrievingList && activity.numItemsRetrieved != 0)
        return TextBarAndSecondLine;
    if (activity.status == TDWActivityMonitor::Downloading && activity.moreBatches)
        return TextBarAndSecondLine;
    return TextAndBar;
}

int TDWActivityWindowController::heightForCellType(CellType type)
{
    switch (type) {
    case TextOnly:
        return 22;
    case TextAndBar:
        return 39;
    case TextBarAndSecondLine:
        return 52;
    }
    return 39;
}

void TDWActivityWindowController::updateCellView(TDWActivityCellView *cell, const TDWActivityMonitorBackupStatus &activity)
{
    const TDWServiceConfig service = TDWServiceTable::shared().serviceConfig(activity.service);
    const QString &user = activity.accountUsername;
    const QString verb = activity.initial ? localized("Retrieving") : localized("Updating");
    QString text;
    QString secondLine;
    bool spinning = true;
    switch (activity.status) {
    case TDWActivityMonitor::CheckingRules:
        text = localized("Updating item status values");
        break;
    case TDWActivityMonitor::ValidatingBackups:
        text = localized("Validating existing %1 backup files for “%2”").arg(service.serviceLabelLong, user);
        break;
    case TDWActivityMonitor::CreatingSnapshot:
        text = localized("Creating a snapshot");
        break;
    case TDWActivityMonitor::UpdatingStatusCache:
        text = localized("Updating summary cache");
        break;
    case TDWActivityMonitor::LoggingIn:
        text = localized("Logging into %1 for “%2”").arg(service.serviceLabelLong, user);
        break;
    case TDWActivityMonitor::ListRetrievalFailed:
        text = localized("Unable to retrieve %1 for “%2”").arg(service.serviceLabelLong, user);
        break;
    case TDWActivityMonitor::LoginFailed:
        text = localized("Error logging into %1 for “%2”").arg(service.serviceLabelLong, user);
        break;
    case TDWActivityMonitor::QueueingDownloads:
        text = localized("Queueing download of %1 for “%2”").arg(service.itemNamePluralNoService, user);
        break;
    case TDWActivityMonitor::Downloading:
        text = localized("Downloading %1 for “%2”").arg(service.itemNamePluralNoService, user);
        if (activity.moreBatches)
            secondLine = localized("Downloading batch of %1 messages").arg(grouped(activity.numQueuedItems));
        cell->setDeterminate(double(activity.numQueuedItemsProcessed), double(activity.numQueuedItems));
        spinning = false;
        break;
    default:
        text = localized("%1 %2 for “%3”").arg(verb, service.listOfItemsLabel, user);
        if (activity.status == TDWActivityMonitor::RetrievingList && activity.service == TDWServiceIds::Mail) {
            cell->setDeterminate(activity.pctComplete, 1.0);
            spinning = false;
        } else if (activity.status == TDWActivityMonitor::RetrievingList && activity.numItemsRetrieved != 0) {
            secondLine = localized("%1 items retrieved").arg(grouped(activity.numItemsRetrieved));
        }
        break;
    }
    if (spinning && !cell->isIndeterminate())
        cell->setIndeterminate();
    cell->primaryTextField()->setText(text);
    cell->secondaryTextField()->setText(secondLine);
    const CellType type = cellTypeForActivity(activity);
    cell->progressIndicator()->setVisible(type != TextOnly);
    cell->secondaryTextField()->setVisible(type == TextBarAndSecondLine);
}

qsizetype TDWActivityWindowController::indexOfActivity(const QString &username, const QString &service) const
{
    for (qsizetype i = 0; i < m_activities.size(); ++i)
        if (m_activities.at(i).accountUsername == username && m_activities.at(i).service == service)
            return i;
    return -1;
}

void TDWActivityWindowController::statusChanged(const TDWNotification &notification)
{
    const QString username = notification.userInfo().value(QStringLiteral("accountUsername")).toString();
    const QString service = notification.userInfo().value(QStringLiteral("service")).toString();
    std::optional<TDWActivityMonitorBackupStatus> record;
    if (m_monitor)
        record = m_monitor->indexRetrievalStatusForUsername(username, service);
    processChangeWithActivity(record, indexOfActivity(username, service));
}

void TDWActivityWindowController::globalStatusChanged()
{
    std::optional<TDWActivityMonitorBackupStatus> record;
    if (m_monitor)
        record = m_monitor->globalOperationStatus();
    processChangeWithActivity(record, indexOfActivity(QString(), QString()));
}

void TDWActivityWindowController::insertRowsForActivity(qsizetype index)
{
    const int row = int(2 * index);
    m_tableView->insertRow(row);
    m_tableView->insertRow(row + 1);
    m_tableView->setCellWidget(row, 0, new TDWActivityCellView);
    auto *separator = new QFrame;
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Plain);
    m_tableView->setCellWidget(row + 1, 0, separator);
    m_tableView->setRowHeight(row + 1, SeparatorHeight);
    fillRow(index);
}

void TDWActivityWindowController::fillRow(qsizetype index)
{
    const int row = int(2 * index);
    const TDWActivityMonitorBackupStatus &activity = m_activities.at(index);
    if (auto *cell = qobject_cast<TDWActivityCellView *>(m_tableView->cellWidget(row, 0)))
        updateCellView(cell, activity);
    m_tableView->setRowHeight(row, heightForCellType(cellTypeForActivity(activity)));
}

void TDWActivityWindowController::processChangeWithActivity(const std::optional<TDWActivityMonitorBackupStatus> &record, qsizetype index)
{
    if (index < 0) {
        if (!record)
            return;
        m_activities.append(*record);
        insertRowsForActivity(m_activities.size() - 1);
        return;
    }
    if (!record) {
        m_tableView->removeRow(int(2 * index + 1));
        m_tableView->removeRow(int(2 * index));
        m_activities.removeAt(index);
        return;
    }
    m_activities[index] = *record;
    fillRow(index);
}
