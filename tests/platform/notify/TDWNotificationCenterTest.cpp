#include "platform/notify/TDWNotificationCenter.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Records which observer saw which notification, in order.
struct CallLog
{
    QStringList calls;
    TDWNotificationCenter::Callback recorder(const QString &observer)
    {
        return [this, observer](const TDWNotification &n) { calls << observer + QLatin1Char(':') + n.name(); };
    }
};

class Context : public QObject
{
public:
    int destroyedReceivers() const { return receivers(SIGNAL(destroyed(QObject*))); }
};

} // namespace

TEST(TDWNotificationCenter, DeliversByNameAndEmptyNameMeansAll)
{
    struct Case
    {
        const char *posted;
        QStringList expected;
    };
    const Case cases[] = {
        {"a", {"onA:a", "all:a"}},
        {"b", {"all:b", "onB:b"}}, // in the order of registration
        {"c", {"all:c"}},
        {"A", {"all:A"}}, // names are case-sensitive
    };
    for (const Case &c : cases) {
        TDWNotificationCenter center;
        CallLog log;
        center.addObserver(QStringLiteral("a"), log.recorder(QStringLiteral("onA")));
        center.addObserver(QString(), log.recorder(QStringLiteral("all")));
        center.addObserver(QStringLiteral("b"), log.recorder(QStringLiteral("onB")));
        center.post(QString::fromLatin1(c.posted));
        EXPECT_EQ(log.calls, c.expected) << c.posted;
    }
}

TEST(TDWNotificationCenter, HandsObjectAndUserInfoToTheObserver)
{
    TDWNotificationCenter center;
    QObject sender;
    TDWNotification seen;
    int calls = 0;
    center.addObserver(QStringLiteral("accountUpdate"), [&](const TDWNotification &n) {
        seen = n;
        ++calls;
    });
    center.post(QStringLiteral("accountUpdate"), &sender, {{QStringLiteral("accountUsername"), QStringLiteral("a@example.com")}});
    ASSERT_EQ(calls, 1);
    EXPECT_EQ(seen.object(), &sender);
    EXPECT_EQ(seen.userInfo().value(QStringLiteral("accountUsername")).toString(), QStringLiteral("a@example.com"));
}

TEST(TDWNotificationCenter, RemovedObserversAreNotCalled)
{
    TDWNotificationCenter center;
    CallLog log;
    const auto first = center.addObserver(QStringLiteral("n"), log.recorder(QStringLiteral("first")));
    const auto second = center.addObserver(QStringLiteral("n"), log.recorder(QStringLiteral("second")));
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    center.removeObserver(first);
    center.removeObserver(first);  // twice
    center.removeObserver(999999); // never handed out
    center.post(QStringLiteral("n"));
    EXPECT_EQ(log.calls, QStringList{QStringLiteral("second:n")});
}

TEST(TDWNotificationCenter, ObserversMayChangeRegistrationsDuringAPost)
{
    TDWNotificationCenter center;
    CallLog log;
    TDWNotificationCenter::Token self = 0, victim = 0;
    bool added = false;
    self = center.addObserver(QStringLiteral("n"), [&](const TDWNotification &n) {
        log.calls << QStringLiteral("self:") + n.name();
        center.removeObserver(self);
        center.removeObserver(victim);
        if (!added) {
            added = true;
            center.addObserver(QStringLiteral("n"), log.recorder(QStringLiteral("late")));
        }
        center.post(QStringLiteral("nested")); // re-entrant posts must not deadlock
    });
    victim = center.addObserver(QStringLiteral("n"), log.recorder(QStringLiteral("victim")));
    center.addObserver(QStringLiteral("nested"), log.recorder(QStringLiteral("nested")));

    center.post(QStringLiteral("n"));
    EXPECT_EQ(log.calls, (QStringList{QStringLiteral("self:n"), QStringLiteral("nested:nested")}));
    log.calls.clear();
    center.post(QStringLiteral("n"));
    EXPECT_EQ(log.calls, QStringList{QStringLiteral("late:n")});
}

TEST(TDWNotificationCenter, DestroyingTheContextEndsTheRegistration)
{
    TDWNotificationCenter center;
    CallLog log;
    auto *context = new QObject;
    const auto token = center.addObserver(QStringLiteral("n"), log.recorder(QStringLiteral("ctx")), context);
    auto *removedFirst = new QObject;
    center.removeObserver(center.addObserver(QStringLiteral("n"), log.recorder(QStringLiteral("gone")), removedFirst));
    delete removedFirst; // its registration is already gone: nothing else may be touched

    center.post(QStringLiteral("n"));
    delete context;
    center.post(QStringLiteral("n"));
    center.removeObserver(token); // already ended by the context
    EXPECT_EQ(log.calls, QStringList{QStringLiteral("ctx:n")});
}

TEST(TDWNotificationCenter, EndedRegistrationsLeaveNoConnectionOnTheContext)
{
    // A context that outlives its registrations (or the centre) must not keep
    // a connection that would call into them when it is destroyed.
    Context context;
    TDWNotificationCenter center;
    const auto token = center.addObserver(QStringLiteral("n"), [](const TDWNotification &) {}, &context);
    EXPECT_EQ(context.destroyedReceivers(), 1);
    center.removeObserver(token);
    EXPECT_EQ(context.destroyedReceivers(), 0);
    {
        TDWNotificationCenter shortLived;
        shortLived.addObserver(QStringLiteral("n"), [](const TDWNotification &) {}, &context);
        EXPECT_EQ(context.destroyedReceivers(), 1);
    }
    EXPECT_EQ(context.destroyedReceivers(), 0);
}

TEST(TDWNotificationCenter, DeliversOnThePostingThread)
{
    TDWNotificationCenter center;
    QThread *seenOn = nullptr;
    center.addObserver(QStringLiteral("n"), [&](const TDWNotification &) { seenOn = QThread::currentThread(); });
    QThread *postedOn = nullptr;
    std::thread poster([&] {
        postedOn = QThread::currentThread();
        center.post(QStringLiteral("n"));
    });
    poster.join();
    ASSERT_NE(postedOn, nullptr);
    EXPECT_EQ(seenOn, postedOn);
    EXPECT_NE(seenOn, QThread::currentThread());
}

TEST(TDWNotificationCenter, ConcurrentPostsAndRegistrationsLoseNothing)
{
    TDWNotificationCenter center;
    constexpr int threads = 4;
    constexpr int posts = 2000;
    std::atomic<bool> stop = false;
    std::atomic<long> churned = 0;
    // Registrations come and go on every name while the posters run.
    std::thread churn([&] {
        while (!stop) {
            const auto t = center.addObserver(QString(), [&](const TDWNotification &) { ++churned; });
            center.removeObserver(t);
        }
    });
    std::vector<std::atomic<int>> received(threads);
    std::vector<std::thread> posters;
    for (int i = 0; i < threads; ++i) {
        posters.emplace_back([&, i] {
            const QString name = QStringLiteral("n%1").arg(i);
            const auto token = center.addObserver(name, [&, i](const TDWNotification &) { ++received[i]; });
            for (int p = 0; p < posts; ++p)
                center.post(name);
            center.removeObserver(token);
            center.post(name);
        });
    }
    for (auto &t : posters)
        t.join();
    stop = true;
    churn.join();
    for (int i = 0; i < threads; ++i)
        EXPECT_EQ(received[i].load(), posts) << i;
}
