#include "platform/store/TDWStoreLayoutStep.h"

#include "platform/store/TDWManagedObjectModel.h"
#include "platform/store/TDWStoreError.h"
#include "platform/store/TDWStoreSchema.h"

namespace {

const TDWAttributeDescription *declaredAttribute(const TDWManagedObjectModel &model, const QString &entity, const QString &attribute,
                                                 TDWError *error)
{
    const TDWEntityDescription *description = model.entity(entity);
    const TDWAttributeDescription *found = description ? description->attribute(attribute) : nullptr;
    if (!found)
        tdwSetError(error, TDWStoreError::make(TDWStoreError::InvalidModel,
                                               QStringLiteral("A layout step names \"%1.%2\", which the model does not declare").arg(entity, attribute)));
    return found;
}

} // namespace

TDWStoreLayoutStep TDWStoreLayoutStep::addingAttributes(const QString &entity, const QStringList &attributes)
{
    return {[entity, attributes](TDWSqliteConnection &connection, const TDWManagedObjectModel &model, TDWError *error) {
        for (const QString &name : attributes) {
            const TDWAttributeDescription *attribute = declaredAttribute(model, entity, name, error);
            if (!attribute || !TDWStoreSchema::addAttributeColumns(connection, *model.entity(entity), *attribute, error))
                return false;
        }
        return true;
    }};
}

TDWStoreLayoutStep TDWStoreLayoutStep::addingFoldedColumn(const QString &entity, const QString &attribute)
{
    return {[entity, attribute](TDWSqliteConnection &connection, const TDWManagedObjectModel &model, TDWError *error) {
        const TDWAttributeDescription *declared = declaredAttribute(model, entity, attribute, error);
        return declared && TDWStoreSchema::addFoldedColumn(connection, *model.entity(entity), *declared, error);
    }};
}
