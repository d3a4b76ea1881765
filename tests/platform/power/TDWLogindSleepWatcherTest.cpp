// The sleep watcher against a bus where this program plays logind: a private
// session bus stands in for the system bus.
#include "platform/power/TDWLogindSleepWatcher.h"

#include "TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

// Bound on waiting for a signal to cross the bus; it normally takes a moment.
constexpr int SignalBoundMs = 10000;

void prepareForSleep(QDBusConnection &bus, bool start)
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
                                                     QStringLiteral("PrepareForSleep"));
    signal << start;
    ASSERT_TRUE(bus.send(signal));
}

} // namespace

TEST(TDWLogindSleepWatcher, PrepareForSleepFromLogindGivesSleepThenWake)
{
    QDBusConnection logind = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-logind"));
    ASSERT_TRUE(logind.isConnected()) << "the test runs under dbus-run-session";
    ASSERT_TRUE(logind.registerService(QStringLiteral("org.freedesktop.login1")));

    TDWLogindSleepWatcher watcher(QDBusConnection::sessionBus());
    ASSERT_TRUE(watcher.isWatching());
    QSignalSpy sleeps(&watcher, &TDWSleepNotices::willSleep);
    QSignalSpy wakes(&watcher, &TDWSleepNotices::didWake);

    prepareForSleep(logind, true);
    ASSERT_TRUE(sleeps.wait(SignalBoundMs));
    EXPECT_EQ(wakes.count(), 0);
    prepareForSleep(logind, false);
    ASSERT_TRUE(wakes.wait(SignalBoundMs));
    EXPECT_EQ(sleeps.count(), 1);

    // The same signal from a program that is not logind means nothing.
    QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("other-program"));
    prepareForSleep(other, true);
    prepareForSleep(logind, false);
    ASSERT_TRUE(wakes.wait(SignalBoundMs));
    EXPECT_EQ(sleeps.count(), 1);
    QDBusConnection::disconnectFromBus(QStringLiteral("other-program"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
}

TEST(TDWLogindSleepWatcher, WithoutABusOneLineAndNoNotices)
{
    tdwtest::LogCapture log;
    TDWLogindSleepWatcher watcher(QDBusConnection(QStringLiteral("tdw-no-such-bus")));
    EXPECT_FALSE(watcher.isWatching());
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("No system bus: sleep and wake are not observed")});
}
