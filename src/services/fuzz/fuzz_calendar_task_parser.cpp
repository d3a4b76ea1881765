// Any bytes through the calendar-list and task-list parsers: they must answer, never crash or hang.
#include "FuzzConfig.h"
#include "services/TDWCalendarListParser.h"
#include "services/TDWTaskListParser.h"

#include <cstddef>
#include <cstdint>

template <class Parser>
static void exercise(const QByteArray &page)
{
    Parser parser(fuzzConfig());
    if (!parser.parse(page))
        return;
    (void)parser.docEntries();
    (void)parser.nextUrl();
    (void)parser.numEntries();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray page(reinterpret_cast<const char *>(data), qsizetype(size));
    exercise<TDWCalendarListParser>(page);
    exercise<TDWTaskListParser>(page);
    return 0;
}
