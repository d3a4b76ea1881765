#include "services/TDWTaskListParser.h"

#include <QUrl>

TDWTaskListParser::TDWTaskListParser(std::shared_ptr<const TDWParserConfig> config)
    : TDWTokenPagedListParser(std::move(config))
{
}

std::optional<TDWDocEntry> TDWTaskListParser::entryForItem(const TDWJsonObject &item) const
{
    TDWDocEntry entry;
    entry.setDocId(item.requiredString("id"));
    entry.setTitle(item.optString("title"));
    entry.setDocType(QStringLiteral("tasklist"));
    return entry;
}

QString TDWTaskListParser::nextUrl() const
{
    if (nextPageToken().isNull())
        return {};
    // Key and token are encoded once and never decoded, so "+", "&" and "%" survive.
    return QLatin1String("https://") + config().googleApisHost()
        + QLatin1String("/tasks/v1/users/@me/lists?key=") + QString::fromLatin1(QUrl::toPercentEncoding(config().apiKey()))
        + QLatin1String("&alt=json&maxResults=100&pageToken=")
        + QString::fromLatin1(QUrl::toPercentEncoding(nextPageToken()));
}
