#pragma once

#include "services/TDWTokenPagedListParser.h"

// Reads the Calendar API's calendar list: one "calendarmeta" item per calendar,
// Google's sports calendars left out.
class TDWCalendarListParser : public TDWTokenPagedListParser
{
public:
    explicit TDWCalendarListParser(std::shared_ptr<const TDWParserConfig> config);

    // The calendar service's first list URL with the page token added, percent-encoded.
    QString nextUrl() const override;

protected:
    std::optional<TDWDocEntry> entryForItem(const TDWJsonObject &item) const override;
};
