#pragma once

#include "platform/network/TDWReachability.h"

#include <QString>

class TDWNetlinkWatcher;

// Reachability of one host name: online while some address of the host has a
// route. The answer costs a name look-up and a route look-up in the kernel (a
// datagram socket connected to the address, which sends nothing); no packet
// goes to the host. Where the HTTP layer's host map (TDW_HOST_MAP) sends the
// host elsewhere, the route to that target is what counts. Changes come from
// a netlink watcher.
class TDWHostReachability : public TDWReachability
{
    Q_OBJECT

public:
    explicit TDWHostReachability(const QString &host, QObject *parent = nullptr);
    ~TDWHostReachability() override;

    bool isOnline() override;

    // The name whose routes are checked, after the host map.
    const QString &checkedHost() const { return m_checkedHost; }
    bool isWatching() const;

private:
    QString m_checkedHost;
    TDWNetlinkWatcher *m_watcher;
};
