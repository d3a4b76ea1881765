#include "common/TDWServiceConfig.h"

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
    , disabled(entry.value(QStringLiteral("serviceDisabled")).toBool())
{
}
