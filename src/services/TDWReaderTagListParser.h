#pragma once

#include "services/TDWDocListParser.h"

// Reads Reader's list of tags: each user tag becomes a "readertag" (the tag as
// a container of subscriptions) and an "articletag" (as a container of saved articles).
class TDWReaderTagListParser : public TDWDocListParser
{
public:
    using TDWDocListParser::TDWDocListParser;

    QList<TDWDocEntry> docEntries() const override;
    qint64 numEntries() const override;

    static TDWDocEntry docEntryForDocId(const QString &docId, const QString &docType, const QString &title,
                                        const QString &xmlString);

protected:
    bool acceptsDocument(const TDWXMLElement &root) const override;
};
