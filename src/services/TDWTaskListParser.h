#pragma once

#include "services/TDWParser.h"
#include "services/TDWParserConfig.h"

#include <memory>

// Reads the Tasks API's list of task lists: one "tasklist" item per list.
class TDWTaskListParser : public TDWParser
{
public:
    explicit TDWTaskListParser(std::shared_ptr<const TDWParserConfig> config);

    // False unless the bytes are a JSON object with an "items" array of task-list objects.
    bool parse(const QByteArray &page) override;
    QList<TDWDocEntry> docEntries() const override { return m_entries; }
    // The next page of task lists on the Google APIs host, key and token percent-encoded.
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
