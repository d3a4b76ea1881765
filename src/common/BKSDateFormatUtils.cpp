#include "common/BKSDateFormatUtils.h"

#include "common/TDWLocaleDateFormat.h"
#include "platform/foundation/TDWClock.h"

#include <QCoreApplication>

QString BKSDateFormatUtils::formatDate(const QDateTime &date, bool alwaysIncludeTime)
{
    using Style = TDWLocaleDateFormat::Style;
    if (!date.isValid())
        return {};
    const QDate day = date.toLocalTime().date();
    const QDate today = TDWClock::now().toLocalTime().date();
    if (day == today)
        return QCoreApplication::translate("BKSDateFormatUtils", "Today, ") + TDWLocaleDateFormat::format(date, Style::None, Style::Short);
    if (day == today.addDays(-1))
        return QCoreApplication::translate("BKSDateFormatUtils", "Yesterday, ") + TDWLocaleDateFormat::format(date, Style::None, Style::Short);
    return TDWLocaleDateFormat::format(date, Style::Medium, alwaysIncludeTime ? Style::Short : Style::None);
}
