#include "common/BKSErrorUtils.h"

#include "QtPrinters.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <gtest/gtest.h>

TEST(BKSErrorUtils, ErrorValuesCarryDomainCodeAndMessage)
{
    struct Case
    {
        TDWError (*make)(const QString &);
        QString domain;
        qint64 code;
        QString message;
        QVariantMap userInfo;
    };
    const QString key = TDWError::LocalizedDescriptionKey;
    const Case cases[] = {
        {&BKSErrorUtils::simpleError, QStringLiteral("Brackenmoor Software"), 1000, QStringLiteral("Unable to save account"), {{key, QStringLiteral("Unable to save account")}}},
        {&BKSErrorUtils::simpleError, QStringLiteral("Brackenmoor Software"), 1000, QStringLiteral(""), {{key, QStringLiteral("")}}},
        {&BKSErrorUtils::simpleError, QStringLiteral("Brackenmoor Software"), 1000, QString(), {}},
        {&BKSErrorUtils::shownError, QStringLiteral("deradavadezo"), 0, QStringLiteral("Export failed"), {{key, QStringLiteral("Export failed")}}},
        {&BKSErrorUtils::shownError, QStringLiteral("deradavadezo"), 0, QString(), {}},
    };
    for (const Case &c : cases) {
        const TDWError error = c.make(c.message);
        EXPECT_EQ(error.domain(), c.domain);
        EXPECT_EQ(error.code(), c.code);
        EXPECT_EQ(error.userInfo(), c.userInfo) << c.message.toStdString();
        if (!c.message.isNull()) {
            EXPECT_EQ(error.localizedDescription(), c.message);
        }
    }
}

TEST(BKSErrorUtils, AlertShowsTheDescriptionWithAnOkButton)
{
    std::unique_ptr<QMessageBox> alert(BKSErrorUtils::alertForError(BKSErrorUtils::shownError(QStringLiteral("The backup folder is missing"))));
    EXPECT_EQ(alert->text(), QStringLiteral("The backup folder is missing"));
    EXPECT_EQ(alert->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(alert->icon(), QMessageBox::Warning);
}

TEST(BKSErrorUtils, SheetIsWindowModalOnTheWindowAndReturnsAtOnce)
{
    QWidget window;
    window.show();
    auto *child = new QWidget(&window); // a view inside the window: the sheet goes on the window
    BKSErrorUtils::showError(QStringLiteral("Unable to restore"), child);

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
