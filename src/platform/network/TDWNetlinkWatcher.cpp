#include "platform/network/TDWNetlinkWatcher.h"

#include "platform/foundation/TDWLog.h"

#include <QSocketNotifier>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace {

constexpr unsigned WatchedGroups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;

bool isRoutingChange(quint16 type)
{
    switch (type) {
    case RTM_NEWLINK:
    case RTM_DELLINK:
    case RTM_NEWADDR:
    case RTM_DELADDR:
    case RTM_NEWROUTE:
    case RTM_DELROUTE:
        return true;
    default:
        return false;
    }
}

// Whether a datagram from the kernel holds at least one routing change.
bool holdsRoutingChange(const char *data, ssize_t length)
{
    auto *header = reinterpret_cast<const nlmsghdr *>(data);
    for (int remaining = int(length); NLMSG_OK(header, remaining); header = NLMSG_NEXT(header, remaining)) {
        if (isRoutingChange(header->nlmsg_type))
            return true;
    }
    return false;
}

} // namespace

TDWNetlinkWatcher::TDWNetlinkWatcher(QObject *parent)
    : QObject(parent)
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        tdwLog(QStringLiteral("ERROR: Unable to watch network changes (netlink socket): %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = WatchedGroups;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        tdwLog(QStringLiteral("ERROR: Unable to watch network changes (netlink bind): %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        ::close(fd);
        return;
    }
    m_socket = fd;
    m_notifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TDWNetlinkWatcher::readMessages);
}

TDWNetlinkWatcher::~TDWNetlinkWatcher()
{
    delete m_notifier;
    if (m_socket >= 0)
        ::close(m_socket);
}

void TDWNetlinkWatcher::readMessages()
{
    // Drain everything pending, so that a burst (an interface coming up adds
    // a link, addresses and routes) gives one notice.
    alignas(nlmsghdr) std::array<char, 16384> buffer;
    bool changedRoutes = false;
    for (;;) {
        const ssize_t length = ::recv(m_socket, buffer.data(), buffer.size(), 0);
        if (length > 0) {
            changedRoutes = changedRoutes || holdsRoutingChange(buffer.data(), length);
            continue;
        }
        if (length < 0 && errno == EINTR)
            continue;
        // The kernel dropped messages for want of buffer space: something
        // changed, but what is lost.
        if (length < 0 && errno == ENOBUFS) {
            changedRoutes = true;
            continue;
        }
        break;
    }
    if (changedRoutes)
        emit changed();
}
