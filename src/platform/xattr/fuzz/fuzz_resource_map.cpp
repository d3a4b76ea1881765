// Resource-map decoder fuzz target: any input either fails cleanly or gives a
// map whose stored form is exactly the input, so the decoder accepts nothing
// but what the encoder writes.
#include "platform/xattr/TDWResourceMap.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<TDWResourceMap> map = TDWResourceMap::decode(input);
    if (map && map->encode() != input)
        std::abort();
    return 0;
}
