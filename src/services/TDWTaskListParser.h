#pragma once

#include "services/TDWTokenPagedListParser.h"

// Reads the Tasks API's list of task lists: one "tasklist" item per list.
class TDWTaskListParser : public TDWTokenPagedListParser
{
public:
    explicit TDWTaskListParser(std::shared_ptr<const TDWParserConfig> config);

    // The next page of task lists on the Google APIs host, key and token percent-encoded.
    QString nextUrl() const override;

protected:
    std::optional<TDWDocEntry> entryForItem(const TDWJsonObject &item) const override;
};
