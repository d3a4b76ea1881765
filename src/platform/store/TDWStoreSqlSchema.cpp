#include "platform/store/TDWStoreSqlSchema.h"

#include "platform/store/TDWManagedObjectModel.h"

TDWStoreSqlSchema::TDWStoreSqlSchema(const TDWManagedObjectModel &model, QString storeIdentifier)
    : m_model(model)
    , m_storeIdentifier(std::move(storeIdentifier))
{
}

QString TDWStoreSqlSchema::tableForEntity(const QString &entity) const
{
    return m_model.entity(entity) ? entity : QString();
}

QString TDWStoreSqlSchema::primaryKeyColumn(const QString &) const
{
    return QStringLiteral("pk");
}

std::optional<TDWPredicateSqlSchema::Attribute> TDWStoreSqlSchema::attribute(const QString &entity, const QString &key) const
{
    const TDWEntityDescription *description = m_model.entity(entity);
    const TDWAttributeDescription *attribute = description ? description->attribute(key) : nullptr;
    if (!attribute)
        return std::nullopt;
    switch (attribute->type) {
    case TDWAttributeType::String:
        return Attribute{attribute->column(), QMetaType::QString};
    case TDWAttributeType::Integer:
        return Attribute{attribute->column(), QMetaType::LongLong};
    case TDWAttributeType::Double:
        return Attribute{attribute->column(), QMetaType::Double};
    case TDWAttributeType::Boolean:
        return Attribute{attribute->column(), QMetaType::Bool};
    case TDWAttributeType::Date:
        return Attribute{attribute->column(), QMetaType::QDateTime};
    case TDWAttributeType::Binary:
        return Attribute{attribute->column(), QMetaType::QByteArray};
    case TDWAttributeType::Json:
        // Archives are stored as text but read as data; predicates do not look into them.
        break;
    }
    return std::nullopt;
}

std::optional<TDWPredicateSqlSchema::Relationship> TDWStoreSqlSchema::relationship(const QString &entity, const QString &key) const
{
    const TDWEntityDescription *description = m_model.entity(entity);
    const TDWRelationshipDescription *relationship = description ? description->relationship(key) : nullptr;
    if (!relationship)
        return std::nullopt;
    Relationship result;
    result.destinationEntity = relationship->destinationEntity;
    result.toMany = relationship->toMany;
    if (relationship->toMany)
        result.inverseColumn = relationship->inverseName;
    else
        result.sourceColumn = relationship->column();
    return result;
}
