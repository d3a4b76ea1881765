#include "platform/store/TDWManagedObjectID.h"

#include <atomic>

namespace {
std::atomic<qint64> g_nextTemporary{1};
}

TDWManagedObjectID TDWManagedObjectID::permanent(const QString &storeIdentifier, const QString &entityName, qint64 rowId)
{
    TDWManagedObjectID id;
    id.m_storeIdentifier = storeIdentifier;
    id.m_entityName = entityName;
    id.m_rowId = rowId;
    return id;
}

TDWManagedObjectID TDWManagedObjectID::temporary(const QString &entityName)
{
    TDWManagedObjectID id;
    id.m_entityName = entityName;
    id.m_rowId = g_nextTemporary.fetch_add(1, std::memory_order_relaxed);
    id.m_temporary = true;
    return id;
}

TDWManagedObjectID TDWManagedObjectID::fromURIRepresentation(const QUrl &uri)
{
    if (!uri.isValid() || uri.scheme() != UriScheme || uri.host().isEmpty())
        return {};
    const QStringList parts = uri.path().split(QLatin1Char('/'));
    // The path is "/<Entity>/p<rowid>".
    if (parts.size() != 3 || !parts[0].isEmpty() || parts[1].isEmpty() || !parts[2].startsWith(QLatin1Char('p')))
        return {};
    bool ok = false;
    const qint64 rowId = parts[2].mid(1).toLongLong(&ok);
    if (!ok || rowId <= 0)
        return {};
    return permanent(uri.host(), parts[1], rowId);
}

QUrl TDWManagedObjectID::uriRepresentation() const
{
    if (isNull())
        return {};
    QUrl uri;
    uri.setScheme(UriScheme);
    if (m_temporary) {
        uri.setHost(QString());
        uri.setPath(QStringLiteral("/%1/t%2").arg(m_entityName).arg(m_rowId));
    } else {
        uri.setHost(m_storeIdentifier);
        uri.setPath(QStringLiteral("/%1/p%2").arg(m_entityName).arg(m_rowId));
    }
    return uri;
}
