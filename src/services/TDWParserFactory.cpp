#include "services/TDWParserFactory.h"

std::unique_ptr<TDWParser> TDWParserFactory::create(const QString &className, std::shared_ptr<const TDWParserConfig> config)
{
    return TDWParserClasses::shared().create(className.isEmpty() ? DefaultParserClass : className, std::move(config));
}
