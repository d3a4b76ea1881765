#include "common/BKSErrorUtils.h"

#include "QtPrinters.h"

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
