#pragma once

#include "common/TDWServiceConfig.h"

#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QFont;
class TDWAccount;
class TDWManagedObjectContext;
class TDWStatusMgr;

// One account's group of lines in the status menu: a separator, the account's
// title line (its user name, checkable, with an image for its lowest status
// code) and one line per service status. Services that share a grouped code
// (login required, in progress, backed up, disabled, folder missing) share a
// line; every other code gets a line per service. A service whose items merely
// wait for the next run gets its line and a "Help" item after it: a menu line
// with a view of its own cannot be exported to the desktop's status area.
class TDWStatusAccountItems
{
public:
    TDWStatusAccountItems(std::shared_ptr<TDWStatusMgr> statusMgr, QList<TDWServiceConfig> services);

    // Services of the table that are not marked disabled, in table order.
    static QList<TDWServiceConfig> activeServices(const QList<TDWServiceConfig> &serviceTable);

    // The group's actions, parented to `parent`. The title line is checked
    // when `checked`; its triggering is the caller's to connect. The "Help"
    // items are connected to `help`.
    QList<QAction *> menuItemsForAccount(const std::shared_ptr<TDWAccount> &account, TDWManagedObjectContext &moc, bool checked,
                                         QObject *parent, const std::function<void()> &help) const;

    // Whether every service with this code shares one line (false above 10).
    static bool joinStatusLabels(qint32 status);
    // The title line's image for the account's lowest code (9 when none is lower).
    static QIcon accountStatusImage(qint32 status);
    // The status lines' font: smaller than the menu's own.
    static QFont smallMenuItemFont();
    // The image that indents a service line under its account.
    static QIcon blankShortImage();

private:
    std::shared_ptr<TDWStatusMgr> m_statusMgr;
    QList<TDWServiceConfig> m_services; // the active ones
};
