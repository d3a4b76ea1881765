#include "common/BKSDateFormatUtils.h"

#include "PinnedZoneAndLocale.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

TEST(BKSDateFormatUtils, RelativeDaysShowTheTimeOthersTheMediumDate)
{
    struct Case
    {
        const char *locale;
        QDateTime date, now;
        bool includeTime;
        QString expected;
    };
    // The table's local times are Berlin's too.
    PinnedZoneAndLocale berlin("Europe/Berlin", "en_GB");
    const QDateTime march2 = localAt(2024, 3, 2, 10);
    const Case cases[] = {
        {"en_GB", localAt(2024, 3, 2, 8, 5), march2, false, QStringLiteral("Today, 08:05")},
        {"en_GB", localAt(2024, 3, 1, 23, 10), march2, false, QStringLiteral("Yesterday, 23:10")},
        {"en_GB", localAt(2024, 3, 1, 0, 0), march2, true, QStringLiteral("Yesterday, 00:00")},
        {"en_GB", localAt(2024, 2, 29, 14), march2, false, QStringLiteral("29 Feb 2024")},
        {"en_GB", localAt(2024, 2, 29, 14), march2, true, QStringLiteral("29 Feb 2024, 14:00")},
        {"en_GB", localAt(2024, 3, 3, 9), march2, false, QStringLiteral("3 Mar 2024")}, // the future is no day word
        {"en_GB", localAt(2023, 12, 31, 18), localAt(2024, 1, 1, 9), false, QStringLiteral("Yesterday, 18:00")},
        // Just after the 23-hour day, 86400 seconds back is two days back.
        {"en_GB", localAt(2024, 3, 31, 10), localAt(2024, 4, 1, 0, 30), false, QStringLiteral("Yesterday, 10:00")},
        {"en_US", localAt(2024, 2, 29, 14), march2, true, QStringLiteral("Feb 29, 2024, 2:00\u202FPM")},
        {"de_DE", localAt(2024, 2, 29, 14), march2, true, QStringLiteral("29.02.2024, 14:00")},
        {"en_GB", QDateTime(), march2, true, QString()},
    };
    for (const Case &c : cases) {
        PinnedZoneAndLocale pinned("Europe/Berlin", c.locale);
        PinnedNow now(c.now);
        EXPECT_EQ(BKSDateFormatUtils::formatDate(c.date, c.includeTime), c.expected) << c.locale << " " << c.date.toString(Qt::ISODate);
    }
}
