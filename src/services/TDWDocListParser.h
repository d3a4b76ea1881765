#pragma once

#include "platform/xml/TDWXMLDocument.h"
#include "services/TDWParser.h"
#include "services/TDWParserConfig.h"

#include <memory>
#include <optional>

// Reads GData Atom feeds: contacts and groups, Picasa Web albums, photos,
// comments and tags, Reader saved articles, calendar and Documents lists.
// Also the base of the Reader tag and subscription parsers.
class TDWDocListParser : public TDWParser
{
public:
    explicit TDWDocListParser(std::shared_ptr<const TDWParserConfig> config);

    // True for a well-formed document of the kind this parser reads (an Atom "feed").
    bool parse(const QByteArray &page) override;
    QList<TDWDocEntry> docEntries() const override;
    QString nextUrl() const override;
    QString fileTypeSuffix() const override { return QStringLiteral("xml"); }
    qint64 numEntries() const override;
    QString continuation() const override;

    // The container given to every Reader item that carries a user label.
    const QString &fixedFolderId() const { return m_fixedFolderId; }
    void setFixedFolderId(const QString &folderId) { m_fixedFolderId = folderId; }

    // One record from one "entry" element; nothing for entries that are not backed up.
    std::optional<TDWDocEntry> entryFromNode(const TDWXMLElement &node) const;

    // The item id in an Atom id or link text; null when it names none.
    static QString docIdFromUrl(const QString &text);
    // The instant of an RFC 3339 text; null for null text.
    static QDateTime dateFromString(const QString &text);
    // The element's text without line breaks.
    static QString titleFromElement(const TDWXMLElement &element);
    // Kept for the callers that expect HTML to be flattened; the text passes unchanged.
    static QString flattenHTML(const QString &text);
    // True when the first occurrence of `suffix` ends exactly at the end of `text`.
    static bool stringEndsWith(const QString &text, const QString &suffix);
    // Google's sports calendars are never backed up.
    static bool isSportsCalendarId(const QString &docId);

protected:
    // Whether the parsed document is a page this parser reads.
    virtual bool acceptsDocument(const TDWXMLElement &root) const;
    const TDWXMLDocument &document() const { return m_doc; }

private:
    std::shared_ptr<const TDWParserConfig> m_config;
    TDWXMLDocument m_doc;
    QString m_fixedFolderId;
};
