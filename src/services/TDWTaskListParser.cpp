#include "services/TDWTaskListParser.h"

#include "platform/foundation/TDWLog.h"

#include <QUrl>

TDWTaskListParser::TDWTaskListParser(std::shared_ptr<const TDWParserConfig> config)
    : TDWTokenPagedListParser(std::move(config), "tasks#taskLists")
{
}

bool TDWTaskListParser::parse(const QByteArray &page)
{
    if (!TDWTokenPagedListParser::parse(page))
        return false;
    // A next page that cannot be named must not read as the end of the list.
    if (!nextPageToken().isNull() && config().googleApisHost().isEmpty()) {
        tdwLog(QStringLiteral("ERROR: No Google APIs host for the next page of task lists"));
        return false;
    }
    return true;
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
    // Key and token are encoded once and never decoded, so "+", "&" and "%"
    // survive; without a key the bearer token alone names the application.
    const QString key = config().apiKey().isEmpty()
        ? QString()
        : QLatin1String("key=") + QString::fromLatin1(QUrl::toPercentEncoding(config().apiKey())) + u'&';
    return QLatin1String("https://") + config().googleApisHost() + QLatin1String("/tasks/v1/users/@me/lists?") + key
        + QLatin1String("alt=json&maxResults=100&pageToken=") + QString::fromLatin1(QUrl::toPercentEncoding(nextPageToken()));
}
