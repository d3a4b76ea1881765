#include "services/TDWTokenPagedListParser.h"

#include "services/TDWJsonReader.h"

TDWTokenPagedListParser::TDWTokenPagedListParser(std::shared_ptr<const TDWParserConfig> config) : m_config(std::move(config))
{
    if (!m_config)
        m_config = std::make_shared<const TDWParserConfig>();
}

bool TDWTokenPagedListParser::parse(const QByteArray &page)
{
    const std::optional<TDWJsonReader::ItemsPage> listPage = TDWJsonReader::parseItemsPage(page);
    if (!listPage)
        return false;
    try {
        QList<TDWDocEntry> entries;
        for (const QVariantMap &item : listPage->items) {
            if (std::optional<TDWDocEntry> entry = entryForItem(item))
                entries.append(std::move(*entry));
        }
        const QString token = TDWJsonReader::optString(listPage->object, QStringLiteral("nextPageToken"));
        m_entries = std::move(entries);
        m_nextPageToken = token;
        m_numEntries = qint64(listPage->items.size());
        return true;
    } catch (const TDWJsonReader::TypeError &) {
        return false;
    }
}
