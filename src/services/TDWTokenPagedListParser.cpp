#include "services/TDWTokenPagedListParser.h"

#include "platform/json/TDWJsonReader.h"

TDWTokenPagedListParser::TDWTokenPagedListParser(std::shared_ptr<const TDWParserConfig> config, std::string_view pageKind)
    : m_config(std::move(config)), m_pageKind(pageKind)
{
    if (!m_config)
        m_config = std::make_shared<const TDWParserConfig>();
}

bool TDWTokenPagedListParser::parse(const QByteArray &page)
{
    TDWJsonReader reader;
    const std::optional<TDWJsonReader::ItemsPage> listPage = reader.readItemsPage(page, {m_pageKind});
    if (!listPage)
        return false;
    try {
        QList<TDWDocEntry> entries;
        for (const TDWJsonObject &item : listPage->items) {
            if (std::optional<TDWDocEntry> entry = entryForItem(item))
                entries.append(std::move(*entry));
        }
        const QString token = listPage->object.optString("nextPageToken");
        m_entries = std::move(entries);
        m_nextPageToken = token;
        m_numEntries = qint64(listPage->items.size());
        return true;
    } catch (const TDWJsonObject::TypeError &) {
        return false;
    }
}
