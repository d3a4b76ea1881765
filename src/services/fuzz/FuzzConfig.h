#pragma once

#include "services/TDWParserConfig.h"

#include <memory>

// The document types and list URLs the parsers look up, as a small service table.
inline std::shared_ptr<const TDWParserConfig> fuzzConfig()
{
    static const std::shared_ptr<const TDWParserConfig> config = [] {
        QVariantList docTypes;
        for (const char *id : {"contact", "group", "album", "photo", "comment", "tag", "calendarmeta", "bookmark", "file"})
            docTypes.append(QVariantMap{{QStringLiteral("id"), QString::fromLatin1(id)}});
        docTypes.append(QVariantMap{{QStringLiteral("id"), QStringLiteral("folder")},
                                    {QStringLiteral("googleMimeType"), QStringLiteral("application/vnd.google-apps.folder")}});
        docTypes.append(QVariantMap{{QStringLiteral("id"), QStringLiteral("document")},
                                    {QStringLiteral("googleMimeType"), QStringLiteral("application/vnd.google-apps.document")},
                                    {QStringLiteral("exportLink"), QStringLiteral("application/pdf")}});
        docTypes.append(QVariantMap{{QStringLiteral("id"), QStringLiteral("form")},
                                    {QStringLiteral("googleMimeType"), QStringLiteral("application/vnd.google-apps.form")},
                                    {QStringLiteral("exportLink"), QStringLiteral("application/zip")}});
        const QVariantMap calendar{{QStringLiteral("id"), QStringLiteral("calendar")},
                                   {QStringLiteral("listurls"),
                                    QVariantList{QVariantMap{{QStringLiteral("url"), QStringLiteral("https://calendar.example/list?a=1")}}}}};
        auto built = std::make_shared<TDWParserConfig>(
            QVariantMap{{QStringLiteral("doctypes"), docTypes}, {QStringLiteral("services"), QVariantList{calendar}}});
        built->setGoogleApisHost(QStringLiteral("apis.example"));
        built->setApiKey(QStringLiteral("key"));
        return std::shared_ptr<const TDWParserConfig>(built);
    }();
    return config;
}
