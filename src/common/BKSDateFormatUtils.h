#pragma once

#include <QDateTime>
#include <QString>

// The one display text of backup and snapshot times in the user interface.
class BKSDateFormatUtils
{
public:
    // "Today, " or "Yesterday, " followed by the short time (whatever
    // `alwaysIncludeTime` says) for those calendar days, else the medium date,
    // with the short time only when `alwaysIncludeTime` is set. Today is
    // TDWClock's. An invalid date gives an empty text.
    static QString formatDate(const QDateTime &date, bool alwaysIncludeTime);
};
