#pragma once

#include "platform/foundation/TDWClassRegistry.h"
#include "services/TDWParser.h"
#include "services/TDWParserConfig.h"

#include <QString>

#include <memory>

// The page parser classes by the names the service table gives, each made
// from the shared parser configuration.
using TDWParserClasses = TDWClassRegistry<TDWParser, std::shared_ptr<const TDWParserConfig>>;

// Makes the page parser that the service table names under "parserClass".
class TDWParserFactory
{
public:
    // The class of a list URL that names none: the Atom list.
    static inline const QString DefaultParserClass = QStringLiteral("TDWDocListParser");

    // A new parser of that class (an Atom parser when the name is empty);
    // null, with a log line, for a name that no registered parser has.
    static std::unique_ptr<TDWParser> create(const QString &className, std::shared_ptr<const TDWParserConfig> config);
};
