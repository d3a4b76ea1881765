#include "ui/TDWStatusItemMgr.h"

#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace {

// A small wave mark, so the item needs no image files.
QIcon statusIcon()
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x1f, 0x6f, 0xb2));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(4, 4, 56, 56);
    painter.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap));
    QPainterPath wave(QPointF(14, 36));
    wave.cubicTo(22, 22, 30, 50, 38, 36);
    wave.cubicTo(42, 28, 46, 28, 50, 34);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(wave);
    return QIcon(pixmap);
}

} // namespace

TDWStatusItemMgr::TDWStatusItemMgr(TDWBackupScheduler *scheduler, std::shared_ptr<TDWPersistentStoreCoordinator> coordinator, QObject *parent)
    : QObject(parent)
    , m_scheduler(scheduler)
    , m_coordinator(std::move(coordinator))
    , m_menu(std::make_unique<QMenu>())
{
    m_menu->addAction(tr("Open Tidewell"), this, &TDWStatusItemMgr::showMainWindowRequested);
    m_menu->addSeparator();
    m_menu->addAction(tr("Quit Tidewell"), this, &TDWStatusItemMgr::quitRequested);
}

TDWStatusItemMgr::~TDWStatusItemMgr() = default;

void TDWStatusItemMgr::draw()
{
    if (!m_trayIcon) {
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            return;
        m_trayIcon = new QSystemTrayIcon(statusIcon(), this);
        m_trayIcon->setToolTip(QStringLiteral("Tidewell"));
        m_trayIcon->setContextMenu(m_menu.get());
    }
    m_trayIcon->show();
}
