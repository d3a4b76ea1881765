#include "services/TDWCalendarListParser.h"

#include "common/TDWServiceIds.h"
#include "services/TDWDocListParser.h"

#include <QUrl>

TDWCalendarListParser::TDWCalendarListParser(std::shared_ptr<const TDWParserConfig> config)
    : TDWTokenPagedListParser(std::move(config), "calendar#calendarList")
{
}

std::optional<TDWDocEntry> TDWCalendarListParser::entryForItem(const TDWJsonObject &item) const
{
    const QString id = item.requiredString("id");
    if (TDWDocListParser::isSportsCalendarId(id))
        return std::nullopt;
    TDWDocEntry entry;
    entry.setDocId(id);
    entry.setEtag(item.optString("etag"));
    entry.setTitle(item.optString("summary"));
    entry.setDocType(QStringLiteral("calendarmeta"));
    entry.setAccessRole(item.optString("accessRole"));
    entry.setJsonText(item.text());
    return entry;
}

QString TDWCalendarListParser::nextUrl() const
{
    if (nextPageToken().isNull())
        return {};
    const QString base = config().firstListUrl(TDWServiceIds::Calendar);
    // Encoded once, so a token holding "+" or "&" reaches the service as it was given.
    return base + (base.contains(u'?') ? u'&' : u'?') + QLatin1String("pageToken=")
        + QString::fromLatin1(QUrl::toPercentEncoding(nextPageToken()));
}
