#include "services/TDWParserConfig.h"

#include "common/TDWServiceConfig.h"

#include <QUrl>

TDWParserConfig::TDWParserConfig(const QVariantMap &serviceTable)
{
    const QVariantList docTypes = serviceTable.value(QStringLiteral("doctypes")).toList();
    for (const QVariant &item : docTypes) {
        const QVariantMap docType = item.toMap();
        const QString id = docType.value(QStringLiteral("id")).toString();
        if (id.isEmpty())
            continue;
        if (!m_docTypes.contains(id))
            m_docTypes.insert(id, docType);
        const QString mimeType = docType.value(QStringLiteral("googleMimeType")).toString();
        if (!mimeType.isEmpty())
            m_docTypeByMimeType.insert(mimeType, id);
    }
    for (const QVariant &item : serviceTable.value(QStringLiteral("services")).toList()) {
        const TDWServiceConfig service(item.toMap());
        if (!service.listUrls.isEmpty() && !m_firstListUrls.contains(service.id))
            m_firstListUrls.insert(service.id, service.listUrls.first().url);
    }
    const QVariantMap oauth = serviceTable.value(QStringLiteral("oauth")).toMap();
    m_googleApisHost = QUrl(oauth.value(QStringLiteral("userInfoEmailUrl")).toString()).authority();
    m_apiKey = oauth.value(QStringLiteral("apiKey")).toString();
}

QVariantMap TDWParserConfig::docTypeConfig(const QString &docType) const
{
    return m_docTypes.value(docType);
}

QString TDWParserConfig::docTypeForGoogleMimeType(const QString &mimeType) const
{
    return m_docTypeByMimeType.value(mimeType);
}

QString TDWParserConfig::firstListUrl(const QString &serviceId) const
{
    return m_firstListUrls.value(serviceId);
}
