#pragma once

#include "platform/store/TDWManagedObject.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// A stored object that keeps extra named values without a model change: they
// live in one attribute, "extensiblePropertiesData", as an archive (JSON) of a
// dictionary. A subclass names the keys it keeps there by answering YES in
// usesExtensiblePropertiesForUndefinedKey; key-value access to any other key
// that is not an attribute is an error.
//
// The unarchived dictionary is cached per object and rebuilt whenever the
// attribute no longer holds the archive it was read from (a rollback, a merge
// of another context's save, a fault), so the attribute stays the only truth.
class KSExtensibleManagedObject : public TDWManagedObject
{
public:
    static QString extensiblePropertiesDataKey();
    static QByteArray archiveExtensibleProperties(const QVariantMap &properties);
    // No value for absent data, for data that cannot be read (logged) and for an
    // archive whose root is not a dictionary.
    static std::optional<QVariantMap> unarchiveExtensibleProperties(const QByteArray &data);
    // Keys whose values differ between the two (a key on one side only counts);
    // a missing side contributes all keys of the other.
    static QSet<QString> modifiedKeysBetweenDictionary(const std::optional<QVariantMap> &oldValues,
                                                       const std::optional<QVariantMap> &newValues);

    // Null when absent.
    QVariant extensiblePropertyForKey(const QString &key) const;
    QVariantMap extensibleProperties() const;
    // A null value removes the key. Either way the whole dictionary is archived
    // into the attribute, so the change saves and rolls back like any other.
    void setExtensibleProperty(const QVariant &value, const QString &key);
    // Several at once, archived once (null values remove their keys).
    void setExtensibleProperties(const QVariantMap &values);
    void removeExtensiblePropertyForKey(const QString &key);
    // The dictionary read afresh from the attribute.
    std::optional<QVariantMap> archivedExtensibleProperties() const;

    virtual bool usesExtensiblePropertiesForUndefinedKey(const QString &key) const;
    // Key-value access for keys that are no attribute of the entity: extensible
    // keys of the subclass; any other key logs an error and reads as null.
    QVariant valueForUndefinedKey(const QString &key) const;
    void setValueForUndefinedKey(const QVariant &value, const QString &key);
    // Key-value access by name: attributes and to-one relationships of the
    // entity, then the undefined-key path above.
    QVariant keyValue(const QString &key) const;
    void setKeyValue(const QVariant &value, const QString &key);

    // The committed attribute values of the keys (all when empty), with, when
    // asked, the committed extensible properties underneath them; the archive
    // attribute itself only when it is named.
    QVariantMap committedValuesForKeys(const QStringList &keys, bool includeExtensibleProperties) const;
    // The changed values; with the flag, a changed archive is replaced by the
    // current extensible properties, key by key.
    QVariantMap changedValuesIncludingExtensibleProperties(bool includeExtensibleProperties) const;

protected:
    // The cached dictionary, loaded on first use.
    QVariantMap &primitiveExtensibleProperties() const;
    void didTurnIntoFault() override;

private:
    bool holdsArchive() const;
    QByteArray archiveData() const;
    void writeArchive();

    mutable std::optional<QVariantMap> m_extensibleProperties;
    // The attribute value the cache was read from or written to.
    mutable QByteArray m_cachedArchive;
};
