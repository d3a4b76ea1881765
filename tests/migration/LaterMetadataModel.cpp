#include "LaterMetadataModel.h"

#include "dataobjects/TDWMetadataModel.h"
#include "platform/store/TDWStoreError.h"

namespace migrationtest {

std::shared_ptr<const TDWManagedObjectModel> laterMetadataModel(LaterLayoutSteps steps)
{
    const std::shared_ptr<const TDWManagedObjectModel> current = TDWMetadataModel::model();
    return TDWMetadataModel::build([&](TDWManagedObjectModel &model) {
        model.declaredEntity(QStringLiteral("Account"))
            ->addAttribute(QStringLiteral("testNote"), TDWAttributeType::String, {.defaultValue = QStringLiteral("none")});
        model.declaredEntity(QStringLiteral("Doc"))->addAttribute(QStringLiteral("testLabel"), TDWAttributeType::String, {.caseInsensitiveKey = true});
        TDWStoreLayoutStep masterStep = TDWStoreLayoutStep::addingAttributes(QStringLiteral("Account"), {QStringLiteral("testNote")});
        TDWStoreLayoutStep accountStoreStep = TDWStoreLayoutStep::addingAttributes(QStringLiteral("Doc"), {QStringLiteral("testLabel")});
        masterStep.rebuild = accountStoreStep.rebuild = steps.onCopies;
        if (steps.failingAccountStoreStep) {
            accountStoreStep.apply = [apply = accountStoreStep.apply](TDWSqliteConnection &connection, const TDWManagedObjectModel &model,
                                                                      TDWError *error) {
                if (apply(connection, model, error))
                    tdwSetError(error, TDWStoreError::make(TDWStoreError::Validation, QStringLiteral("a step that fails")));
                return false;
            };
        }
        model.addEarlierLayout(TDWMetadataModel::MasterConfiguration, current->versionHash(TDWMetadataModel::MasterConfiguration), masterStep);
        model.addEarlierLayout(TDWMetadataModel::AccountServiceConfiguration, current->versionHash(TDWMetadataModel::AccountServiceConfiguration),
                               accountStoreStep);
    });
}

} // namespace migrationtest
