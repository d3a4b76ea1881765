#pragma once

#include <QMetaType>
#include <QString>

// A stored object named inside a predicate ("self = %@", "$x.parentDoc = %@").
// Predicates compare objects by identity, so a constant object is kept as the
// identity of its row: the store it lives in, its entity and its primary key.
// The store passes its objects and object identifiers to TDWPredicate::parse as
// QVariant::fromValue(TDWPredicateObjectRef), or registers a QMetaType converter
// from its own identifier type to this one.
class TDWPredicateObjectRef
{
public:
    TDWPredicateObjectRef() = default;
    TDWPredicateObjectRef(QString storeIdentifier, QString entity, qint64 primaryKey);

    // No identity: an object that was never saved.
    bool isNull() const { return m_entity.isEmpty(); }
    const QString &storeIdentifier() const { return m_storeIdentifier; }
    const QString &entity() const { return m_entity; }
    qint64 primaryKey() const { return m_primaryKey; }

    // "x-tdw-object://<store>/<entity>/p<primary key>", the form a printed
    // predicate carries so that it parses back to the same object.
    QString uri() const;
    static TDWPredicateObjectRef fromUri(const QString &uri);

    // Whether both name the same stored row. An empty store identifier on either
    // side matches any store, for callers that do not tell stores apart.
    bool refersToSameObject(const TDWPredicateObjectRef &other) const;

    bool operator==(const TDWPredicateObjectRef &other) const = default;

private:
    QString m_storeIdentifier;
    QString m_entity;
    qint64 m_primaryKey = 0;
};

Q_DECLARE_METATYPE(TDWPredicateObjectRef)
