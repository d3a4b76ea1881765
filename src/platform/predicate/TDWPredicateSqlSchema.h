#pragma once

#include <QMetaType>
#include <QString>
#include <QVariantList>

#include <optional>

// What the translation of a predicate to SQL needs to know of the schema of one
// store; the store implements it.
//
// Stored forms the translation relies on: booleans as INTEGER 0/1, strings as
// TEXT, data as BLOB, dates as REAL seconds since 2001-01-01T00:00:00Z (see
// TDWPredicateSql::secondsSinceReferenceDate).
class TDWPredicateSqlSchema
{
public:
    virtual ~TDWPredicateSqlSchema() = default;

    struct Attribute {
        QString column;
        QMetaType::Type type;   // LongLong, Double, Bool, QString, QDateTime or QByteArray
    };
    struct Relationship {
        QString destinationEntity;
        bool toMany = false;
        QString sourceColumn;    // to-one: foreign-key column in the source table
        QString inverseColumn;   // to-many: foreign-key column in the destination table pointing back
    };

    virtual QString tableForEntity(const QString &entity) const = 0;
    virtual QString primaryKeyColumn(const QString &entity) const = 0;
    virtual std::optional<Attribute> attribute(const QString &entity, const QString &key) const = 0;
    virtual std::optional<Relationship> relationship(const QString &entity, const QString &key) const = 0;
    // The store these tables belong to: object constants of another store match
    // nothing. Empty when the caller does not tell stores apart.
    virtual QString storeIdentifier() const { return {}; }
};

// A boolean SQL expression (always 0 or 1, never NULL) over the alias it was
// made for, with ? placeholders filled in order by the bindings.
struct TDWSqlFragment {
    QString sql;
    QVariantList bindings;
};
