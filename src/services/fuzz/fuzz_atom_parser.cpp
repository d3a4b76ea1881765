// Any bytes through the XML list parsers: they must answer, never crash or hang.
#include "FuzzConfig.h"
#include "platform/xml/TDWXMLDocument.h"
#include "services/TDWDocListParser.h"
#include "services/TDWReaderSubscriptionListParser.h"
#include "services/TDWReaderTagListParser.h"

#include <cstddef>
#include <cstdint>

template <class Parser>
static void exercise(const QByteArray &page)
{
    Parser parser(fuzzConfig());
    parser.setFixedFolderId(QStringLiteral("articletag:user/1/label/x"));
    if (!parser.parse(page))
        return;
    for (const TDWDocEntry &entry : parser.docEntries()) {
        (void)entry.description();
        // A kept entry text must itself read as one XML element.
        TDWXMLDocument kept;
        if (entry.docType() != QLatin1String("readertag") && entry.docType() != QLatin1String("articletag")
            && !kept.parse(entry.xmlString().toUtf8()))
            __builtin_trap();
    }
    (void)parser.nextUrl();
    (void)parser.continuation();
    (void)parser.numEntries();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray page(reinterpret_cast<const char *>(data), qsizetype(size));
    exercise<TDWDocListParser>(page);
    exercise<TDWReaderTagListParser>(page);
    exercise<TDWReaderSubscriptionListParser>(page);
    return 0;
}
