#include "ui/BKSErrorAlerts.h"

#include "common/BKSErrorUtils.h"
#include "platform/foundation/TDWLog.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

namespace {

// Widgets exist only on the main thread of a QApplication. Without one (a
// headless run) the message goes to the log rather than taking the program down.
bool canShowWidgets(const QString &message)
{
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        return true;
    tdwLog(QStringLiteral("ERROR: %1").arg(message));
    return false;
}

bool onMainThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

} // namespace

QMessageBox *BKSErrorAlerts::alertForError(const TDWError &error, QWidget *parent)
{
    auto *alert = new QMessageBox(QMessageBox::Warning, QGuiApplication::applicationDisplayName(), error.localizedDescription(), QMessageBox::Ok, parent);
    alert->setDefaultButton(QMessageBox::Ok);
    return alert;
}

void BKSErrorAlerts::showError(const QString &message)
{
    if (!canShowWidgets(message))
        return;
    if (!onMainThread()) {
        QMetaObject::invokeMethod(qApp, [message] { showError(message); }, Qt::BlockingQueuedConnection);
        return;
    }
    QMessageBox *alert = alertForError(BKSErrorUtils::shownError(message));
    alert->setWindowModality(Qt::ApplicationModal);
    alert->exec();
    delete alert;
}

void BKSErrorAlerts::showError(const QString &message, QWidget *window)
{
    if (!canShowWidgets(message))
        return;
    if (!onMainThread()) {
        QPointer<QWidget> target(window);
        QMetaObject::invokeMethod(qApp, [message, target] { showError(message, target.data()); }, Qt::QueuedConnection);
        return;
    }
    QMessageBox *alert = alertForError(BKSErrorUtils::shownError(message), window ? window->window() : nullptr);
    // Without a window there is nothing to attach a sheet to: it shows on its
    // own, still without blocking the caller.
    alert->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->open();
}
