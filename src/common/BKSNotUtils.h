#pragma once

#include "platform/notify/TDWNotification.h"

#include <QString>
#include <QVariantMap>

// The one way the program posts its own notifications: always on the main
// thread, so observers (mostly user-interface code) run there.
class BKSNotUtils
{
public:
    // Builds the notification on the calling thread and has the main thread
    // post it to the default centre (TDWMainThread: without an application,
    // here and now). By default delivery is queued on the main thread's event
    // loop and the caller goes on; a main-thread caller sees the observers run
    // only after it has returned to the event loop. A caller that relies on
    // delivery before it goes on passes `wait`: this returns once every
    // observer has returned (on the main thread the observers run inside this
    // call), and the caller must hold nothing the main thread may be waiting for.
    static void postNotificationName(const QString &name, QObject *object = nullptr, const QVariantMap &userInfo = {}, bool wait = false);

    // Posts to the default centre on the current thread.
    static void doSendNot(const TDWNotification &notification);
};
