#pragma once

#include "platform/predicate/TDWPredicateSqlSchema.h"

class TDWManagedObjectModel;

// Tells predicate translation how one store lays out the model: a table per entity
// named after it, row id "pk", a column per attribute and to-one relationship named
// after its key, to-many relationships read through their inverse's column.
class TDWStoreSqlSchema : public TDWPredicateSqlSchema
{
public:
    TDWStoreSqlSchema(const TDWManagedObjectModel &model, QString storeIdentifier);

    QString tableForEntity(const QString &entity) const override;
    QString primaryKeyColumn(const QString &entity) const override;
    std::optional<Attribute> attribute(const QString &entity, const QString &key) const override;
    std::optional<Relationship> relationship(const QString &entity, const QString &key) const override;
    QString storeIdentifier() const override { return m_storeIdentifier; }

private:
    const TDWManagedObjectModel &m_model;
    QString m_storeIdentifier;
};
