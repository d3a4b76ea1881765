#pragma once

#include "platform/json/TDWJsonObject.h"
#include "services/TDWParser.h"
#include "services/TDWParserConfig.h"

#include <memory>
#include <optional>
#include <string_view>

// The shared reading of a Google JSON list page that names its next page by a
// "nextPageToken": an "items" array of objects, one entry per accepted item.
// Subclasses say how an item becomes an entry and where the next page is.
class TDWTokenPagedListParser : public TDWParser
{
public:
    // False unless the bytes are a JSON object with an "items" array of the
    // expected objects; a page of the list's kind without "items" is empty.
    bool parse(const QByteArray &page) override;
    QList<TDWDocEntry> docEntries() const override { return m_entries; }
    QString fileTypeSuffix() const override { return QStringLiteral("json"); }
    qint64 numEntries() const override { return m_numEntries; }
    QString continuation() const override { return {}; }

protected:
    // `pageKind`: the "kind" of the list's pages (a literal).
    TDWTokenPagedListParser(std::shared_ptr<const TDWParserConfig> config, std::string_view pageKind);

    // The entry of one item, or nothing to leave it out; throws
    // TDWJsonObject::TypeError to refuse the whole page.
    virtual std::optional<TDWDocEntry> entryForItem(const TDWJsonObject &item) const = 0;

    const TDWParserConfig &config() const { return *m_config; }
    // Null on the last page.
    const QString &nextPageToken() const { return m_nextPageToken; }

private:
    std::shared_ptr<const TDWParserConfig> m_config;
    std::string_view m_pageKind;
    QList<TDWDocEntry> m_entries;
    QString m_nextPageToken;
    qint64 m_numEntries = 0;
};
