#include "common/BKSNotUtils.h"

#include "platform/notify/TDWNotificationCenter.h"

#include <QCoreApplication>
#include <QThread>

void BKSNotUtils::postNotificationName(const QString &name, QObject *object, const QVariantMap &userInfo, bool wait)
{
    const TDWNotification notification(name, object, userInfo);
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        // No event loop to hand it to (a tool or early start-up): deliver here.
        doSendNot(notification);
        return;
    }
    if (wait && QThread::currentThread() == app->thread()) {
        doSendNot(notification);
        return;
    }
    QMetaObject::invokeMethod(app, [notification] { doSendNot(notification); }, wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

void BKSNotUtils::doSendNot(const TDWNotification &notification)
{
    TDWNotificationCenter::defaultCenter().post(notification);
}
