#include "services/TDWTaskListParser.h"

#include "services/TDWJsonReader.h"

#include <QUrl>

using R = TDWJsonReader;

TDWTaskListParser::TDWTaskListParser(std::shared_ptr<const TDWParserConfig> config)
    : TDWTokenPagedListParser(std::move(config))
{
}

std::optional<TDWDocEntry> TDWTaskListParser::entryForItem(const QVariantMap &item) const
{
    TDWDocEntry entry;
    entry.setDocId(R::requiredString(item, QStringLiteral("id")));
    entry.setTitle(R::optString(item, QStringLiteral("title")));
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
