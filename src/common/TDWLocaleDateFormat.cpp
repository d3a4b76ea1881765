#include "common/TDWLocaleDateFormat.h"

#include <QLocale>

#include <unicode/udat.h>

#include <map>
#include <memory>
#include <tuple>

namespace {

UDateFormatStyle icuStyle(TDWLocaleDateFormat::Style style)
{
    switch (style) {
    case TDWLocaleDateFormat::Style::None: return UDAT_NONE;
    case TDWLocaleDateFormat::Style::Short: return UDAT_SHORT;
    case TDWLocaleDateFormat::Style::Medium: return UDAT_MEDIUM;
    case TDWLocaleDateFormat::Style::Long: return UDAT_LONG;
    case TDWLocaleDateFormat::Style::Full: return UDAT_FULL;
    }
    return UDAT_NONE;
}

QLocale::FormatType qtFormat(TDWLocaleDateFormat::Style style)
{
    return style == TDWLocaleDateFormat::Style::Short ? QLocale::ShortFormat : QLocale::LongFormat;
}

struct FormatterClose
{
    void operator()(UDateFormat *f) const { udat_close(f); }
};
using Formatter = std::unique_ptr<UDateFormat, FormatterClose>;

// Opening a formatter loads locale data, so each thread keeps the ones it used
// (a formatter must not be shared between threads).
UDateFormat *formatterFor(const QByteArray &locale, TDWLocaleDateFormat::Style dateStyle, TDWLocaleDateFormat::Style timeStyle)
{
    thread_local std::map<std::tuple<QByteArray, int, int>, Formatter> cache;
    const auto key = std::make_tuple(locale, int(dateStyle), int(timeStyle));
    auto it = cache.find(key);
    if (it == cache.end()) {
        UErrorCode status = U_ZERO_ERROR;
        // The formatter works in UTC on the local wall-clock time (below), so
        // the local zone is always the one Qt sees, even after it changes.
        static const UChar utc[] = {u'U', u'T', u'C', 0};
        Formatter formatter(udat_open(icuStyle(timeStyle), icuStyle(dateStyle), locale.constData(), utc, -1, nullptr, -1, &status));
        if (U_FAILURE(status))
            formatter.reset();
        it = cache.emplace(key, std::move(formatter)).first;
    }
    return it->second.get();
}

// Locale data that the formatter cannot load: Qt's own date and time formats.
QString fallback(const QDateTime &local, TDWLocaleDateFormat::Style dateStyle, TDWLocaleDateFormat::Style timeStyle)
{
    const QLocale locale;
    QStringList parts;
    if (dateStyle != TDWLocaleDateFormat::Style::None)
        parts << locale.toString(local.date(), qtFormat(dateStyle));
    if (timeStyle != TDWLocaleDateFormat::Style::None)
        parts << locale.toString(local.time(), qtFormat(timeStyle));
    return parts.join(QLatin1Char(' '));
}

} // namespace

QString TDWLocaleDateFormat::format(const QDateTime &date, Style dateStyle, Style timeStyle)
{
    if (!date.isValid() || (dateStyle == Style::None && timeStyle == Style::None))
        return {};
    const QDateTime local = date.toLocalTime();
    UDateFormat *formatter = formatterFor(QLocale().name().toLatin1(), dateStyle, timeStyle);
    if (!formatter)
        return fallback(local, dateStyle, timeStyle);
    const UDate wallClock = UDate(QDateTime(local.date(), local.time(), Qt::UTC).toMSecsSinceEpoch());
    UChar buffer[256];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = udat_format(formatter, wallClock, buffer, int32_t(std::size(buffer)), nullptr, &status);
    if (U_FAILURE(status) || length > int32_t(std::size(buffer)))
        return fallback(local, dateStyle, timeStyle);
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(buffer), length);
}
