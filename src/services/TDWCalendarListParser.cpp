#include "services/TDWCalendarListParser.h"

#include "services/TDWDocListParser.h"
#include "services/TDWJsonReader.h"

#include <QUrl>

namespace {
using Json = nlohmann::json;
using R = TDWJsonReader;
} // namespace

TDWCalendarListParser::TDWCalendarListParser(std::shared_ptr<const TDWParserConfig> config) : m_config(std::move(config))
{
    if (!m_config)
        m_config = std::make_shared<const TDWParserConfig>();
}

bool TDWCalendarListParser::parse(const QByteArray &page)
{
    const Json json = R::parse(page);
    if (!json.is_object())
        return false;
    try {
        const Json *items = R::optArray(json, "items");
        if (!items)
            return false;
        QList<TDWDocEntry> entries;
        for (const Json &item : *items) {
            if (!item.is_object())
                return false;
            const QString id = R::requiredString(item, "id");
            if (TDWDocListParser::isSportsCalendarId(id))
                continue;
            TDWDocEntry entry;
            entry.setDocId(id);
            entry.setEtag(R::optString(item, "etag"));
            entry.setTitle(R::optString(item, "summary"));
            entry.setDocType(QStringLiteral("calendarmeta"));
            entry.setAccessRole(R::optString(item, "accessRole"));
            entry.setJsonDictionary(R::toVariantMap(item));
            entries.append(entry);
        }
        const QString token = R::optString(json, "nextPageToken");
        m_entries = std::move(entries);
        m_nextPageToken = token;
        m_numEntries = qint64(items->size());
        return true;
    } catch (const R::TypeError &) {
        return false;
    }
}

QString TDWCalendarListParser::nextUrl() const
{
    if (m_nextPageToken.isNull())
        return {};
    const QString base = m_config->firstListUrl(QStringLiteral("calendar"));
    // Encoded once, so a token holding "+" or "&" reaches the service as it was given.
    return base + (base.contains(u'?') ? u'&' : u'?') + QLatin1String("pageToken=")
        + QString::fromLatin1(QUrl::toPercentEncoding(m_nextPageToken));
}
