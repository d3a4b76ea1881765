#include "accounts/TDWKeychainMgr.h"

#include "KeychainFixture.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <condition_variable>
#include <thread>

namespace {

const QDateTime NewYear2014(QDate(2014, 1, 1), QTime(0, 0), Qt::UTC);

#define TDWKeychainMgrTest TDW_KEYRING_SUITE(TDWKeychainMgrTest)
class TDWKeychainMgrTest : public KeychainFixture
{
protected:
    QString credentialService() const { return TDWKeychainMgr::oauthServiceNameForUsername(user()); }
    QString passwordService() const { return TDWKeychainMgr::passwordServiceNameForUsername(user()); }

    static std::shared_ptr<TDWCredential> credential(const QString &refreshToken)
    {
        auto made = std::make_shared<TDWCredential>();
        made->setRefreshToken(refreshToken);
        made->setAccessToken(QStringLiteral("access for ") + refreshToken);
        made->setAccessTokenExpires(NewYear2014);
        made->setServiceIds({QStringLiteral("mail")});
        return made;
    }

    TDWKeychainMgr mgr;
};

TEST_F(TDWKeychainMgrTest, ItemNamesCarryTheUserName)
{
    EXPECT_EQ(TDWKeychainMgr::oauthServiceNameForUsername(QStringLiteral("a@example.com")),
              QStringLiteral("Tidewell credential for a@example.com (Google Account)"));
    EXPECT_EQ(TDWKeychainMgr::passwordServiceNameForUsername(QStringLiteral("a@example.com")),
              QStringLiteral("Tidewell: a@example.com (Google Account)"));
    EXPECT_EQ(TDWKeychainMgr::keychainMgr(), TDWKeychainMgr::keychainMgr());
}

TEST_F(TDWKeychainMgrTest, SavedCredentialIsTheSharedObjectAndReadsBackFromTheItem)
{
    auto saved = std::make_shared<TDWCredential>();
    saved->setRefreshTokenInvalid(true);
    ASSERT_TRUE(mgr.setCredential(saved, user(), true));
    EXPECT_EQ(QJsonDocument::fromJson(stored(credentialService(), user())).object(),
              QJsonDocument::fromJson(R"({"refreshTokenInvalid": true})").object());

    // This manager hands out the saved object itself, and every holder sees
    // a change to it at once, saved or not.
    TDWKeychainLookup outcome = TDWKeychainLookup::NotFound;
    const auto first = mgr.credentialForUsername(user(), &outcome);
    EXPECT_EQ(outcome, TDWKeychainLookup::Found);
    EXPECT_EQ(first, saved);
    EXPECT_FALSE(first->accessTokenExpired());
    first->setAccessToken(QStringLiteral("changed"));
    EXPECT_EQ(mgr.credentialForUsername(user())->accessToken(), QStringLiteral("changed"));

    // A manager with an empty cache reads the item.
    TDWKeychainMgr fresh;
    const auto read = fresh.credentialForUsername(user(), &outcome);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(outcome, TDWKeychainLookup::Found);
    EXPECT_NE(read, saved);
    EXPECT_TRUE(read->refreshTokenInvalid());
    EXPECT_TRUE(read->refreshToken().isNull());
    EXPECT_TRUE(read->accessToken().isNull());
    EXPECT_EQ(read->accessTokenExpires(), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_TRUE(read->accessTokenExpired());
    EXPECT_EQ(fresh.credentialForUsername(user()), read);
}

TEST_F(TDWKeychainMgrTest, StoredExpiryTextRoundTrips)
{
    ASSERT_TRUE(real->store(credentialService(), user(), R"({"refreshToken": "1//r", "accessTokenExpires": "410227200.000000"})", nullptr));
    const auto read = mgr.credentialForUsername(user());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->accessTokenExpires(), NewYear2014);
    read->setAccessToken(QStringLiteral("renewed"));
    ASSERT_TRUE(mgr.setCredential(read, user(), true));
    const QJsonObject object = QJsonDocument::fromJson(stored(credentialService(), user())).object();
    EXPECT_EQ(object.value(QStringLiteral("accessTokenExpires")).toString(), QStringLiteral("410227200.000000"));
    EXPECT_EQ(object.value(QStringLiteral("refreshToken")).toString(), QStringLiteral("1//r"));
}

TEST_F(TDWKeychainMgrTest, LookupTellsFoundMissingAndUnavailableApart)
{
    const struct {
        const char *what;
        const char *item; // nullptr: no item
        bool keyringUnavailable;
        TDWKeychainLookup outcome;
        QString logged; // empty: nothing
    } cases[] = {
        {"a credential", R"({"refreshToken": "1//r"})", false, TDWKeychainLookup::Found, {}},
        {"no item", nullptr, false, TDWKeychainLookup::NotFound, {}},
        {"a keyring that cannot answer", R"({"refreshToken": "1//r"})", true, TDWKeychainLookup::Unavailable,
         QStringLiteral("ERROR: Unable to read the keychain item for %1: ")},
        {"an item that is not text", "{\xff}", false, TDWKeychainLookup::Unavailable,
         QStringLiteral("ERROR: Found keychain item for %1 but password was nil.")},
        {"a JSON array", R"(["refreshToken", "1//r"])", false, TDWKeychainLookup::Unavailable,
         QStringLiteral("ERROR: Unable to parse credentials out of keychain item.")},
        {"text that is not JSON", "refresh=1//r", false, TDWKeychainLookup::Unavailable,
         QStringLiteral("ERROR: Unable to parse credentials out of keychain item.")},
    };
    int row = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QString username = user(QString::number(++row));
        if (c.item) {
            ASSERT_TRUE(real->store(TDWKeychainMgr::oauthServiceNameForUsername(username), username, c.item, nullptr));
        }
        scripted->unavailable = c.keyringUnavailable;
        tdwtest::LogCapture log;
        TDWKeychainMgr fresh;
        TDWKeychainLookup outcome = TDWKeychainLookup::Found;
        const auto credential = fresh.credentialForUsername(username, &outcome);
        scripted->unavailable = false;
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(credential != nullptr, c.outcome == TDWKeychainLookup::Found);
        if (c.logged.isEmpty()) {
            EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(QLatin1Char('\n')).toStdString();
        } else {
            EXPECT_TRUE(log.contains(c.logged.arg(username))) << log.lines().join(QLatin1Char('\n')).toStdString();
        }
    }
}

TEST_F(TDWKeychainMgrTest, FailedLookupIsNotCached)
{
    EXPECT_EQ(mgr.credentialForUsername(user()), nullptr);
    scripted->unavailable = true;
    EXPECT_EQ(mgr.credentialForUsername(user()), nullptr);
    scripted->unavailable = false;
    ASSERT_TRUE(real->store(credentialService(), user(), R"({"refreshToken": "1//late"})", nullptr));
    const auto read = mgr.credentialForUsername(user());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->refreshToken(), QStringLiteral("1//late"));
}

TEST_F(TDWKeychainMgrTest, FailedSaveKeepsTheStoredItemAndTheCache)
{
    const struct {
        const char *what;
        bool itemBefore;
        bool refuseStores;
        bool unavailable;
    } cases[] = {
        {"replacing, the write refused", true, true, false},
        {"replacing, the keyring unavailable", true, false, true},
        {"adding, the write refused", false, true, false},
        {"adding, the keyring unavailable", false, false, true},
    };
    int row = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QString username = user(QString::number(++row));
        const QString service = TDWKeychainMgr::oauthServiceNameForUsername(username);
        const auto good = credential(QStringLiteral("1//good"));
        if (c.itemBefore) {
            ASSERT_TRUE(mgr.setCredential(good, username, true));
        }
        const QByteArray before = stored(service, username);

        scripted->refuseStores = c.refuseStores;
        scripted->unavailable = c.unavailable;
        tdwtest::LogCapture log;
        EXPECT_FALSE(mgr.setCredential(credential(QStringLiteral("1//new")), username, true));
        scripted->refuseStores = false;
        scripted->unavailable = false;

        EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to save the keychain item for %1: ").arg(username)));
        for (const QString &line : log.lines()) {
            EXPECT_FALSE(line.contains(QStringLiteral("1//"))) << "a token in the log: " << line.toStdString();
        }
        TDWKeyringStatus status;
        EXPECT_EQ(stored(service, username, &status), before);
        EXPECT_EQ(status, c.itemBefore ? TDWKeyringStatus::Found : TDWKeyringStatus::NotFound);
        EXPECT_EQ(mgr.credentialForUsername(username), c.itemBefore ? good : nullptr);
    }
}

TEST_F(TDWKeychainMgrTest, SaveReplacesTheItemWithoutRemovingItFirst)
{
    ASSERT_TRUE(mgr.setCredential(credential(QStringLiteral("1//first")), user(), false));
    const auto second = credential(QStringLiteral("1//second"));
    ASSERT_TRUE(mgr.setCredential(second, user(), false));
    // A removal on the way would leave the account without a credential
    // whenever the new one failed to go in.
    EXPECT_EQ(scripted->removes, 0);
    EXPECT_EQ(TDWKeychainMgr().credentialForUsername(user())->refreshToken(), QStringLiteral("1//second"));
    EXPECT_EQ(mgr.credentialForUsername(user()), second);
}

TEST_F(TDWKeychainMgrTest, DeleteRemovesTheItemAndTheCacheEntry)
{
    ASSERT_TRUE(mgr.setCredential(credential(QStringLiteral("1//r")), user(), true));
    mgr.deleteCredentialForUsername(user());
    TDWKeychainLookup outcome = TDWKeychainLookup::Found;
    EXPECT_EQ(mgr.credentialForUsername(user(), &outcome), nullptr);
    EXPECT_EQ(outcome, TDWKeychainLookup::NotFound);

    tdwtest::LogCapture log;
    mgr.deleteCredentialForUsername(user());
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("ERROR: Null keychainItem in deleteCredentialForUsername")});
}

TEST_F(TDWKeychainMgrTest, LegacyPasswordIsFoundCachedAndDeleted)
{
    tdwtest::LogCapture log;
    TDWKeychainLookup outcome = TDWKeychainLookup::Found;
    EXPECT_TRUE(mgr.passwordForUsername(user(), &outcome).isNull());
    EXPECT_EQ(outcome, TDWKeychainLookup::NotFound);
    EXPECT_FALSE(mgr.deletePasswordForUsername(user()));
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("ERROR: Null keychainItem in deletePasswordForUsername")});

    ASSERT_TRUE(real->store(passwordService(), user(), "imap-pässword", nullptr));
    EXPECT_EQ(mgr.passwordForUsername(user(), &outcome), QStringLiteral("imap-pässword"));
    EXPECT_EQ(outcome, TDWKeychainLookup::Found);

    // A cached password answers first and never reaches the keyring.
    mgr.cachePassword(QStringLiteral("typed"), user());
    EXPECT_EQ(mgr.passwordForUsername(user()), QStringLiteral("typed"));
    EXPECT_EQ(stored(passwordService(), user()), "imap-pässword");
    const QString other = user(QStringLiteral("other"));
    mgr.cachePassword(QStringLiteral("only cached"), other);
    TDWKeyringStatus status;
    stored(TDWKeychainMgr::passwordServiceNameForUsername(other), other, &status);
    EXPECT_EQ(status, TDWKeyringStatus::NotFound);

    EXPECT_TRUE(mgr.deletePasswordForUsername(user()));
    stored(passwordService(), user(), &status);
    EXPECT_EQ(status, TDWKeyringStatus::NotFound);
    EXPECT_TRUE(mgr.passwordForUsername(user()).isNull());
}

TEST_F(TDWKeychainMgrTest, LegacyPasswordOfAnUnavailableKeyringIsNotMissing)
{
    ASSERT_TRUE(real->store(passwordService(), user(), "imap", nullptr));
    scripted->unavailable = true;
    TDWKeychainLookup outcome = TDWKeychainLookup::Found;
    EXPECT_TRUE(mgr.passwordForUsername(user(), &outcome).isNull());
    EXPECT_EQ(outcome, TDWKeychainLookup::Unavailable);
    EXPECT_FALSE(mgr.deletePasswordForUsername(user()));
    scripted->unavailable = false;
    EXPECT_EQ(stored(passwordService(), user()), "imap");
}

TEST_F(TDWKeychainMgrTest, ConcurrentLookupsOfOneAccountReadTheKeyringOnce)
{
    ASSERT_TRUE(real->store(credentialService(), user(), R"({"refreshToken": "1//r"})", nullptr));
    // The first find waits for a second one to arrive; with the manager's
    // lock held across the read, none does and the wait runs out.
    std::mutex mutex;
    std::condition_variable arrived;
    int inside = 0;
    scripted->duringFind = [&] {
        std::unique_lock lock(mutex);
        ++inside;
        arrived.notify_all();
        arrived.wait_for(lock, std::chrono::milliseconds(300), [&] { return inside >= 2; });
    };
    std::shared_ptr<TDWCredential> results[2];
    std::thread a([&] { results[0] = mgr.credentialForUsername(user()); });
    std::thread b([&] { results[1] = mgr.credentialForUsername(user()); });
    a.join();
    b.join();
    scripted->duringFind = nullptr;
    EXPECT_EQ(scripted->finds, 1);
    ASSERT_NE(results[0], nullptr);
    EXPECT_EQ(results[0], results[1]);
}

} // namespace
