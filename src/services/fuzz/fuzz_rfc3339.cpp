// Any text as an RFC 3339 date-time: parsing, printing, the instant and the
// zone operations must answer, never crash or overflow.
#include "services/GDataDateTime.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    GDataDateTime value(text);
    (void)value.RFC3339String();
    const QDateTime instant = value.date();
    (void)value.timeZone();
    GDataDateTime copy = value;
    (void)(copy == value);
    copy.setHasTime(!copy.hasTime());
    (void)copy.RFC3339String();
    value.setTimeZone(QTimeZone(QByteArrayLiteral("America/New_York")));
    (void)value.RFC3339String();
    if (instant.isValid())
        (void)GDataDateTime(instant, QTimeZone(3600)).RFC3339String();
    return 0;
}
