#include "platform/foundation/TDWMainThread.h"

#include <QCoreApplication>
#include <QThread>

bool TDWMainThread::isCurrent()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void TDWMainThread::post(std::function<void()> function)
{
    post(QCoreApplication::instance(), std::move(function));
}

void TDWMainThread::post(QObject *context, std::function<void()> function)
{
    if (!QCoreApplication::instance()) {
        function();
        return;
    }
    QMetaObject::invokeMethod(context, std::move(function), Qt::QueuedConnection);
}

void TDWMainThread::invokeAndWait(const std::function<void()> &function)
{
    if (isCurrent()) {
        function();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), function, Qt::BlockingQueuedConnection);
}
