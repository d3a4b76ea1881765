#include "platform/foundation/TDWClock.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

TEST(TDWClock, NowIsTheRealUtcInstantUnlessATestProvidesOne)
{
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const QDateTime real = TDWClock::now();
    const QDateTime after = QDateTime::currentDateTimeUtc();
    EXPECT_EQ(real.timeSpec(), Qt::UTC);
    EXPECT_LE(before, real);
    EXPECT_LE(real, after);

    QDateTime fake(QDate(1999, 12, 31), QTime(23, 59), Qt::UTC);
    TDWClock::setNowProvider([&fake] { return fake; });
    EXPECT_EQ(TDWClock::now(), fake);
    fake = fake.addSecs(90);
    EXPECT_EQ(TDWClock::now(), QDateTime(QDate(2000, 1, 1), QTime(0, 0, 30), Qt::UTC));

    TDWClock::setNowProvider({});
    EXPECT_LE(after, TDWClock::now());
}

TEST(TDWClock, ProviderCanBeSwappedWhileOtherThreadsAskTheTime)
{
    std::atomic<bool> stop = false;
    std::atomic<int> invalid = 0;
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                if (!TDWClock::now().isValid())
                    ++invalid;
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        const QDateTime at = QDateTime::fromSecsSinceEpoch(i, Qt::UTC);
        TDWClock::setNowProvider([at] { return at; });
        TDWClock::setNowProvider({});
    }
    stop = true;
    for (auto &reader : readers)
        reader.join();
    EXPECT_EQ(invalid, 0);
}

TEST(TDWClock, DurationsFollowTheScale)
{
    const struct
    {
        double scale;
        std::chrono::milliseconds nominal;
        std::chrono::milliseconds expected;
    } rows[] = {
        {1.0, 60s, 60s},
        {1.0, 0ms, 0ms},
        {0.001, 5s, 5ms},
        {0.001, 1500ms, 2ms},     // rounded
        {0.001, 100ms, 1ms},      // a positive wait never becomes zero
        {0.001, 0ms, 0ms},
        {0.001, -5ms, -5ms},
        {2.0, 250ms, 500ms},
        {1e6, std::chrono::milliseconds::max(), std::chrono::milliseconds::max()}, // saturates, no overflow
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << row.scale << " x " << row.nominal.count() << " ms");
        TDWClock::setDurationScale(row.scale);
        EXPECT_EQ(TDWClock::durationScale(), row.scale);
        EXPECT_EQ(TDWClock::duration(row.nominal), row.expected);
    }
    for (double unusable : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        TDWClock::setDurationScale(unusable);
        EXPECT_EQ(TDWClock::durationScale(), 1e6);
    }
    TDWClock::setDurationScale(1.0);
}

TEST(TDWClock, ScaleComesFromTheEnvironmentAtFirstUse)
{
    const struct
    {
        const char *value; // nullptr: unset
        const char *printed;
    } rows[] = {
        {nullptr, "5000"},
        {"0.01", "50"},
        {"3", "15000"},
        {"not a number", "5000"},
        {"-2", "5000"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.value ? row.value : "unset");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("TDW_TIME_SCALE"));
        if (row.value)
            env.insert(QStringLiteral("TDW_TIME_SCALE"), QString::fromLatin1(row.value));
        QProcess probe;
        probe.setProcessEnvironment(env);
        probe.start(QStringLiteral(TDW_FOUNDATION_PROBE), {QStringLiteral("duration"), QStringLiteral("5000")});
        ASSERT_TRUE(probe.waitForFinished(30000));
        ASSERT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().constData();
        EXPECT_EQ(probe.readAllStandardOutput().trimmed(), QByteArray(row.printed));
    }
}

} // namespace
