#include "platform/predicate/TDWPredicateObjectRef.h"

#include <QStringList>

namespace {
const QString UriPrefix = QStringLiteral("x-tdw-object://");
}

TDWPredicateObjectRef::TDWPredicateObjectRef(QString storeIdentifier, QString entity, qint64 primaryKey)
    : m_storeIdentifier(std::move(storeIdentifier)), m_entity(std::move(entity)), m_primaryKey(primaryKey)
{
}

QString TDWPredicateObjectRef::uri() const
{
    return UriPrefix + m_storeIdentifier + QLatin1Char('/') + m_entity + QStringLiteral("/p") + QString::number(m_primaryKey);
}

TDWPredicateObjectRef TDWPredicateObjectRef::fromUri(const QString &uri)
{
    if (!uri.startsWith(UriPrefix))
        return {};
    const QStringList parts = uri.mid(UriPrefix.size()).split(QLatin1Char('/'));
    if (parts.size() != 3 || parts[1].isEmpty() || !parts[2].startsWith(QLatin1Char('p')))
        return {};
    bool ok = false;
    const qint64 key = parts[2].mid(1).toLongLong(&ok);
    if (!ok)
        return {};
    return TDWPredicateObjectRef(parts[0], parts[1], key);
}

bool TDWPredicateObjectRef::refersToSameObject(const TDWPredicateObjectRef &other) const
{
    if (isNull() || other.isNull())
        return false;
    const bool sameStore = m_storeIdentifier.isEmpty() || other.m_storeIdentifier.isEmpty()
        || m_storeIdentifier == other.m_storeIdentifier;
    return sameStore && m_entity == other.m_entity && m_primaryKey == other.m_primaryKey;
}
