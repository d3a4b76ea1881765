// The watcher and the route check against the real kernel, inside a network
// namespace of the test's own (only its loopback link, down at first), so
// that nothing the test changes reaches the machine. Where the sandbox
// refuses a namespace, the tests are skipped.
#include "platform/network/TDWHostReachability.h"

#include "TestSupport.h"

#include <QSignalSpy>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

namespace {

// Bound on waiting for the kernel's notice; it normally comes at once.
constexpr int NoticeBoundMs = 10000;

// Moves the calling thread into a fresh network namespace and back again at
// the end. Sockets made meanwhile stay in the fresh one.
class PrivateNetworkNamespace
{
public:
    PrivateNetworkNamespace()
        : m_original(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC))
    {
        if (m_original >= 0 && ::unshare(CLONE_NEWNET) == 0)
            m_entered = true;
        else
            m_refusal = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~PrivateNetworkNamespace()
    {
        if (m_entered) {
            EXPECT_EQ(::setns(m_original, CLONE_NEWNET), 0);
        }
        if (m_original >= 0)
            ::close(m_original);
    }
    bool entered() const { return m_entered; }
    const QString &refusal() const { return m_refusal; }

private:
    int m_original;
    bool m_entered = false;
    QString m_refusal;
};

// Interface requests through the classic ioctls of an IPv4 socket.
class InterfaceControl
{
public:
    InterfaceControl()
        : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
    }
    ~InterfaceControl() { ::close(m_fd); }

    bool bringUp(const char *name)
    {
        ifreq request = named(name);
        if (::ioctl(m_fd, SIOCGIFFLAGS, &request) != 0)
            return false;
        request.ifr_flags = short(request.ifr_flags | IFF_UP);
        return ::ioctl(m_fd, SIOCSIFFLAGS, &request) == 0;
    }
    bool setAddress(const char *name, const char *address, const char *netmask)
    {
        ifreq request = named(name);
        inet_pton(AF_INET, address, &reinterpret_cast<sockaddr_in &>(request.ifr_addr).sin_addr);
        request.ifr_addr.sa_family = AF_INET;
        if (::ioctl(m_fd, SIOCSIFADDR, &request) != 0)
            return false;
        request = named(name);
        inet_pton(AF_INET, netmask, &reinterpret_cast<sockaddr_in &>(request.ifr_netmask).sin_addr);
        request.ifr_netmask.sa_family = AF_INET;
        return ::ioctl(m_fd, SIOCSIFNETMASK, &request) == 0;
    }

private:
    static ifreq named(const char *name)
    {
        ifreq request{};
        std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
        return request;
    }
    int m_fd;
};

} // namespace

TEST(TDWHostReachability, RouteCheckAndChangeNoticesFollowTheKernelsRoutes)
{
    PrivateNetworkNamespace ns;
    if (!ns.entered())
        GTEST_SKIP() << "no network namespace of our own here: " << ns.refusal().toStdString();

    TDWHostReachability loopback(QStringLiteral("127.0.0.1"));
    TDWHostReachability tenNet(QStringLiteral("10.1.2.3"));
    ASSERT_TRUE(loopback.isWatching());
    QSignalSpy notices(&loopback, &TDWReachability::changed);

    // Only a loopback link that is down: no route anywhere.
    EXPECT_FALSE(loopback.isOnline());
    EXPECT_FALSE(tenNet.isOnline());

    InterfaceControl control;
    ASSERT_TRUE(control.bringUp("lo"));
    ASSERT_TRUE(notices.wait(NoticeBoundMs));
    EXPECT_TRUE(loopback.isOnline());
    EXPECT_FALSE(tenNet.isOnline());

    // An address gives a route to its whole network.
    notices.clear();
    ASSERT_TRUE(control.setAddress("lo:1", "10.9.8.7", "255.0.0.0"));
    ASSERT_TRUE(notices.wait(NoticeBoundMs));
    EXPECT_TRUE(tenNet.isOnline());
}

TEST(TDWHostReachability, ANameThatDoesNotResolveIsOffline)
{
    PrivateNetworkNamespace ns;
    if (!ns.entered())
        GTEST_SKIP() << "no network namespace of our own here: " << ns.refusal().toStdString();
    InterfaceControl control;
    ASSERT_TRUE(control.bringUp("lo"));
    EXPECT_FALSE(TDWHostReachability(QStringLiteral("tdw-test.invalid")).isOnline());
}

TEST(TDWHostReachability, TheHostMapDecidesWhichHostIsChecked)
{
    qputenv("TDW_HOST_MAP", "www.google.com=127.0.0.1:8443");
    TDWHostReachability mapped(QStringLiteral("www.google.com"));
    TDWHostReachability unmapped(QStringLiteral("www.googleapis.example"));
    qunsetenv("TDW_HOST_MAP");
    EXPECT_EQ(mapped.checkedHost(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(unmapped.checkedHost(), QStringLiteral("www.googleapis.example"));
}
