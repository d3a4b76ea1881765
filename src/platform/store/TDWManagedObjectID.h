#pragma once

#include "platform/predicate/TDWPredicateObjectRef.h"

#include <QHash>
#include <QMetaType>
#include <QString>
#include <QUrl>

// Names one stored object: the identifier of its store, its entity and its row id.
// A plain value: it may be copied to and used on any thread, and its URI form
// ("x-tidewell://<store-identifier>/<Entity>/p<rowid>") names the same object after
// a restart. Objects inserted and not yet saved have a temporary identifier
// ("x-tidewell:///<Entity>/t<n>"), which names nothing outside its context.
class TDWManagedObjectID
{
public:
    static inline const QString UriScheme = QStringLiteral("x-tidewell");

    TDWManagedObjectID() = default;
    static TDWManagedObjectID permanent(const QString &storeIdentifier, const QString &entityName, qint64 rowId);
    static TDWManagedObjectID temporary(const QString &entityName);

    // Parses the URI form without asking any store whether the object exists;
    // TDWPersistentStoreCoordinator::managedObjectIDForURIRepresentation also checks
    // that the coordinator holds the store and the entity. A malformed URI gives a null identifier.
    static TDWManagedObjectID fromURIRepresentation(const QUrl &uri);

    bool isNull() const { return m_entityName.isEmpty(); }
    bool isTemporaryID() const { return m_temporary; }
    const QString &storeIdentifier() const { return m_storeIdentifier; }
    const QString &entityName() const { return m_entityName; }
    // The row id of a permanent identifier; the sequence number of a temporary one.
    qint64 rowId() const { return m_rowId; }

    QUrl uriRepresentation() const;
    // The identity predicates compare objects by; null for a temporary identifier.
    // Identifiers (and lists of them) passed to TDWPredicate::parse as %@ are
    // converted to it.
    TDWPredicateObjectRef predicateObjectRef() const;
    // Makes QVariants of identifiers and objects usable as predicate arguments.
    static void registerMetaTypes();

    bool operator==(const TDWManagedObjectID &other) const
    {
        return m_rowId == other.m_rowId && m_temporary == other.m_temporary && m_entityName == other.m_entityName
            && m_storeIdentifier == other.m_storeIdentifier;
    }
    bool operator!=(const TDWManagedObjectID &other) const { return !(*this == other); }

private:
    QString m_storeIdentifier;
    QString m_entityName;
    qint64 m_rowId = 0;
    bool m_temporary = false;
};

// Row ids rarely repeat within one map, so the strings are left to the equality test.
inline size_t qHash(const TDWManagedObjectID &id, size_t seed = 0)
{
    return qHashMulti(seed, id.rowId(), id.isTemporaryID());
}

// Lists of hundreds of thousands of identifiers grow by moving bytes, not by
// copying each identifier's strings.
Q_DECLARE_TYPEINFO(TDWManagedObjectID, Q_RELOCATABLE_TYPE);
Q_DECLARE_METATYPE(TDWManagedObjectID)
