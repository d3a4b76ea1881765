#pragma once

#include "services/TDWTokenPagedListParser.h"

// Reads the Tasks API's list of task lists: one "tasklist" item per list.
class TDWTaskListParser : public TDWTokenPagedListParser
{
public:
    explicit TDWTaskListParser(std::shared_ptr<const TDWParserConfig> config);

    // Also false for a page that has a next page when the configuration
    // names no Google APIs host to fetch it from.
    bool parse(const QByteArray &page) override;
    // The next page of task lists on the Google APIs host, key (when the
    // application has one) and token percent-encoded.
    QString nextUrl() const override;

protected:
    std::optional<TDWDocEntry> entryForItem(const TDWJsonObject &item) const override;
};
