#pragma once

#include "platform/json/TDWJsonObject.h"
#include "services/TDWParser.h"
#include "services/TDWParserConfig.h"

#include <memory>
#include <optional>

// Reads the JSON pages of the Drive file list and change list: maps each
// file's media type to a document type, picks its download or export URL, and
// reports the page's largest change id for the next incremental run.
class TDWDriveListParser : public TDWParser
{
public:
    explicit TDWDriveListParser(std::shared_ptr<const TDWParserConfig> config);

    // False unless the bytes are a JSON object with an "items" array whose
    // items, and every field read from them, have the expected types; a file
    // or change list without "items" is an empty page.
    bool parse(const QByteArray &page) override;
    QList<TDWDocEntry> docEntries() const override { return m_entries; }
    QString nextUrl() const override { return m_nextUrl; }
    QString fileTypeSuffix() const override { return QStringLiteral("json"); }
    qint64 numEntries() const override { return m_numEntries; }
    QString continuation() const override { return {}; }
    qint64 largestChangeId() const override { return m_largestChangeId; }

    // One file object; nothing when the file is not backed up. Throws
    // TDWJsonObject::TypeError for fields of the wrong type.
    std::optional<TDWDocEntry> docEntryForDict(const TDWJsonObject &file) const;
    // The document type of a media type; null for Google formats the service table does not know.
    QString docTypeByGoogleMimeType(const QString &mimeType) const;

private:
    std::shared_ptr<const TDWParserConfig> m_config;
    QList<TDWDocEntry> m_entries;
    QString m_nextUrl;
    qint64 m_numEntries = 0;
    qint64 m_largestChangeId = NoChangeId;
};
