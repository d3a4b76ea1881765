#include "ui/BKSErrorAlerts.h"

#include "common/BKSErrorUtils.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWMainThread.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

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

} // namespace

QMessageBox *BKSErrorAlerts::alertForError(const TDWError &error, QWidget *parent)
{
    auto *alert = new QMessageBox(QMessageBox::Warning, QGuiApplication::applicationDisplayName(), QString(), QMessageBox::Ok, parent);
    // The message often quotes a remote or user text (an item's title, a
    // server's answer): shown as written, never read as markup.
    alert->setTextFormat(Qt::PlainText);
    alert->setText(error.localizedDescription());
    alert->setDefaultButton(QMessageBox::Ok);
    return alert;
}

void BKSErrorAlerts::showError(const QString &message)
{
    if (!canShowWidgets(message))
        return;
    // A worker never waits for the user: the alert is handed to the main
    // thread, which may itself be waiting for that worker.
    if (!TDWMainThread::isCurrent()) {
        TDWMainThread::post([message] { showError(message); });
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
    if (!TDWMainThread::isCurrent()) {
        QPointer<QWidget> target(window);
        TDWMainThread::post([message, target] { showError(message, target.data()); });
        return;
    }
    QMessageBox *alert = alertForError(BKSErrorUtils::shownError(message), window ? window->window() : nullptr);
    // Without a window there is nothing to attach a sheet to: it shows on its
    // own, still without blocking the caller.
    alert->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->open();
}
