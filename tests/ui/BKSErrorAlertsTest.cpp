#include "ui/BKSErrorAlerts.h"

#include "common/BKSErrorUtils.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
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
