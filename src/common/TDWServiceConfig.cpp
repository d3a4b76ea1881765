#include "common/TDWServiceConfig.h"

namespace {

QList<TDWServiceConfig::ListUrl> readListUrls(const QVariant &entries)
{
    QList<TDWServiceConfig::ListUrl> urls;
    for (const QVariant &entry : entries.toList()) {
        const QVariantMap map = entry.toMap();
        urls.append({map.value(QStringLiteral("url")).toString(), map.value(QStringLiteral("parserClass")).toString()});
    }
    return urls;
}

} // namespace

TDWServiceConfig::TDWServiceConfig(const QVariantMap &entry)
    : id(entry.value(QStringLiteral("id")).toString())
    , listDir(entry.value(QStringLiteral("listdir")).toString())
    , itemDir(entry.value(QStringLiteral("itemdir")).toString())
    , listOfItemsLabel(entry.value(QStringLiteral("listOfItemsLabel")).toString())
    , serviceLabel(entry.value(QStringLiteral("serviceLabel")).toString())
    , serviceLabelLong(entry.value(QStringLiteral("serviceLabelLong")).toString())
    , itemName(entry.value(QStringLiteral("itemName")).toString())
    , itemNamePlural(entry.value(QStringLiteral("itemNamePlural")).toString())
    , itemNamePluralNoService(entry.value(QStringLiteral("itemNamePluralNoService")).toString())
    , preflightClass(entry.value(QStringLiteral("preflightClass")).toString())
    , preflightUrl(entry.value(QStringLiteral("preflighturl")).toString())
    , backupOperationClass(entry.value(QStringLiteral("BackupOperationClass")).toString())
    , gdataVersion(entry.value(QStringLiteral("gdataversion")).toString())
    , oauthScope(entry.value(QStringLiteral("oauthScope")).toString())
    , imapHost(entry.value(QStringLiteral("imapHost")).toString())
    , exportOperationClass(entry.value(QStringLiteral("exportOperationClass")).toString())
    , serviceDelegateClass(entry.value(QStringLiteral("serviceDelegateClass")).toString())
    , diagnosticClass(entry.value(QStringLiteral("diagnosticClass")).toString())
    , listUrls(readListUrls(entry.value(QStringLiteral("listurls"))))
    , changeUrls(readListUrls(entry.value(QStringLiteral("changeUrls"))))
    , maxChangeIdUrl(entry.value(QStringLiteral("maxChangeIdUrl")).toString())
    , folderType(entry.value(QStringLiteral("folderType")).toString())
    , contentHosts(entry.value(QStringLiteral("contentHosts")).toStringList())
    , disabled(entry.value(QStringLiteral("serviceDisabled")).toBool())
{
}
