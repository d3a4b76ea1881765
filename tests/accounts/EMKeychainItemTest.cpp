#include "accounts/emkeychain/EMGenericKeychainItem.h"

#include "KeychainFixture.h"

#include <stdexcept>

namespace {

#define EMKeychainItemTest TDW_KEYRING_SUITE(EMKeychainItemTest)
using EMKeychainItemTest = KeychainFixture;

TEST_F(EMKeychainItemTest, FindWithoutServiceOrAccountAsksNothing)
{
    const struct {
        const char *what;
        QString service;
        QString account;
    } cases[] = {
        {"no service", QString(), QStringLiteral("a@example.com")},
        {"no account", QStringLiteral("s"), QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TDWKeyringStatus status = TDWKeyringStatus::Found;
        EXPECT_EQ(EMGenericKeychainItem::genericKeychainItemForService(c.service, c.account, &status), nullptr);
        EXPECT_EQ(status, TDWKeyringStatus::NotFound);
    }
    EXPECT_EQ(scripted->finds, 0);
}

TEST_F(EMKeychainItemTest, FindReadsTheItemAndItsPassword)
{
    const struct {
        const char *what;
        QString service;
        QByteArray bytes;
        QString password; // null: not text
    } cases[] = {
        {"text", QStringLiteral("Tidewell: plain (Google Account)"), "s3cret", QStringLiteral("s3cret")},
        {"non-ASCII service name", QStringLiteral("Tidewell: zoë (Google Account)"), "pässwörd", QStringLiteral("pässwörd")},
        {"empty password", QStringLiteral("empty"), "", QStringLiteral("")},
        {"bytes that are not UTF-8", QStringLiteral("binary"), "ab\xff\xfe", QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(real->store(c.service, user(), c.bytes, nullptr));
        TDWKeyringStatus status;
        const auto item = EMGenericKeychainItem::genericKeychainItemForService(c.service, user(), &status);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(status, TDWKeyringStatus::Found);
        EXPECT_EQ(item->serviceName(), c.service);
        EXPECT_EQ(item->username(), user());
        EXPECT_EQ(item->password(), c.password);
        EXPECT_EQ(item->password().isNull(), c.password.isNull());
    }
}

TEST_F(EMKeychainItemTest, FindTellsMissingFromUnavailable)
{
    TDWKeyringStatus status;
    EXPECT_EQ(EMGenericKeychainItem::genericKeychainItemForService(QStringLiteral("s"), user(), &status), nullptr);
    EXPECT_EQ(status, TDWKeyringStatus::NotFound);

    ASSERT_TRUE(real->store(QStringLiteral("s"), user(), "x", nullptr));
    scripted->unavailable = true;
    TDWError error;
    EXPECT_EQ(EMGenericKeychainItem::genericKeychainItemForService(QStringLiteral("s"), user(), &status, &error), nullptr);
    EXPECT_EQ(status, TDWKeyringStatus::Unavailable);
    EXPECT_EQ(error.code(), TDWKeyringError::Locked);
}

TEST_F(EMKeychainItemTest, AddRefusesAnItemInTheWayUntilItIsRemoved)
{
    const QString service = QStringLiteral("Tidewell: %1 (Google Account)").arg(user());
    auto first = EMGenericKeychainItem::addGenericKeychainItemForService(service, user(), QStringLiteral("one"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->password(), QStringLiteral("one"));

    TDWError error;
    EXPECT_EQ(EMGenericKeychainItem::addGenericKeychainItemForService(service, user(), QStringLiteral("two"), &error), nullptr);
    EXPECT_EQ(error.code(), TDWKeyringError::ItemExists);
    EXPECT_EQ(stored(service, user()), "one");

    EXPECT_TRUE(first->removeFromKeychain());
    const auto second = EMGenericKeychainItem::addGenericKeychainItemForService(service, user(), QStringLiteral("two"));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(stored(service, user()), "two");
}

TEST_F(EMKeychainItemTest, AddOfAnAbsentValueStoresNothing)
{
    EXPECT_EQ(EMGenericKeychainItem::addGenericKeychainItemForService(QStringLiteral("s"), user(), QString()), nullptr);
    EXPECT_EQ(EMGenericKeychainItem::addGenericKeychainItemForService(QString(), user(), QStringLiteral("p")), nullptr);
    TDWKeyringStatus status;
    stored(QStringLiteral("s"), user(), &status);
    EXPECT_EQ(status, TDWKeyringStatus::NotFound);
}

TEST_F(EMKeychainItemTest, SetPasswordReplacesTheStoredOneOrKeepsIt)
{
    auto item = EMGenericKeychainItem::addGenericKeychainItemForService(QStringLiteral("s"), user(), QStringLiteral("old"));
    ASSERT_NE(item, nullptr);

    scripted->refuseStores = true;
    TDWError error;
    EXPECT_FALSE(item->setPassword(QStringLiteral("refused"), &error));
    EXPECT_EQ(error.code(), TDWKeyringError::WriteFailed);
    EXPECT_EQ(item->password(), QStringLiteral("old"));
    EXPECT_EQ(stored(QStringLiteral("s"), user()), "old");

    scripted->refuseStores = false;
    EXPECT_TRUE(item->setPassword(QStringLiteral("new")));
    EXPECT_EQ(item->password(), QStringLiteral("new"));
    EXPECT_EQ(stored(QStringLiteral("s"), user()), "new");
}

TEST_F(EMKeychainItemTest, SetPasswordReplacesAPasswordThatWasNotText)
{
    ASSERT_TRUE(real->store(QStringLiteral("s"), user(), "\xff", nullptr));
    const auto item = EMGenericKeychainItem::genericKeychainItemForService(QStringLiteral("s"), user());
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->setPassword(QStringLiteral("")));
    TDWKeyringStatus status;
    EXPECT_EQ(stored(QStringLiteral("s"), user(), &status), QByteArray());
    EXPECT_EQ(status, TDWKeyringStatus::Found);
}

TEST_F(EMKeychainItemTest, RemovedItemCannotBeUsedAgain)
{
    auto item = EMGenericKeychainItem::addGenericKeychainItemForService(QStringLiteral("s"), user(), QStringLiteral("p"));
    ASSERT_NE(item, nullptr);

    scripted->unavailable = true;
    EXPECT_FALSE(item->removeFromKeychain());
    scripted->unavailable = false;
    EXPECT_EQ(stored(QStringLiteral("s"), user()), "p");

    EXPECT_TRUE(item->removeFromKeychain());
    TDWKeyringStatus status;
    stored(QStringLiteral("s"), user(), &status);
    EXPECT_EQ(status, TDWKeyringStatus::NotFound);
    EXPECT_THROW(item->removeFromKeychain(), std::logic_error);
    EXPECT_THROW(item->setPassword(QStringLiteral("again")), std::logic_error);
}

TEST_F(EMKeychainItemTest, FailuresAreLoggedOnlyWhenAskedTo)
{
    for (const bool logs : {false, true}) {
        SCOPED_TRACE(logs);
        EMKeychainItem::setLogsErrors(logs);
        tdwtest::LogCapture log;
        EMGenericKeychainItem::genericKeychainItemForService(QStringLiteral("missing"), user());
        EXPECT_EQ(log.contains(QStringLiteral("Error (genericKeychainItemForService) - ")), logs);
    }
    EMKeychainItem::setLogsErrors(false);
}

} // namespace
