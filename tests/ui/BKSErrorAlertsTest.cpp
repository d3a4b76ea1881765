#include "ui/BKSErrorAlerts.h"

#include "TestSupport.h"
#include "common/BKSErrorUtils.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

TEST(BKSErrorAlerts, AlertShowsTheDescriptionWithAnOkButton)
{
    std::unique_ptr<QMessageBox> alert(BKSErrorAlerts::alertForError(BKSErrorUtils::shownError(QStringLiteral("The backup folder is missing"))));
    EXPECT_EQ(alert->text(), QStringLiteral("The backup folder is missing"));
    EXPECT_EQ(alert->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(alert->icon(), QMessageBox::Warning);
}

TEST(BKSErrorAlerts, SheetIsWindowModalOnTheWindowAndReturnsAtOnce)
{
    QWidget window;
    window.show();
    auto *child = new QWidget(&window); // a view inside the window: the sheet goes on the window
    BKSErrorAlerts::showError(QStringLiteral("Unable to restore"), child);

    const QList<QMessageBox *> sheets = window.findChildren<QMessageBox *>();
    ASSERT_EQ(sheets.size(), 1);
    QPointer<QMessageBox> sheet = sheets.first();
    EXPECT_EQ(sheet->parentWidget(), &window);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->text(), QStringLiteral("Unable to restore"));

    sheet->button(QMessageBox::Ok)->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(sheet.isNull()); // dismissed sheets do not pile up on the window
}

TEST(BKSErrorAlerts, MarkupInTheMessageIsShownAsWritten)
{
    // An item's title quoted in the message, as a server or the user wrote it.
    const QString message = QStringLiteral("Unable to restore \u201c<b>Q3</b> <img src=\"file:///etc/passwd\">\u201d");
    std::unique_ptr<QMessageBox> alert(BKSErrorAlerts::alertForError(BKSErrorUtils::shownError(message)));
    auto *label = alert->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->text(), message);
}

TEST(BKSErrorAlerts, ShowErrorFromAWorkerReturnsAtOnceAndTheAlertFollowsOnTheMainThread)
{
    // The main thread waits for the worker without running its event loop,
    // as it does at quit: a worker that waited for the alert never returns.
    QThread *worker = QThread::create([] { BKSErrorAlerts::showError(QStringLiteral("Unable to read the list")); });
    worker->start();
    const bool workerReturned = worker->wait(QDeadlineTimer(10000));
    EXPECT_TRUE(workerReturned);

    // The alert comes up once the main thread runs its loop again; dismissing
    // it lets the loop (and, on failure, the waiting worker) go on.
    QString shown;
    QTimer dismiss;
    QObject::connect(&dismiss, &QTimer::timeout, [&] {
        if (auto *alert = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shown = alert->text();
            alert->button(QMessageBox::Ok)->click();
        }
    });
    dismiss.start(10);
    tdwtest::waitUntil([&] { return !shown.isEmpty(); }, std::chrono::seconds(10));
    dismiss.stop();
    worker->wait();
    delete worker;
    EXPECT_EQ(shown, QStringLiteral("Unable to read the list"));
}
