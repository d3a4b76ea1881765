#include "DataObjectsTestSupport.h"

#include "TestSupport.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWClock.h"

#include <gtest/gtest.h>

namespace {

using dotest::at;

const QString Limit = QStringLiteral("limitGoogleDocsAttr");
const QString Locked = QStringLiteral("lockedDownKeychainAttr");
const QString ArchiveKey = QStringLiteral("extensiblePropertiesData");

class ExtensiblePropertiesTest : public ::testing::Test
{
protected:
    // A saved account whose extensible properties hold only what the test sets.
    TDWAccount::Ptr savedAccount(const QString &username)
    {
        auto account = stack.moc->insertNew<TDWAccount>(QStringLiteral("Account"));
        account->setUsername(username);
        EXPECT_TRUE(stack.moc->save(nullptr));
        return account;
    }

    dotest::MetadataStack stack;
};

TEST_F(ExtensiblePropertiesTest, FreshObjectHasNoPropertiesAndNoArchiveUntilTheFirstWrite)
{
    auto account = stack.moc->insertNew<TDWAccount>(QStringLiteral("Account"));
    EXPECT_TRUE(account->extensibleProperties().isEmpty());
    EXPECT_TRUE(account->extensiblePropertyForKey(Limit).isNull());
    EXPECT_TRUE(account->value(ArchiveKey).isNull());

    account->setUsername(QStringLiteral("a@example.com"));
    account->setLimitGoogleDocs(true);
    ASSERT_TRUE(stack.moc->save(nullptr));
    // The archive is JSON text that another reader can take apart.
    EXPECT_EQ(dotest::sqlite(stack.coordinator->persistentStores().first()->path(),
                             QStringLiteral("SELECT json_extract(extensiblePropertiesData, '$.limitGoogleDocsAttr') FROM Account")),
              QStringLiteral("1"));
}

TEST_F(ExtensiblePropertiesTest, KeyValueAccessReachesAttributesExtensibleKeysAndNothingElse)
{
    auto account = savedAccount(QStringLiteral("a@example.com"));
    account->setKeyValue(true, Limit);
    account->setKeyValue(true, Locked);
    EXPECT_EQ(account->keyValue(QStringLiteral("username")), QVariant(QStringLiteral("a@example.com")));
    EXPECT_EQ(account->keyValue(Limit), QVariant(true));

    // Null removes the key from the archive itself.
    account->setKeyValue(QVariant(), Limit);
    EXPECT_EQ(account->archivedExtensibleProperties(), std::optional<QVariantMap>(QVariantMap{{Locked, true}}));

    tdwtest::LogCapture log;
    account->setKeyValue(QStringLiteral("x"), QStringLiteral("notAKey"));
    EXPECT_TRUE(account->keyValue(QStringLiteral("notAKey")).isNull());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Account has no key \"notAKey\"")));
    EXPECT_EQ(account->extensibleProperties(), (QVariantMap{{Locked, true}}));
}

TEST_F(ExtensiblePropertiesTest, SeveralPropertiesSetAtOnceAddReplaceAndRemoveKeys)
{
    auto account = savedAccount(QStringLiteral("a@example.com"));
    account->setExtensibleProperty(true, Limit);
    account->setExtensibleProperty(QStringLiteral("kept"), QStringLiteral("other"));
    account->setExtensibleProperties({{Limit, QVariant()}, {Locked, true}, {QStringLiteral("other"), 7}});
    const QVariantMap expected{{Locked, true}, {QStringLiteral("other"), 7}};
    EXPECT_EQ(account->extensibleProperties(), expected);
    EXPECT_EQ(account->archivedExtensibleProperties(), std::optional<QVariantMap>(expected));
    ASSERT_TRUE(stack.moc->save(nullptr));
    auto other = TDWMasterStore::shared().newMoc();
    EXPECT_EQ(TDWAccount::byUsername(QStringLiteral("a@example.com"), *other, nullptr)->extensibleProperties(), expected);
}

TEST_F(ExtensiblePropertiesTest, CachedPropertiesFollowRollbackAndOtherContextsSaves)
{
    auto account = savedAccount(QStringLiteral("a@example.com"));
    account->setLimitGoogleDocs(true);
    ASSERT_TRUE(stack.moc->save(nullptr));
    account->setLimitGoogleDocs(false);
    EXPECT_FALSE(account->limitGoogleDocs());
    stack.moc->rollback();
    EXPECT_TRUE(account->limitGoogleDocs());

    auto other = TDWMasterStore::shared().newMoc();
    auto elsewhere = TDWAccount::byUsername(QStringLiteral("a@example.com"), *other, nullptr);
    elsewhere->setLockedDownKeychain(true);
    ASSERT_TRUE(other->save(nullptr));
    stack.moc->refreshObject(account, true);
    EXPECT_TRUE(account->lockedDownKeychain());
}

TEST_F(ExtensiblePropertiesTest, UnreadableArchiveLogsOncePerReadingAndIsReplacedByTheNextWrite)
{
    savedAccount(QStringLiteral("a@example.com"));
    const QString path = stack.coordinator->persistentStores().first()->path();
    ASSERT_EQ(dotest::sqlite(path, QStringLiteral("UPDATE Account SET extensiblePropertiesData = 'not json {'")), QString());

    auto moc = TDWMasterStore::shared().newMoc();
    auto account = TDWAccount::byUsername(QStringLiteral("a@example.com"), *moc, nullptr);
    tdwtest::LogCapture log;
    EXPECT_TRUE(account->extensibleProperties().isEmpty());
    EXPECT_FALSE(account->limitGoogleDocs());
    EXPECT_EQ(log.lines().count(QStringLiteral("ERROR: Unable to read extensible archive data.")), 1);
    EXPECT_EQ(account->value(ArchiveKey).toByteArray(), QByteArray("not json {"));

    account->setLockedDownKeychain(true);
    ASSERT_TRUE(moc->save(nullptr));
    EXPECT_EQ(dotest::sqlite(path, QStringLiteral("SELECT extensiblePropertiesData FROM Account")),
              QStringLiteral("{\"lockedDownKeychainAttr\":true}"));
}

TEST_F(ExtensiblePropertiesTest, CommittedValuesCarryCommittedPropertiesUnderTheAttributes)
{
    auto account = savedAccount(QStringLiteral("a@example.com"));
    account->setLimitGoogleDocs(true);
    ASSERT_TRUE(stack.moc->save(nullptr));
    account->setLimitGoogleDocs(false); // unsaved: not committed
    account->setUsername(QStringLiteral("b@example.com"));

    const QVariantMap all = account->committedValuesForKeys({}, true);
    EXPECT_EQ(all.value(Limit), QVariant(true));
    EXPECT_EQ(all.value(QStringLiteral("username")), QVariant(QStringLiteral("a@example.com")));
    EXPECT_FALSE(all.contains(ArchiveKey));

    EXPECT_EQ(account->committedValuesForKeys({Limit}, true), (QVariantMap{{Limit, true}}));
    EXPECT_TRUE(account->committedValuesForKeys({Limit, ArchiveKey}, true).contains(ArchiveKey));
    EXPECT_FALSE(account->committedValuesForKeys({}, false).contains(Limit));

    const QVariantMap changed = account->changedValuesIncludingExtensibleProperties(true);
    EXPECT_EQ(changed.value(Limit), QVariant(false));
    EXPECT_FALSE(changed.contains(ArchiveKey));
    EXPECT_TRUE(account->changedValuesIncludingExtensibleProperties(false).contains(ArchiveKey));
}

TEST(ExtensibleModifiedKeys, ComparesBothSidesKeyByKey)
{
    using Map = std::optional<QVariantMap>;
    struct Case
    {
        Map before;
        Map after;
        QSet<QString> modified;
    };
    const QVariantMap ab{{QStringLiteral("a"), 1}, {QStringLiteral("b"), 2}};
    const QList<Case> cases{
        {std::nullopt, ab, {QStringLiteral("a"), QStringLiteral("b")}},
        {ab, std::nullopt, {QStringLiteral("a"), QStringLiteral("b")}},
        {ab, QVariantMap{{QStringLiteral("a"), 1}, {QStringLiteral("b"), 3}, {QStringLiteral("c"), 4}}, {QStringLiteral("b"), QStringLiteral("c")}},
        {ab, QVariantMap{{QStringLiteral("a"), 1}}, {QStringLiteral("b")}},
        {ab, ab, {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(KSExtensibleManagedObject::modifiedKeysBetweenDictionary(c.before, c.after), c.modified);
}

TEST_F(ExtensiblePropertiesTest, StampsInsertOnceAndEverySave)
{
    QDateTime now = at(1);
    TDWClock::setNowProvider([&now] { return now; });
    auto account = stack.moc->insertNew<TDWAccount>(QStringLiteral("Account"));
    account->setUsername(QStringLiteral("a@example.com"));
    now = at(2);
    ASSERT_TRUE(stack.moc->save(nullptr));
    now = at(3);
    account->setLastStatus(1);
    ASSERT_TRUE(stack.moc->save(nullptr));
    TDWClock::setNowProvider({});

    stack.reopen();
    auto stored = TDWAccount::byUsername(QStringLiteral("a@example.com"), *stack.moc, nullptr);
    EXPECT_EQ(stored->insertDate(), at(1));
    EXPECT_EQ(stored->modifiedDate(), at(3));
}

TEST_F(ExtensiblePropertiesTest, SameObjectAcrossContextsAndDeletedSets)
{
    auto account = savedAccount(QStringLiteral("a@example.com"));
    auto other = savedAccount(QStringLiteral("b@example.com"));
    auto moc = TDWMasterStore::shared().newMoc();
    auto again = TDWAccount::byUsername(QStringLiteral("a@example.com"), *moc, nullptr);
    EXPECT_TRUE(account->isSameObject(*again));
    EXPECT_FALSE(account->isSameObject(*other));

    tdwtest::LogCapture log;
    auto unsaved = stack.moc->insertNew<TDWAccount>(QStringLiteral("Account"));
    EXPECT_FALSE(unsaved->isSameObject(*account));
    EXPECT_FALSE(account->isSameObject(*unsaved));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: self objectid temporary in isSameObject")));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: argOther objectid temporary in isSameObject")));

    EXPECT_TRUE(TDWMetadataObject::allDeleted(QList<TDWManagedObjectPtr>()));
    stack.moc->deleteObject(account);
    EXPECT_FALSE(TDWMetadataObject::allDeleted(QList<TDWAccount::Ptr>{account, other}));
    stack.moc->deleteObject(other);
    EXPECT_TRUE(TDWMetadataObject::allDeleted(QList<TDWAccount::Ptr>{account, other}));
}

} // namespace
