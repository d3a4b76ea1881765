#pragma once

#include <QDateTime>
#include <QString>

// Dates and times in the styles of the user's locale (short "31/03/2024",
// medium "31 Mar 2024", long, full "Sunday, 31 March 2024"), as the locale
// data defines them, joined the locale's way when both are asked for. The
// locale is the default QLocale; the wall-clock time is that of the local
// time zone.
class TDWLocaleDateFormat
{
public:
    enum class Style { None, Short, Medium, Long, Full };

    static QString format(const QDateTime &date, Style dateStyle, Style timeStyle);
};
