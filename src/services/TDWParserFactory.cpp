#include "services/TDWParserFactory.h"

#include "services/TDWCalendarListParser.h"
#include "services/TDWDocListParser.h"
#include "services/TDWDriveListParser.h"
#include "services/TDWReaderSubscriptionListParser.h"
#include "services/TDWReaderTagListParser.h"
#include "services/TDWTaskListParser.h"

std::unique_ptr<TDWParser> TDWParserFactory::create(const QString &className, std::shared_ptr<const TDWParserConfig> config)
{
    if (className.isEmpty() || className == QLatin1String("TDWDocListParser"))
        return std::make_unique<TDWDocListParser>(std::move(config));
    if (className == QLatin1String("TDWReaderTagListParser"))
        return std::make_unique<TDWReaderTagListParser>(std::move(config));
    if (className == QLatin1String("TDWReaderSubscriptionListParser"))
        return std::make_unique<TDWReaderSubscriptionListParser>(std::move(config));
    if (className == QLatin1String("TDWDriveListParser"))
        return std::make_unique<TDWDriveListParser>(std::move(config));
    if (className == QLatin1String("TDWCalendarListParser"))
        return std::make_unique<TDWCalendarListParser>(std::move(config));
    if (className == QLatin1String("TDWTaskListParser"))
        return std::make_unique<TDWTaskListParser>(std::move(config));
    return nullptr;
}
