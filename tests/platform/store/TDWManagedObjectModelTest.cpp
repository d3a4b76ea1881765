#include "StoreTestModel.h"

#include "platform/store/TDWStoreError.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Declare = std::function<void(TDWManagedObjectModel &)>;

struct InvalidModelCase
{
    const char *name;
    Declare declare;
};

TDWEntityDescription &parentChild(TDWManagedObjectModel &model, const QString &inverse = QStringLiteral("parent"))
{
    model.addEntity(QStringLiteral("Child"), {QStringLiteral("c")}).addToOne(QStringLiteral("parent"), QStringLiteral("Parent"), QStringLiteral("children"));
    return model.addEntity(QStringLiteral("Parent"), {QStringLiteral("c")})
        .addToMany(QStringLiteral("children"), QStringLiteral("Child"), inverse);
}

void PrintTo(const InvalidModelCase &value, std::ostream *out)
{
    *out << value.name;
}

class InvalidModel : public ::testing::TestWithParam<InvalidModelCase>
{
};

TEST_P(InvalidModel, IsRefusedByFinalize)
{
    TDWManagedObjectModel model(QStringLiteral("v1"));
    GetParam().declare(model);
    TDWError error;
    EXPECT_FALSE(model.finalize(&error));
    EXPECT_EQ(error.code(), TDWStoreError::InvalidModel);
    EXPECT_FALSE(model.isFinalized());
}

INSTANTIATE_TEST_SUITE_P(
    Declarations, InvalidModel,
    ::testing::Values(
        InvalidModelCase{"DuplicateEntity",
                         [](TDWManagedObjectModel &m) {
                             m.addEntity(QStringLiteral("A"), {QStringLiteral("c")});
                             m.addEntity(QStringLiteral("A"), {QStringLiteral("c")});
                         }},
        InvalidModelCase{"ReservedColumnName",
                         [](TDWManagedObjectModel &m) { m.addEntity(QStringLiteral("A"), {}).addAttribute(QStringLiteral("pk"), TDWAttributeType::Integer); }},
        InvalidModelCase{"QuoteInName",
                         [](TDWManagedObjectModel &m) { m.addEntity(QStringLiteral("A"), {}).addAttribute(QStringLiteral("a\"b"), TDWAttributeType::String); }},
        InvalidModelCase{"ShadowColumnName",
                         [](TDWManagedObjectModel &m) { m.addEntity(QStringLiteral("A"), {}).addAttribute(QStringLiteral("title__ci"), TDWAttributeType::String); }},
        InvalidModelCase{"DuplicateProperty",
                         [](TDWManagedObjectModel &m) {
                             m.addEntity(QStringLiteral("A"), {})
                                 .addAttribute(QStringLiteral("x"), TDWAttributeType::String)
                                 .addAttribute(QStringLiteral("x"), TDWAttributeType::Integer);
                         }},
        InvalidModelCase{"UnknownDestination",
                         [](TDWManagedObjectModel &m) { m.addEntity(QStringLiteral("A"), {}).addToOne(QStringLiteral("b"), QStringLiteral("B")); }},
        InvalidModelCase{"ToManyWithoutInverse",
                         [](TDWManagedObjectModel &m) {
                             m.addEntity(QStringLiteral("B"), {});
                             m.addEntity(QStringLiteral("A"), {}).addToMany(QStringLiteral("bs"), QStringLiteral("B"), QString());
                         }},
        InvalidModelCase{"InverseNameMismatch", [](TDWManagedObjectModel &m) { parentChild(m, QStringLiteral("owner")); }},
        InvalidModelCase{"ToOneBothWays",
                         [](TDWManagedObjectModel &m) {
                             m.addEntity(QStringLiteral("A"), {}).addToOne(QStringLiteral("b"), QStringLiteral("B"), QStringLiteral("a"));
                             m.addEntity(QStringLiteral("B"), {}).addToOne(QStringLiteral("a"), QStringLiteral("A"), QStringLiteral("b"));
                         }},
        InvalidModelCase{"LinkAcrossConfigurations",
                         [](TDWManagedObjectModel &m) {
                             m.addEntity(QStringLiteral("A"), {QStringLiteral("master")}).addToOne(QStringLiteral("b"), QStringLiteral("B"));
                             m.addEntity(QStringLiteral("B"), {QStringLiteral("other")});
                         }},
        InvalidModelCase{"IndexOnUnknownKey",
                         [](TDWManagedObjectModel &m) { m.addEntity(QStringLiteral("A"), {}).addIndex({QStringLiteral("nope")}); }},
        InvalidModelCase{"FoldedIndexWithoutKey",
                         [](TDWManagedObjectModel &m) {
                             m.addEntity(QStringLiteral("A"), {}).addAttribute(QStringLiteral("t"), TDWAttributeType::String).addIndex({QStringLiteral("t[c]")});
                         }},
        InvalidModelCase{"FoldedKeyOnNumber",
                         [](TDWManagedObjectModel &m) {
                             m.addEntity(QStringLiteral("A"), {}).addAttribute(QStringLiteral("n"), TDWAttributeType::Integer, {.caseInsensitiveKey = true});
                         }}),
    [](const ::testing::TestParamInfo<InvalidModelCase> &info) { return std::string(info.param.name); });

TEST(ManagedObjectModel, ConfigurationsSelectTheirEntitiesAndEmptyMeansAll)
{
    const auto model = storetest::model();
    QStringList main;
    for (const TDWEntityDescription *entity : model->entitiesForConfiguration(QStringLiteral("main")))
        main.append(entity->name());
    EXPECT_EQ(main, (QStringList{QStringLiteral("Owner"), QStringLiteral("Setting")}));
    EXPECT_EQ(model->entitiesForConfiguration(QString()).size(), model->entityCount());
    EXPECT_TRUE(model->hasConfiguration(QStringLiteral("library")));
    EXPECT_FALSE(model->hasConfiguration(QStringLiteral("nope")));
}

TEST(ManagedObjectModel, SlotsHoldAttributesThenToOneRelationships)
{
    const TDWEntityDescription &version = *storetest::model()->entity(QStringLiteral("Version"));
    EXPECT_EQ(version.slotCount(), 5);
    EXPECT_EQ(version.keyForSlot(version.slotForKey(QStringLiteral("item"))), QStringLiteral("item"));
    EXPECT_GE(version.slot(version.slotForKey(QStringLiteral("item"))).relationship, 0);
    EXPECT_EQ(version.slotForKey(QStringLiteral("nope")), -1);
    // To-many relationships have no slot: they are read through their inverse.
    EXPECT_EQ(storetest::model()->entity(QStringLiteral("Item"))->slotForKey(QStringLiteral("versions")), -1);
}

TEST(ManagedObjectModel, VersionHashFollowsTheStoredLayoutOnly)
{
    const auto model = storetest::model();
    const auto changed = storetest::changedModel();
    // A changed attribute type changes the layout of its configuration only.
    EXPECT_NE(model->versionHash(QStringLiteral("library")), changed->versionHash(QStringLiteral("library")));
    EXPECT_EQ(model->versionHash(QStringLiteral("main")), changed->versionHash(QStringLiteral("main")));

    // Indexes and delete rules are not part of the layout.
    auto build = [](bool indexed, TDWDeleteRule rule) {
        auto m = std::make_shared<TDWManagedObjectModel>(QStringLiteral("x"));
        m->addEntity(QStringLiteral("A"), {QStringLiteral("c")})
            .addAttribute(QStringLiteral("name"), TDWAttributeType::String, {.indexed = indexed})
            .addToMany(QStringLiteral("bs"), QStringLiteral("B"), QStringLiteral("a"), rule);
        m->addEntity(QStringLiteral("B"), {QStringLiteral("c")}).addToOne(QStringLiteral("a"), QStringLiteral("A"), QStringLiteral("bs"));
        EXPECT_TRUE(m->finalize(nullptr));
        return m;
    };
    const auto plain = build(false, TDWDeleteRule::Nullify);
    const auto indexed = build(true, TDWDeleteRule::Cascade);
    EXPECT_EQ(plain->versionHash(QStringLiteral("c")), indexed->versionHash(QStringLiteral("c")));
    EXPECT_NE(plain->indexHash(QStringLiteral("c")), indexed->indexHash(QStringLiteral("c")));
}

} // namespace
