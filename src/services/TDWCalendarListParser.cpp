#include "services/TDWCalendarListParser.h"

#include "services/TDWDocListParser.h"
#include "services/TDWJsonReader.h"

#include <QUrl>

using R = TDWJsonReader;

TDWCalendarListParser::TDWCalendarListParser(std::shared_ptr<const TDWParserConfig> config)
    : TDWTokenPagedListParser(std::move(config))
{
}

std::optional<TDWDocEntry> TDWCalendarListParser::entryForItem(const QVariantMap &item) const
{
    const QString id = R::requiredString(item, QStringLiteral("id"));
    if (TDWDocListParser::isSportsCalendarId(id))
        return std::nullopt;
    TDWDocEntry entry;
    entry.setDocId(id);
    entry.setEtag(R::optString(item, QStringLiteral("etag")));
    entry.setTitle(R::optString(item, QStringLiteral("summary")));
    entry.setDocType(QStringLiteral("calendarmeta"));
    entry.setAccessRole(R::optString(item, QStringLiteral("accessRole")));
    entry.setJsonDictionary(item);
    return entry;
}

QString TDWCalendarListParser::nextUrl() const
{
    if (nextPageToken().isNull())
        return {};
    const QString base = config().firstListUrl(QStringLiteral("calendar"));
    // Encoded once, so a token holding "+" or "&" reaches the service as it was given.
    return base + (base.contains(u'?') ? u'&' : u'?') + QLatin1String("pageToken=")
        + QString::fromLatin1(QUrl::toPercentEncoding(nextPageToken()));
}
