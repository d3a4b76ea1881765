#include "services/TDWTaskListParser.h"

#include "services/TDWJsonReader.h"

#include <QUrl>

namespace {
using R = TDWJsonReader;
const QString kId = QStringLiteral("id");
const QString kNextPageToken = QStringLiteral("nextPageToken");
} // namespace

TDWTaskListParser::TDWTaskListParser(std::shared_ptr<const TDWParserConfig> config) : m_config(std::move(config))
{
    if (!m_config)
        m_config = std::make_shared<const TDWParserConfig>();
}

bool TDWTaskListParser::parse(const QByteArray &page)
{
    const std::optional<R::ItemsPage> listPage = R::parseItemsPage(page);
    if (!listPage)
        return false;
    const QVariantMap &pageObject = listPage->object;
    try {
        QList<TDWDocEntry> entries;
        for (const QVariantMap &item : listPage->items) {
            TDWDocEntry entry;
            entry.setDocId(R::requiredString(item, kId));
            entry.setTitle(R::optString(item, QStringLiteral("title")));
            entry.setDocType(QStringLiteral("tasklist"));
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

QString TDWTaskListParser::nextUrl() const
{
    if (m_nextPageToken.isNull())
        return {};
    // Key and token are encoded once and never decoded, so "+", "&" and "%" survive.
    return QLatin1String("https://") + m_config->googleApisHost()
        + QLatin1String("/tasks/v1/users/@me/lists?key=") + QString::fromLatin1(QUrl::toPercentEncoding(m_config->apiKey()))
        + QLatin1String("&alt=json&maxResults=100&pageToken=")
        + QString::fromLatin1(QUrl::toPercentEncoding(m_nextPageToken));
}
