#include "BenchModel.h"

namespace benchmodel {

namespace {

std::shared_ptr<const TDWManagedObjectModel> build(int layout, bool rebuild)
{
    auto model = std::make_shared<TDWManagedObjectModel>(QStringLiteral("bench1"));
    const QStringList configuration{Configuration};
    model->addEntity(QStringLiteral("Doc"), configuration)
        .addAttribute(QStringLiteral("service"), TDWAttributeType::String)
        .addAttribute(QStringLiteral("accountUsername"), TDWAttributeType::String)
        .addAttribute(QStringLiteral("docId"), TDWAttributeType::String, {.indexed = true})
        .addAttribute(QStringLiteral("docType"), TDWAttributeType::String)
        .addAttribute(QStringLiteral("docTypeLabel"), TDWAttributeType::String)
        .addAttribute(QStringLiteral("dirPath"), TDWAttributeType::String)
        .addAttribute(QStringLiteral("deleted"), TDWAttributeType::Boolean, {.defaultValue = false})
        .addAttribute(QStringLiteral("insertDate"), TDWAttributeType::Date)
        .addAttribute(QStringLiteral("modifiedDate"), TDWAttributeType::Date)
        .addToMany(QStringLiteral("docRevs"), QStringLiteral("DocRev"), QStringLiteral("doc"), TDWDeleteRule::Cascade);
    TDWEntityDescription &docRev = model->addEntity(QStringLiteral("DocRev"), configuration)
        .addAttribute(QStringLiteral("title"), TDWAttributeType::String, {.caseInsensitiveKey = true})
        .addAttribute(QStringLiteral("sortTitle"), TDWAttributeType::String)
        .addAttribute(QStringLiteral("filePath"), TDWAttributeType::String)
        .addAttribute(QStringLiteral("exportStatus"), TDWAttributeType::Integer)
        .addAttribute(QStringLiteral("firstSeenDate"), TDWAttributeType::Date)
        .addAttribute(QStringLiteral("lastSeenDate"), TDWAttributeType::Date)
        .addAttribute(QStringLiteral("obsoletedDate"), TDWAttributeType::Date)
        .addAttribute(QStringLiteral("lastModifiedDate"), TDWAttributeType::Date)
        .addAttribute(QStringLiteral("latest"), TDWAttributeType::Boolean)
        .addAttribute(QStringLiteral("insertDate"), TDWAttributeType::Date)
        .addAttribute(QStringLiteral("modifiedDate"), TDWAttributeType::Date)
        .addToOne(QStringLiteral("doc"), QStringLiteral("Doc"), QStringLiteral("docRevs"))
        // The latest revision of an item at a date.
        .addIndex({QStringLiteral("doc"), QStringLiteral("firstSeenDate")})
        // Pages sorted by title: in fetch order (ties by row id), with the validity dates
        // along so that skipped rows need no table lookup.
        .addIndex({QStringLiteral("title[c]"), QStringLiteral("pk"), QStringLiteral("firstSeenDate"), QStringLiteral("obsoletedDate")});
    if (layout >= 2) {
        docRev.addAttribute(QStringLiteral("note"), TDWAttributeType::String, {.defaultValue = QStringLiteral("none")})
            .addAttribute(QStringLiteral("label"), TDWAttributeType::String, {.caseInsensitiveKey = true});
        TDWStoreLayoutStep step = TDWStoreLayoutStep::addingAttributes(QStringLiteral("DocRev"), {QStringLiteral("note"), QStringLiteral("label")});
        step.rebuild = rebuild;
        model->addEarlierLayout(Configuration, build(1, false)->versionHash(Configuration), step);
    }
    model->finalize(nullptr);
    return model;
}

} // namespace

std::shared_ptr<const TDWManagedObjectModel> model()
{
    static const std::shared_ptr<const TDWManagedObjectModel> shared = build(1, false);
    return shared;
}

std::shared_ptr<const TDWManagedObjectModel> laterModel(bool rebuild)
{
    return build(2, rebuild);
}

} // namespace benchmodel
