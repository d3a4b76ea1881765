#include "common/BKSNotUtils.h"

#include "platform/foundation/TDWMainThread.h"
#include "platform/notify/TDWNotificationCenter.h"

void BKSNotUtils::postNotificationName(const QString &name, QObject *object, const QVariantMap &userInfo, bool wait)
{
    const TDWNotification notification(name, object, userInfo);
    if (wait)
        TDWMainThread::invokeAndWait([&notification] { doSendNot(notification); });
    else
        TDWMainThread::post([notification] { doSendNot(notification); });
}

void BKSNotUtils::doSendNot(const TDWNotification &notification)
{
    TDWNotificationCenter::defaultCenter().post(notification);
}
