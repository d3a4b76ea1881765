#include "migration/TDWMigratingProgressWindowController.h"

#include "platform/foundation/TDWLog.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QWidget>

TDWMigratingProgressWindowController::TDWMigratingProgressWindowController(bool updateDatabase, bool updateOauth, QObject *parent)
    : QObject(parent)
    , m_updateDatabase(updateDatabase)
    , m_updateOauth(updateOauth)
    , m_window(std::make_unique<QWidget>())
{
    m_window->setWindowTitle(QStringLiteral("Tidewell"));
    m_label = new QLabel(updateDatabase ? tr("Updating the backup database…") : tr("Updating authentication credentials…"));
    m_progressIndicator = new QProgressBar;
    // No fraction is known yet: a busy indicator.
    m_progressIndicator->setRange(0, 0);
    auto *layout = new QVBoxLayout(m_window.get());
    layout->addWidget(m_label);
    layout->addWidget(m_progressIndicator);
    m_window->resize(420, 110);
}

TDWMigratingProgressWindowController::~TDWMigratingProgressWindowController() = default;

void TDWMigratingProgressWindowController::showWindow()
{
    m_window->show();
    m_window->activateWindow();
    startMigration();
}

void TDWMigratingProgressWindowController::close()
{
    m_window->close();
}

QString TDWMigratingProgressWindowController::labelText() const
{
    return m_label->text();
}

void TDWMigratingProgressWindowController::startMigration()
{
    // The result reaches the application from the event loop, as it would
    // from a worker, so the caller has returned from showWindow() first.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_updateDatabase || m_updateOauth) {
                tdwLog(QStringLiteral("ERROR: Unable to upgrade: this version cannot migrate the store (%1) or convert stored passwords (%2).")
                           .arg(m_updateDatabase ? QStringLiteral("YES") : QStringLiteral("NO"),
                                m_updateOauth ? QStringLiteral("YES") : QStringLiteral("NO")));
                emit failed();
                return;
            }
            emit finished(TDWUpgradeResult{});
        },
        Qt::QueuedConnection);
}
