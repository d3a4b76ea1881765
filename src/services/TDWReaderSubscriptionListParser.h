#pragma once

#include "services/TDWDocListParser.h"

// Reads Reader's list of subscriptions: one "subscription" item per feed, inside the tags it carries.
class TDWReaderSubscriptionListParser : public TDWDocListParser
{
public:
    using TDWDocListParser::TDWDocListParser;

    QList<TDWDocEntry> docEntries() const override;
    qint64 numEntries() const override;

protected:
    bool acceptsDocument(const TDWXMLElement &root) const override;
};
