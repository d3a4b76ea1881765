#include "services/TDWCalendarListParser.h"

#include "services/TDWDocListParser.h"
#include "services/TDWJsonReader.h"

#include <QUrl>

namespace {
using R = TDWJsonReader;
const QString kId = QStringLiteral("id");
const QString kNextPageToken = QStringLiteral("nextPageToken");
} // namespace

TDWCalendarListParser::TDWCalendarListParser(std::shared_ptr<const TDWParserConfig> config) : m_config(std::move(config))
{
    if (!m_config)
        m_config = std::make_shared<const TDWParserConfig>();
}

bool TDWCalendarListParser::parse(const QByteArray &page)
{
    const std::optional<R::ItemsPage> listPage = R::parseItemsPage(page);
    if (!listPage)
        return false;
    const QVariantMap &pageObject = listPage->object;
    try {
        QList<TDWDocEntry> entries;
        for (const QVariantMap &item : listPage->items) {
            const QString id = R::requiredString(item, kId);
            if (TDWDocListParser::isSportsCalendarId(id))
                continue;
            TDWDocEntry entry;
            entry.setDocId(id);
            entry.setEtag(R::optString(item, QStringLiteral("etag")));
            entry.setTitle(R::optString(item, QStringLiteral("summary")));
            entry.setDocType(QStringLiteral("calendarmeta"));
            entry.setAccessRole(R::optString(item, QStringLiteral("accessRole")));
            entry.setJsonDictionary(item);
            entries.append(entry);
        }
        const QString token = R::optString(pageObject, kNextPageToken);
        m_entries = std::move(entries);
        m_nextPageToken = token;
        m_numEntries = qint64(listPage->items.size());
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
