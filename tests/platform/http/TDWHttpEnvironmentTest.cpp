#include "platform/http/TDWHttpEnvironment.h"

#include "TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

TEST(TDWHttpEnvironment, HostMapBecomesConnectToLinesWithPortEntriesFirst)
{
    const struct {
        const char *map;
        QStringList connectTo;
        QStringList mapped;
        QStringList rejected;
    } cases[] = {
        {"", {}, {}, {}},
        {"Accounts.Google.com=127.0.0.1:8443", {"accounts.google.com::127.0.0.1:8443"}, {"accounts.google.com"}, {}},
        {"www.google.com=127.0.0.1:1, www.google.com:80=127.0.0.1:2",
         {"www.google.com:80:127.0.0.1:2", "www.google.com::127.0.0.1:1"},
         {"www.google.com"},
         {}},
        {"a.example=[::1]:99", {"a.example::[::1]:99"}, {"a.example"}, {}},
        {"nohost,=1.2.3.4:5,a.example=1.2.3.4,a.example=1.2.3.4:0,a.example:x=1.2.3.4:5,a b=1.2.3.4:5,b.example=1.2.3.4:6",
         {"b.example::1.2.3.4:6"},
         {"b.example"},
         {"nohost", "=1.2.3.4:5", "a.example=1.2.3.4", "a.example=1.2.3.4:0", "a.example:x=1.2.3.4:5", "a b=1.2.3.4:5"}},
    };
    for (const auto &c : cases) {
        const TDWHttpEnvironment env = TDWHttpEnvironment::fromStrings(QString::fromLatin1(c.map), {});
        EXPECT_EQ(env.connectTo(), c.connectTo) << c.map;
        EXPECT_EQ(env.mappedHosts(), c.mapped) << c.map;
        EXPECT_EQ(env.rejectedEntries(), c.rejected) << c.map;
    }
}

TEST(TDWHttpEnvironment, ExtraCaIsReadOnceAndAMissingFileIsLogged)
{
    const QString dir = tdwtest::freshDir();
    const QString pem = dir + QStringLiteral("/ca.pem");
    QFile file(pem);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("-----BEGIN CERTIFICATE-----\n");
    file.close();
    EXPECT_EQ(TDWHttpEnvironment::fromStrings({}, pem).extraCaPem(), QByteArray("-----BEGIN CERTIFICATE-----\n"));

    tdwtest::LogCapture log;
    const TDWHttpEnvironment missing = TDWHttpEnvironment::fromStrings({}, dir + QStringLiteral("/none.pem"));
    EXPECT_TRUE(missing.extraCaPem().isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to read the extra CA file")));
}

TEST(TDWHttpEnvironment, TargetHostIsWhereConnectionsToAHostGo)
{
    const TDWHttpEnvironment env = TDWHttpEnvironment::fromStrings(
        QStringLiteral("www.google.com:80=127.0.0.2:2,WWW.Google.com=127.0.0.1:1,v6.example=[::1]:99"), {});
    EXPECT_EQ(env.targetHost(QStringLiteral("www.google.com")), QStringLiteral("127.0.0.2"));
    EXPECT_EQ(env.targetHost(QStringLiteral("www.GOOGLE.com")), QStringLiteral("127.0.0.2"));
    EXPECT_EQ(env.targetHost(QStringLiteral("v6.example")), QStringLiteral("::1"));
    EXPECT_EQ(env.targetHost(QStringLiteral("other.example")), QStringLiteral("other.example"));
}
