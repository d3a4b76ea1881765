#include "dataobjects/TDWCalendarEventModel.h"

#include "dataobjects/TDWEvent.h"
#include "platform/foundation/TDWLog.h"

namespace {

std::shared_ptr<const TDWManagedObjectModel> build()
{
    using Type = TDWAttributeType;
    auto model = std::make_shared<TDWManagedObjectModel>(TDWCalendarEventModel::VersionIdentifier);
    model->addEntity(QStringLiteral("Event"), {TDWCalendarEventModel::Configuration}, [] { return std::make_shared<TDWEvent>(); })
        .addAttribute(QStringLiteral("eventId"), Type::String, {.indexed = true})
        .addAttribute(QStringLiteral("etag"), Type::String)
        .addAttribute(QStringLiteral("createdDate"), Type::Date)
        .addAttribute(QStringLiteral("updatedDate"), Type::Date)
        .addAttribute(QStringLiteral("title"), Type::String)
        .addAttribute(QStringLiteral("defaultTimeZone"), Type::String)
        .addAttribute(QStringLiteral("recurringEventId"), Type::String, {.indexed = true})
        .addAttribute(QStringLiteral("eventJsonData"), Type::Json)
        .addAttribute(QStringLiteral("otherAttributeData"), Type::Binary);
    TDWError error;
    if (!model->finalize(&error)) {
        tdwLog(QStringLiteral("ERROR: The calendar event model is inconsistent: %1").arg(error.description()));
        return nullptr;
    }
    return model;
}

} // namespace

std::shared_ptr<const TDWManagedObjectModel> TDWCalendarEventModel::model()
{
    static const std::shared_ptr<const TDWManagedObjectModel> shared = build();
    return shared;
}
