#include "common/BKSNotUtils.h"

#include "QtPrinters.h"
#include "platform/notify/TDWNotificationCenter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSemaphore>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>

namespace {

struct PostCase
{
    const char *label;
    bool fromMainThread;
    std::optional<bool> wait; // none: the form without a wait flag (no wait)
    bool deliveredBeforeReturn;
};

// Steps of one post in the order they happened.
struct Order
{
    std::atomic<int> next = 1;
    std::atomic<int> observerStarted = 0, observerFinished = 0, posterReturned = 0;
};

void post(const QString &name, QObject *object, const QVariantMap &userInfo, std::optional<bool> wait)
{
    if (wait)
        BKSNotUtils::postNotificationName(name, object, userInfo, *wait);
    else
        BKSNotUtils::postNotificationName(name, object, userInfo);
}

} // namespace

TEST(BKSNotUtils, DeliversOnTheMainThreadWaitingOnlyWhenAsked)
{
    const PostCase cases[] = {
        {"main thread, wait", true, true, true},
        {"main thread, default", true, std::nullopt, false},
        {"main thread, no wait", true, false, false},
        {"background, wait", false, true, true},
        {"background, default", false, std::nullopt, false},
        {"background, no wait", false, false, false},
    };
    for (const PostCase &c : cases) {
        SCOPED_TRACE(c.label);
        const QString name = QStringLiteral("test.%1").arg(QString::fromLatin1(c.label));
        QObject sender;
        const QVariantMap userInfo{{QStringLiteral("accountUsername"), QStringLiteral("a@example.com")}};
        Order order;
        QSemaphore returned;
        QThread *observedOn = nullptr;
        bool payloadIntact = false;
        bool sawReturnWhileRunning = false;
        QEventLoop loop;

        const auto token = TDWNotificationCenter::defaultCenter().addObserver(name, [&](const TDWNotification &n) {
            order.observerStarted = order.next++;
            observedOn = QThread::currentThread();
            payloadIntact = n.object() == &sender && n.userInfo() == userInfo;
            // A background poster signals its return; while waiting for
            // delivery it cannot, so a poster that waits wrongly makes this
            // time out and one that should wait but does not is caught here.
            if (!c.fromMainThread)
                sawReturnWhileRunning = returned.tryAcquire(1, c.deliveredBeforeReturn ? 200 : 10000);
            order.observerFinished = order.next++;
            loop.quit();
        });

        if (c.fromMainThread) {
            post(name, &sender, userInfo, c.wait);
            order.posterReturned = order.next++;
            QTimer::singleShot(30000, &loop, &QEventLoop::quit); // guard only: a lost post fails below
            if (!order.observerFinished)
                loop.exec();
        } else {
            QThread *poster = QThread::create([&] {
                post(name, &sender, userInfo, c.wait);
                order.posterReturned = order.next++;
                returned.release();
            });
            poster->start();
            QTimer::singleShot(30000, &loop, &QEventLoop::quit); // guard only: a lost post fails below
            loop.exec();
            poster->wait();
            delete poster;
        }
        TDWNotificationCenter::defaultCenter().removeObserver(token);

        ASSERT_NE(order.observerFinished.load(), 0);
        EXPECT_EQ(observedOn, QCoreApplication::instance()->thread());
        EXPECT_TRUE(payloadIntact);
        if (c.deliveredBeforeReturn) {
            EXPECT_LT(order.observerFinished, order.posterReturned);
            EXPECT_FALSE(sawReturnWhileRunning);
        } else if (c.fromMainThread) {
            EXPECT_GT(order.observerStarted, order.posterReturned); // not before the event loop runs again
        } else {
            EXPECT_LT(order.posterReturned, order.observerFinished);
            EXPECT_TRUE(sawReturnWhileRunning);
        }
    }
}
