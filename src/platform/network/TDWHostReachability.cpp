#include "platform/network/TDWHostReachability.h"

#include "platform/http/TDWHttpEnvironment.h"
#include "platform/network/TDWNetlinkWatcher.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace {

// Any port will do: connecting a datagram socket only picks a route.
constexpr quint16 ProbePort = 443;

bool hasRouteTo(const addrinfo &address)
{
    const int fd = ::socket(address.ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_storage target{};
    std::memcpy(&target, address.ai_addr, address.ai_addrlen);
    if (target.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in &>(target).sin_port = htons(ProbePort);
    else
        reinterpret_cast<sockaddr_in6 &>(target).sin6_port = htons(ProbePort);
    const bool routed = ::connect(fd, reinterpret_cast<const sockaddr *>(&target), address.ai_addrlen) == 0;
    ::close(fd);
    return routed;
}

} // namespace

TDWHostReachability::TDWHostReachability(const QString &host, QObject *parent)
    : TDWReachability(parent)
    , m_checkedHost(TDWHttpEnvironment::fromProcessEnvironment().targetHost(host))
    , m_watcher(new TDWNetlinkWatcher(this))
{
    connect(m_watcher, &TDWNetlinkWatcher::changed, this, &TDWReachability::changed);
}

TDWHostReachability::~TDWHostReachability() = default;

bool TDWHostReachability::isWatching() const
{
    return m_watcher->isWatching();
}

bool TDWHostReachability::isOnline()
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *found = nullptr;
    // A name that cannot be resolved counts as offline, as unreadable flags do.
    if (::getaddrinfo(m_checkedHost.toUtf8().constData(), nullptr, &hints, &found) != 0 || !found)
        return false;
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);
    for (const addrinfo *address = found; address; address = address->ai_next) {
        if ((address->ai_family == AF_INET || address->ai_family == AF_INET6) && hasRouteTo(*address))
            return true;
    }
    return false;
}
