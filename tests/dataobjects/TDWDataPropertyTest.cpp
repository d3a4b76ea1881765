#include "DataObjectsTestSupport.h"

#include "TestSupport.h"
#include "dataobjects/TDWDataProperty.h"
#include "dataobjects/TDWEntityFetch.h"

#include <gtest/gtest.h>

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QString Name = QStringLiteral("lastChangeId");

class TDWDataPropertyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        stack.addAccount(Alice);
        docs = stack.store(Alice, QStringLiteral("docs"));
        mail = stack.store(Alice, QStringLiteral("mail"));
        ASSERT_TRUE(docs && mail);
    }

    QStringList valuesIn(const TDWPersistentStorePtr &store)
    {
        QStringList values;
        const auto all = TDWEntityFetch(*stack.moc, QStringLiteral("DataProperty")).in(store).objects<TDWDataProperty>(nullptr);
        for (const auto &property : all.value_or(QList<TDWDataProperty::Ptr>()))
            values << property->tdwPropertyName() + QLatin1Char('=') + property->tdwPropertyValue();
        return values;
    }

    dotest::MetadataStack stack;
    TDWPersistentStorePtr docs;
    TDWPersistentStorePtr mail;
};

TEST_F(TDWDataPropertyTest, SetGetRemoveWithinOneStore)
{
    tdwtest::LogCapture log;
    EXPECT_TRUE(TDWDataProperty::propertyValueForName(Name, docs, *stack.moc).isNull());
    TDWDataProperty::removePropertyForName(Name, docs, *stack.moc);

    TDWDataProperty::setPropertyValue(QStringLiteral("41"), Name, docs, *stack.moc);
    TDWDataProperty::setPropertyValue(QStringLiteral("42"), Name, docs, *stack.moc);
    TDWDataProperty::setPropertyValue(QStringLiteral("7"), Name, mail, *stack.moc);
    ASSERT_TRUE(stack.moc->save(nullptr));
    EXPECT_EQ(valuesIn(docs), QStringList{QStringLiteral("lastChangeId=42")});
    EXPECT_EQ(TDWDataProperty::propertyValueForName(Name, mail, *stack.moc), QStringLiteral("7"));

    TDWDataProperty::removePropertyForName(Name, mail, *stack.moc);
    ASSERT_TRUE(stack.moc->save(nullptr));
    EXPECT_TRUE(valuesIn(mail).isEmpty());
    EXPECT_EQ(TDWDataProperty::propertyValueForName(Name, docs, *stack.moc), QStringLiteral("42"));
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(TDWDataPropertyTest, DuplicatesReadAsAbsentAndRepairOnTheNextSet)
{
    for (const QString &value : {QStringLiteral("1"), QStringLiteral("2")}) {
        auto property = TDWDataProperty::newWithMoc(*stack.moc, docs);
        property->setTdwPropertyName(Name);
        property->setTdwPropertyValue(value);
    }
    ASSERT_TRUE(stack.moc->save(nullptr));
    tdwtest::LogCapture log;
    EXPECT_TRUE(TDWDataProperty::propertyValueForName(Name, docs, *stack.moc).isNull());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Multiple property values for property lastChangeId")));

    TDWDataProperty::setPropertyValue(QStringLiteral("3"), Name, docs, *stack.moc);
    ASSERT_TRUE(stack.moc->save(nullptr));
    EXPECT_EQ(log.lines().filter(QStringLiteral("ERROR: Multiple property values with name lastChangeId")).size(), 1);
    EXPECT_EQ(valuesIn(docs), QStringList{QStringLiteral("lastChangeId=3")});
}

TEST_F(TDWDataPropertyTest, NewPropertiesNeedAStoreOfTheirKind)
{
    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWDataProperty::newWithMoc(*stack.moc, nullptr));
    EXPECT_FALSE(TDWDataProperty::newWithMoc(*stack.moc, stack.storeMgr->masterStore()));
    EXPECT_FALSE(stack.moc->hasChanges());
    EXPECT_EQ(log.lines().size(), 2);
}

} // namespace
