#pragma once

#include <QHash>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

// What the list parsers need from the service table and the program's
// settings, read once and then shared read-only by parsers on any thread.
class TDWParserConfig
{
public:
    TDWParserConfig() = default;
    // Reads the service table's "doctypes" and "services" arrays and, from its
    // "oauth" entry, the Google APIs host (that of "userInfoEmailUrl", as the
    // sign-in takes it) and the API key ("apiKey"); the whole table, as
    // TDWServiceTable::getConfig() gives it.
    explicit TDWParserConfig(const QVariantMap &serviceTable);

    // The document type's dictionary; empty when the table has no such type.
    QVariantMap docTypeConfig(const QString &docType) const;
    // The document type whose "googleMimeType" is `mimeType` (a later type wins); null when none.
    QString docTypeForGoogleMimeType(const QString &mimeType) const;
    // The "url" of the first "listurls" entry of a service; null when none.
    QString firstListUrl(const QString &serviceId) const;

    // Host (and port) of the Google APIs, for the task lists' next pages;
    // empty when the table does not give it.
    const QString &googleApisHost() const { return m_googleApisHost; }
    void setGoogleApisHost(const QString &host) { m_googleApisHost = host; }
    // The application's Google API key; empty when it has none.
    const QString &apiKey() const { return m_apiKey; }
    void setApiKey(const QString &key) { m_apiKey = key; }

private:
    QHash<QString, QVariantMap> m_docTypes;
    QHash<QString, QString> m_docTypeByMimeType;
    QHash<QString, QString> m_firstListUrls;
    QString m_googleApisHost;
    QString m_apiKey;
};
