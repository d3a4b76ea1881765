#pragma once

#include "services/TDWParser.h"
#include "services/TDWParserConfig.h"

#include <QString>

#include <memory>

// Makes the page parser that the service table names under "parserClass".
class TDWParserFactory
{
public:
    // A new parser of that class (an Atom parser when the name is empty);
    // null for a name that names no parser.
    static std::unique_ptr<TDWParser> create(const QString &className, std::shared_ptr<const TDWParserConfig> config);
};
