#include "ui/TDWStatusAccountItems.h"

#include "dataobjects/TDWAccount.h"
#include "status/TDWStatusMgr.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QHash>
#include <QMap>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

namespace {

constexpr int ImageSize = 16;

QString localized(const char *text)
{
    return QCoreApplication::translate("TDWStatusItemMgr", text);
}

// The desktop's small status lights: a filled dot, or a ring for "none".
QIcon statusDot(const QColor &color, bool filled)
{
    QPixmap pixmap(ImageSize, ImageSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (filled) {
        painter.setPen(QPen(color.darker(140), 1));
        painter.setBrush(color);
    } else {
        painter.setPen(QPen(color, 1.5));
        painter.setBrush(Qt::NoBrush);
    }
    painter.drawEllipse(QRectF(3.5, 3.5, 9, 9));
    painter.end();
    return QIcon(pixmap);
}

QAction *disabledLine(const QString &text, QObject *parent)
{
    auto *line = new QAction(text, parent);
    line->setEnabled(false);
    line->setIcon(TDWStatusAccountItems::blankShortImage());
    line->setFont(TDWStatusAccountItems::smallMenuItemFont());
    return line;
}

} // namespace

TDWStatusAccountItems::TDWStatusAccountItems(std::shared_ptr<TDWStatusMgr> statusMgr, QList<TDWServiceConfig> services)
    : m_statusMgr(std::move(statusMgr))
    , m_services(activeServices(services))
{
}

QList<TDWServiceConfig> TDWStatusAccountItems::activeServices(const QList<TDWServiceConfig> &serviceTable)
{
    QList<TDWServiceConfig> active;
    std::copy_if(serviceTable.begin(), serviceTable.end(), std::back_inserter(active), [](const TDWServiceConfig &service) { return !service.disabled; });
    return active;
}

QList<QAction *> TDWStatusAccountItems::menuItemsForAccount(const std::shared_ptr<TDWAccount> &account, TDWManagedObjectContext &moc, bool checked,
                                                              QObject *parent, const std::function<void()> &help) const
{
    QList<QAction *> items;
    auto *separator = new QAction(parent);
    separator->setSeparator(true);
    items.append(separator);
    auto *title = new QAction(account->username(), parent);
    title->setCheckable(true);
    title->setChecked(checked);
    items.append(title);

    // First pass: each service's code, and the services sharing each code.
    QHash<QString, qint32> codes;
    QMap<qint32, QStringList> labelsByCode;
    for (const TDWServiceConfig &service : m_services) {
        const qint32 code = m_statusMgr->statusForAccount(account, service.id, moc);
        codes.insert(service.id, code);
        labelsByCode[code].append(service.serviceLabel);
    }

    // Second pass: the lines, in table order.
    qint32 lowest = TDWStatusMgr::ServiceDisabled;
    QList<qint32> shown;
    for (const TDWServiceConfig &service : m_services) {
        const qint32 code = codes.value(service.id);
        const bool grouped = joinStatusLabels(code);
        if (grouped && shown.contains(code))
            continue;
        QString label = service.serviceLabel;
        if (grouped) {
            label = labelsByCode.value(code).join(QStringLiteral(", "));
            shown.append(code);
        }
        const QString statusText = m_statusMgr->labelForStatus(code, account, service);
        const QString lineText = localized("%1: %2").arg(label, statusText);
        if (code == TDWStatusMgr::MailAwaitingQuota) {
            items.append(disabledLine(lineText, parent));
            auto *helpItem = new QAction(localized("Help"), parent);
            helpItem->setIcon(blankShortImage());
            QObject::connect(helpItem, &QAction::triggered, parent, [help] { help(); });
            items.append(helpItem);
        } else {
            const bool everyService = labelsByCode.value(code).size() == m_services.size();
            items.append(disabledLine(everyService ? statusText : lineText, parent));
        }
        lowest = std::min(lowest, code);
    }
    title->setIcon(accountStatusImage(lowest));
    return items;
}

bool TDWStatusAccountItems::joinStatusLabels(qint32 status)
{
    switch (status) {
    case TDWStatusMgr::LoginRequired:
    case TDWStatusMgr::BackupInProgress:
    case TDWStatusMgr::BackedUp:
    case TDWStatusMgr::ServiceDisabled:
    case TDWStatusMgr::BackupDirMissing:
        return true;
    default:
        return false;
    }
}

QIcon TDWStatusAccountItems::accountStatusImage(qint32 status)
{
    switch (status) {
    case TDWStatusMgr::ServiceDisabled:
        return statusDot(QColor(0x8a, 0x8a, 0x8a), false);
    case TDWStatusMgr::BackupInProgress:
        return blankShortImage();
    case TDWStatusMgr::BackedUp:
    case TDWStatusMgr::MailAwaitingQuota:
        return statusDot(QColor(0x2e, 0xb8, 0x3c), true);
    default:
        return statusDot(QColor(0xe0, 0x3a, 0x32), true);
    }
}

QFont TDWStatusAccountItems::smallMenuItemFont()
{
    // The status lines are set 11 points against a menu font of 14: the same
    // proportion of this desktop's menu font.
    QFont font = QApplication::font("QMenu");
    font.setPointSizeF(font.pointSizeF() * 11.0 / 14.0);
    return font;
}

QIcon TDWStatusAccountItems::blankShortImage()
{
    QPixmap pixmap(ImageSize, ImageSize);
    pixmap.fill(Qt::transparent);
    return QIcon(pixmap);
}
