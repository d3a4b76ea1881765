#pragma once

#include "services/TDWParser.h"
#include "services/TDWParserConfig.h"

#include <memory>

// Reads the Calendar API's calendar list: one "calendarmeta" item per calendar,
// Google's sports calendars left out.
class TDWCalendarListParser : public TDWParser
{
public:
    explicit TDWCalendarListParser(std::shared_ptr<const TDWParserConfig> config);

    // False unless the bytes are a JSON object with an "items" array of calendar objects.
    bool parse(const QByteArray &page) override;
    QList<TDWDocEntry> docEntries() const override { return m_entries; }
    // The calendar service's first list URL with the page token added, percent-encoded.
    QString nextUrl() const override;
    QString fileTypeSuffix() const override { return QStringLiteral("json"); }
    qint64 numEntries() const override { return m_numEntries; }
    QString continuation() const override { return {}; }

private:
    std::shared_ptr<const TDWParserConfig> m_config;
    QList<TDWDocEntry> m_entries;
    QString m_nextPageToken;
    qint64 m_numEntries = 0;
};
