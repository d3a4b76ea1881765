#include "dataobjects/KSExtensibleManagedObject.h"

#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWEntityDescription.h"
#include "platform/store/TDWJsonArchive.h"

QString KSExtensibleManagedObject::extensiblePropertiesDataKey()
{
    return QStringLiteral("extensiblePropertiesData");
}

QByteArray KSExtensibleManagedObject::archiveExtensibleProperties(const QVariantMap &properties)
{
    return TDWJsonArchive::archive(properties);
}

std::optional<QVariantMap> KSExtensibleManagedObject::unarchiveExtensibleProperties(const QByteArray &data)
{
    if (data.isNull())
        return std::nullopt;
    TDWError error;
    const QVariant root = TDWJsonArchive::unarchive(data, &error);
    if (!error.isNull()) {
        tdwLog(QStringLiteral("ERROR: Unable to read extensible archive data."));
        return std::nullopt;
    }
    if (root.metaType().id() != QMetaType::QVariantMap)
        return std::nullopt;
    return root.toMap();
}

QSet<QString> KSExtensibleManagedObject::modifiedKeysBetweenDictionary(const std::optional<QVariantMap> &oldValues,
                                                                       const std::optional<QVariantMap> &newValues)
{
    QSet<QString> keys;
    if (!oldValues || !newValues) {
        const std::optional<QVariantMap> &present = oldValues ? oldValues : newValues;
        if (present)
            for (auto it = present->constBegin(); it != present->constEnd(); ++it)
                keys.insert(it.key());
        return keys;
    }
    for (auto it = oldValues->constBegin(); it != oldValues->constEnd(); ++it)
        if (!newValues->contains(it.key()) || newValues->value(it.key()) != it.value())
            keys.insert(it.key());
    for (auto it = newValues->constBegin(); it != newValues->constEnd(); ++it)
        if (!oldValues->contains(it.key()))
            keys.insert(it.key());
    return keys;
}

bool KSExtensibleManagedObject::holdsArchive() const
{
    return entity().attribute(extensiblePropertiesDataKey()) != nullptr;
}

QByteArray KSExtensibleManagedObject::archiveData() const
{
    return holdsArchive() ? dataValue(extensiblePropertiesDataKey()) : QByteArray();
}

QVariantMap &KSExtensibleManagedObject::primitiveExtensibleProperties() const
{
    const QByteArray current = archiveData();
    if (!m_extensibleProperties || current != m_cachedArchive || current.isNull() != m_cachedArchive.isNull()) {
        m_extensibleProperties = unarchiveExtensibleProperties(current).value_or(QVariantMap());
        m_cachedArchive = current;
    }
    return *m_extensibleProperties;
}

std::optional<QVariantMap> KSExtensibleManagedObject::archivedExtensibleProperties() const
{
    return unarchiveExtensibleProperties(archiveData());
}

QVariant KSExtensibleManagedObject::extensiblePropertyForKey(const QString &key) const
{
    return primitiveExtensibleProperties().value(key);
}

QVariantMap KSExtensibleManagedObject::extensibleProperties() const
{
    return primitiveExtensibleProperties();
}

void KSExtensibleManagedObject::writeArchive()
{
    if (!holdsArchive()) {
        tdwLog(QStringLiteral("ERROR: %1 keeps no extensible properties").arg(entity().name()));
        return;
    }
    setValue(extensiblePropertiesDataKey(), archiveExtensibleProperties(primitiveExtensibleProperties()));
    m_cachedArchive = archiveData();
}

void KSExtensibleManagedObject::setExtensibleProperty(const QVariant &value, const QString &key)
{
    setExtensibleProperties({{key, value}});
}

void KSExtensibleManagedObject::setExtensibleProperties(const QVariantMap &values)
{
    QVariantMap &properties = primitiveExtensibleProperties();
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        if (it.value().isNull())
            properties.remove(it.key());
        else
            properties.insert(it.key(), it.value());
    }
    writeArchive();
}

void KSExtensibleManagedObject::removeExtensiblePropertyForKey(const QString &key)
{
    primitiveExtensibleProperties().remove(key);
    writeArchive();
}

bool KSExtensibleManagedObject::usesExtensiblePropertiesForUndefinedKey(const QString &) const
{
    return false;
}

QVariant KSExtensibleManagedObject::valueForUndefinedKey(const QString &key) const
{
    if (usesExtensiblePropertiesForUndefinedKey(key))
        return extensiblePropertyForKey(key);
    tdwLog(QStringLiteral("ERROR: %1 has no key \"%2\"").arg(entity().name(), key));
    return {};
}

void KSExtensibleManagedObject::setValueForUndefinedKey(const QVariant &value, const QString &key)
{
    if (!usesExtensiblePropertiesForUndefinedKey(key)) {
        tdwLog(QStringLiteral("ERROR: %1 has no key \"%2\"").arg(entity().name(), key));
        return;
    }
    setExtensibleProperty(value, key);
}

QVariant KSExtensibleManagedObject::keyValue(const QString &key) const
{
    if (entity().slotForKey(key) >= 0)
        return value(key);
    return valueForUndefinedKey(key);
}

void KSExtensibleManagedObject::setKeyValue(const QVariant &value, const QString &key)
{
    if (entity().slotForKey(key) >= 0)
        setValue(key, value);
    else
        setValueForUndefinedKey(value, key);
}

QVariantMap KSExtensibleManagedObject::committedValuesForKeys(const QStringList &keys, bool includeExtensibleProperties) const
{
    if (!includeExtensibleProperties)
        return committedValues(keys);
    const QString archiveKey = extensiblePropertiesDataKey();
    QStringList requested = keys;
    if (!requested.isEmpty() && !requested.contains(archiveKey) && holdsArchive())
        requested.append(archiveKey);
    const QVariantMap committed = committedValues(requested);
    QVariantMap result;
    const QVariant archive = committed.value(archiveKey);
    if (!archive.isNull()) {
        const QVariantMap properties = unarchiveExtensibleProperties(archive.toByteArray()).value_or(QVariantMap());
        for (auto it = properties.constBegin(); it != properties.constEnd(); ++it)
            if (keys.isEmpty() || keys.contains(it.key()))
                result.insert(it.key(), it.value());
    }
    // An attribute wins over an extensible property of the same name.
    for (auto it = committed.constBegin(); it != committed.constEnd(); ++it)
        result.insert(it.key(), it.value());
    if (!keys.contains(archiveKey))
        result.remove(archiveKey);
    return result;
}

QVariantMap KSExtensibleManagedObject::changedValuesIncludingExtensibleProperties(bool includeExtensibleProperties) const
{
    QVariantMap changed = changedValues();
    const QString archiveKey = extensiblePropertiesDataKey();
    if (!includeExtensibleProperties || !changed.contains(archiveKey))
        return changed;
    changed.remove(archiveKey);
    const QVariantMap properties = extensibleProperties();
    for (auto it = properties.constBegin(); it != properties.constEnd(); ++it)
        changed.insert(it.key(), it.value());
    return changed;
}

void KSExtensibleManagedObject::didTurnIntoFault()
{
    m_extensibleProperties.reset();
    m_cachedArchive.clear();
}
