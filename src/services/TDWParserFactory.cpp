#include "services/TDWParserFactory.h"

#include "platform/foundation/TDWLog.h"

std::unique_ptr<TDWParser> TDWParserFactory::create(const QString &className, std::shared_ptr<const TDWParserConfig> config)
{
    const QString name = className.isEmpty() ? DefaultParserClass : className;
    std::unique_ptr<TDWParser> parser = TDWParserClasses::shared().create(name, std::move(config));
    if (!parser)
        tdwLog(QStringLiteral("ERROR: No list parser \"%1\"").arg(name));
    return parser;
}
