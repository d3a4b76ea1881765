#include "agent/TDWListRetrievalOperation.h"

#include "platform/notify/TDWNotificationCenter.h"

#include "FakeGoogleServer.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <thread>

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QString Docs = QStringLiteral("docs");

struct Received
{
    TDWNotification notification;
    QThread *thread = nullptr;
};

// Every notification posted while it lives, as delivered.
class NotificationRecorder
{
public:
    NotificationRecorder()
        : m_token(TDWNotificationCenter::defaultCenter().addObserver({}, [this](const TDWNotification &notification) {
            m_received.append({notification, QThread::currentThread()});
        }))
    {
    }
    ~NotificationRecorder() { TDWNotificationCenter::defaultCenter().removeObserver(m_token); }
    const QList<Received> &received() const { return m_received; }

private:
    TDWNotificationCenter::Token m_token;
    QList<Received> m_received;
};

class TDWListRetrievalOperationTest : public ::testing::Test
{
protected:
    TDWListRetrievalOperation operation{Alice, TDWManagedObjectID::permanent(QStringLiteral("master"), QStringLiteral("BackupIteration"), 7),
                                        Docs};
    NotificationRecorder recorder;

    // Posts from a worker thread, as a list retrieval does, and waits for the delivery.
    Received postFromWorker(const std::function<void()> &post)
    {
        std::thread worker(post);
        worker.join();
        EXPECT_TRUE(tdwtest::waitUntil([&] { return !recorder.received().isEmpty(); }));
        return recorder.received().value(0);
    }
};

TEST_F(TDWListRetrievalOperationTest, AFailureIsLoggedAndPostedOnTheMainThread)
{
    tdwtest::LogCapture log;
    const Received received = postFromWorker([&] { operation.postFailureNotification(QStringLiteral("The list could not be read.")); });
    EXPECT_EQ(received.notification.name(), QStringLiteral("NOTIFICATION_INDEXRETRIEVAL_FAILED"));
    EXPECT_EQ(received.notification.object(), &operation);
    EXPECT_EQ(received.thread, QCoreApplication::instance()->thread());
    EXPECT_EQ(received.notification.userInfo(), (QVariantMap{{QStringLiteral("accountUsername"), Alice},
                                                            {QStringLiteral("errormessage"), QStringLiteral("The list could not be read.")},
                                                            {QStringLiteral("service"), Docs}}));
    EXPECT_TRUE(log.lines().contains(QStringLiteral("ERROR: Unable to back up docs for alice@example.com: The list could not be read.")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST_F(TDWListRetrievalOperationTest, AFailureWithoutAMessageCarriesNoMessage)
{
    const Received received = postFromWorker([&] { operation.postFailureNotification(QString()); });
    EXPECT_EQ(received.notification.userInfo(), (QVariantMap{{QStringLiteral("accountUsername"), Alice}, {QStringLiteral("service"), Docs}}));
}

TEST_F(TDWListRetrievalOperationTest, ProgressIsPostedWithTheCountAndThePercentageWhenKnown)
{
    const Received counted = postFromWorker([&] { operation.postListRetrievalStartedWithNumObjectsRetrieved(120); });
    EXPECT_EQ(counted.notification.name(), QStringLiteral("NOTIFICATION_INDEXRETRIEVAL_STARTED"));
    EXPECT_EQ(counted.notification.object(), &operation);
    EXPECT_EQ(counted.notification.userInfo(), (QVariantMap{{QStringLiteral("accountUsername"), Alice},
                                                           {QStringLiteral("num_objects_retrieved"), qint64(120)},
                                                           {QStringLiteral("service"), Docs}}));
    EXPECT_EQ(counted.notification.userInfo().value(QStringLiteral("num_objects_retrieved")).typeId(), QMetaType::LongLong);

    NotificationRecorder second;
    operation.postListRetrievalStartedWithNumObjectsRetrieved(240, 37.5);
    ASSERT_TRUE(tdwtest::waitUntil([&] { return !second.received().isEmpty(); }));
    const QVariantMap userInfo = second.received().first().notification.userInfo();
    EXPECT_EQ(userInfo.value(QStringLiteral("num_objects_retrieved")), QVariant(qint64(240)));
    EXPECT_EQ(userInfo.value(QStringLiteral("pctcomplete")).typeId(), QMetaType::Double);
    EXPECT_EQ(userInfo.value(QStringLiteral("pctcomplete")).toDouble(), 37.5);
    EXPECT_EQ(userInfo.size(), 4);
}

TEST_F(TDWListRetrievalOperationTest, TheAccountUpdateHookPostsNothing)
{
    operation.postAccountUpdate();
    // A later post proves that everything posted before it has been delivered.
    operation.postListRetrievalStartedWithNumObjectsRetrieved(1);
    ASSERT_TRUE(tdwtest::waitUntil([&] { return !recorder.received().isEmpty(); }));
    ASSERT_EQ(recorder.received().size(), 1);
    EXPECT_EQ(recorder.received().first().notification.name(), QStringLiteral("NOTIFICATION_INDEXRETRIEVAL_STARTED"));
}

} // namespace
