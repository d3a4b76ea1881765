// Any bytes through the Drive list parser: it must answer, never crash or hang.
#include "FuzzConfig.h"
#include "services/TDWDriveListParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TDWDriveListParser parser(fuzzConfig());
    if (!parser.parse(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size))))
        return 0;
    for (const TDWDocEntry &entry : parser.docEntries())
        (void)entry.jsonDictionary().size();
    (void)parser.nextUrl();
    (void)parser.largestChangeId();
    return 0;
}
