#include "platform/store/TDWManagedObjectID.h"

#include "platform/store/TDWManagedObject.h"

#include <atomic>
#include <mutex>

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
    // A temporary identifier names no store: its authority is empty.
    return QUrl(QStringLiteral("%1://%2/%3/%4%5")
                    .arg(UriScheme, m_temporary ? QString() : m_storeIdentifier, m_entityName, m_temporary ? QStringLiteral("t") : QStringLiteral("p"))
                    .arg(m_rowId));
}

TDWPredicateObjectRef TDWManagedObjectID::predicateObjectRef() const
{
    if (isNull() || m_temporary)
        return {};
    return TDWPredicateObjectRef(m_storeIdentifier, m_entityName, m_rowId);
}

void TDWManagedObjectID::registerMetaTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<TDWManagedObjectID>();
        qRegisterMetaType<TDWManagedObjectPtr>();
        QMetaType::registerConverter<TDWManagedObjectID, TDWPredicateObjectRef>(&TDWManagedObjectID::predicateObjectRef);
        QMetaType::registerConverter<TDWManagedObjectPtr, TDWPredicateObjectRef>(
            [](const TDWManagedObjectPtr &object) { return object ? object->objectRef() : TDWPredicateObjectRef(); });
    });
}
