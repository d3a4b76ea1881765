#include "app/TDWSingleInstance.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// A later start runs in a process of its own; a thread with its own instance
// object stands in for it, so this thread's event loop can answer.
bool claimFromAnotherStart(const QString &folder, int &activations)
{
    std::atomic<bool> done = false;
    bool claimed = true;
    std::thread later([&] {
        TDWSingleInstance second(folder);
        claimed = second.claim();
        done = true;
    });
    const bool ended = QTest::qWaitFor([&] { return done.load(); }, 30000);
    later.join();
    EXPECT_TRUE(ended);
    // The callers check the count; this only gives the activation time to arrive.
    (void)QTest::qWaitFor([&] { return activations > 0; }, 30000);
    return claimed;
}

TEST(TDWSingleInstance, ALaterStartActivatesTheRunningInstanceAndDoesNotClaim)
{
    const QString folder = tdwtest::freshDir(QStringLiteral("runtime"));
    TDWSingleInstance first(folder);
    int activations = 0;
    QObject::connect(&first, &TDWSingleInstance::activationRequested, [&] { ++activations; });
    ASSERT_TRUE(first.claim());

    EXPECT_FALSE(claimFromAnotherStart(folder, activations));
    EXPECT_EQ(activations, 1);
}

TEST(TDWSingleInstance, ASocketLeftByAKilledRunDoesNotStopTheNextStart)
{
    const QString folder = tdwtest::freshDir(QStringLiteral("runtime"));
    QFile leftover(QDir(folder).filePath(QStringLiteral("instance")));
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.close();

    TDWSingleInstance next(folder);
    EXPECT_TRUE(next.claim());
    // It really listens: a later start finds it.
    int activations = 0;
    QObject::connect(&next, &TDWSingleInstance::activationRequested, [&] { ++activations; });
    EXPECT_FALSE(claimFromAnotherStart(folder, activations));
}

TEST(TDWSingleInstance, OnceTheInstanceHasEndedTheNextStartClaims)
{
    const QString folder = tdwtest::freshDir(QStringLiteral("runtime"));
    {
        TDWSingleInstance first(folder);
        ASSERT_TRUE(first.claim());
    }
    TDWSingleInstance next(folder);
    EXPECT_TRUE(next.claim());
}

// Better a second instance than none: a runtime folder that cannot hold the
// socket does not keep the program from starting.
TEST(TDWSingleInstance, WithoutAPlaceForTheSocketTheProgramStillRuns)
{
    const QString blocker = QDir(tdwtest::freshDir(QStringLiteral("runtime"))).filePath(QStringLiteral("file"));
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    tdwtest::LogCapture log;

    TDWSingleInstance instance(QDir(blocker).filePath(QStringLiteral("org.tidewell.Tidewell")));

    EXPECT_TRUE(instance.claim());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to create the folder")));
}

} // namespace
