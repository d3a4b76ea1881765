// The keyring layer against the store this run was started with (TDW_KEYRING):
// the file store, or gnome-keyring in a private session bus.
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"
#include "platform/keychain/TDWSecretServiceKeyring.h"

#include "TestSupport.h"

#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <gtest/gtest.h>

#include <cstring>

// The suite runs once per store. The build names the run (TDW_KEYRING_RUN:
// OnFile, OnSecretService) and it ends the suite name, so the tests of the two
// runs have names of their own.
#define TDW_KEYRING_CAT2(a, b) a##b
#define TDW_KEYRING_CAT(a, b) TDW_KEYRING_CAT2(a, b)
#define KeyringTest TDW_KEYRING_CAT(Keyring, TDW_KEYRING_RUN)

namespace {

class KeyringTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Each test gets a file store of its own; the Secret Service is one
        // per run, and each test uses service names of its own.
        if (TDWKeyring::backend()->name() == QStringLiteral("file"))
            TDWKeyring::setBackend(std::make_shared<TDWFileKeyring>(tdwtest::freshDir(QStringLiteral("keyring"))));
        keyring = TDWKeyring::backend();
    }

    bool onSecretService() const { return keyring->name() == QStringLiteral("secret-service"); }

    // A service name of this test alone: one keyring serves every test of a
    // program run.
    static QString serviceNamed(const QString &name)
    {
        return QStringLiteral("%1 %2").arg(QString::fromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name()), name);
    }

    std::shared_ptr<TDWKeyringBackend> keyring;
};

QByteArray secretOf(TDWKeyringBackend &keyring, const QString &service, const QString &account, TDWKeyringStatus *status)
{
    QByteArray secret;
    TDWError error;
    *status = keyring.find(service, account, &secret, &error);
    return secret;
}

// ---------------------------------------------------------------------------
// Finding, storing and removing

struct ItemCase {
    const char *what;
    QString service;
    QString account;
    QByteArray secret;
};

TEST_F(KeyringTest, StoresFindsAndRemovesItems)
{
    const ItemCase cases[] = {
        {"plain text", QStringLiteral("Tidewell credential for a@example.com (Google Account)"), QStringLiteral("a@example.com"),
         QByteArray(R"({"refreshToken":"1//r"})")},
        {"non-ASCII names", QStringLiteral("Tidewell credential for zoë@exämple.com (Google Account)"), QStringLiteral("zoë@exämple.com"),
         QByteArray("pässwörd")},
        {"bytes that are not UTF-8, with a NUL", QStringLiteral("binary"), QStringLiteral("b@example.com"), QByteArray("\xff\xfe\x00z", 4)},
        {"an empty secret", QStringLiteral("empty"), QStringLiteral("c@example.com"), QByteArray()},
    };
    for (const ItemCase &c : cases) {
        SCOPED_TRACE(c.what);
        const QString service = serviceNamed(c.service);
        TDWKeyringStatus status;
        secretOf(*keyring, service, c.account, &status);
        EXPECT_EQ(status, TDWKeyringStatus::NotFound);

        TDWError error;
        ASSERT_TRUE(keyring->store(service, c.account, c.secret, &error)) << error.description().toStdString();
        EXPECT_EQ(secretOf(*keyring, service, c.account, &status), c.secret);
        EXPECT_EQ(status, TDWKeyringStatus::Found);

        EXPECT_EQ(keyring->remove(service, c.account, &error), TDWKeyringStatus::Found);
        secretOf(*keyring, service, c.account, &status);
        EXPECT_EQ(status, TDWKeyringStatus::NotFound);
        EXPECT_EQ(keyring->remove(service, c.account, &error), TDWKeyringStatus::NotFound);
    }
}

TEST_F(KeyringTest, ItemsAreKeyedByServiceAndAccount)
{
    const QString service = serviceNamed(QStringLiteral("one"));
    const QString other = serviceNamed(QStringLiteral("two"));
    TDWError error;
    ASSERT_TRUE(keyring->store(service, QStringLiteral("a"), "service a", &error));
    ASSERT_TRUE(keyring->store(service, QStringLiteral("b"), "service b", &error));
    ASSERT_TRUE(keyring->store(other, QStringLiteral("a"), "other a", &error));
    // Names that merely contain each other are different names.
    ASSERT_TRUE(keyring->store(service + QStringLiteral("x"), QStringLiteral("a"), "longer", &error));

    EXPECT_EQ(keyring->remove(service, QStringLiteral("a"), &error), TDWKeyringStatus::Found);

    TDWKeyringStatus status;
    secretOf(*keyring, service, QStringLiteral("a"), &status);
    EXPECT_EQ(status, TDWKeyringStatus::NotFound);
    EXPECT_EQ(secretOf(*keyring, service, QStringLiteral("b"), &status), "service b");
    EXPECT_EQ(secretOf(*keyring, other, QStringLiteral("a"), &status), "other a");
    EXPECT_EQ(secretOf(*keyring, service + QStringLiteral("x"), QStringLiteral("a"), &status), "longer");
}

TEST_F(KeyringTest, StoringAgainReplacesTheOneItem)
{
    const QString service = serviceNamed(QStringLiteral("replace"));
    TDWError error;
    ASSERT_TRUE(keyring->store(service, QStringLiteral("a"), "first", &error));
    ASSERT_TRUE(keyring->store(service, QStringLiteral("a"), "second", &error));
    TDWKeyringStatus status;
    EXPECT_EQ(secretOf(*keyring, service, QStringLiteral("a"), &status), "second");

    if (onSecretService()) {
        // Exactly one item of our schema carries the pair.
        GError *raw = nullptr;
        GHashTable *attributes = g_hash_table_new(g_str_hash, g_str_equal);
        const QByteArray serviceBytes = service.toUtf8();
        g_hash_table_insert(attributes, gpointer("service"), gpointer(serviceBytes.constData()));
        g_hash_table_insert(attributes, gpointer("account"), gpointer("a"));
        g_hash_table_insert(attributes, gpointer("xdg:schema"), gpointer(TDWSecretServiceKeyring::SchemaName));
        GList *items = secret_service_search_sync(nullptr, nullptr, attributes, SECRET_SEARCH_ALL, nullptr, &raw);
        EXPECT_EQ(raw, nullptr);
        EXPECT_EQ(g_list_length(items), 1u);
        g_list_free_full(items, g_object_unref);
        g_hash_table_unref(attributes);
    } else {
        EXPECT_EQ(keyring->remove(service, QStringLiteral("a"), &error), TDWKeyringStatus::Found);
        secretOf(*keyring, service, QStringLiteral("a"), &status);
        EXPECT_EQ(status, TDWKeyringStatus::NotFound);
    }
}

// ---------------------------------------------------------------------------
// Choosing the store

TEST_F(KeyringTest, ChoiceFollowsTheVariableAndTheSessionBus)
{
    if (!onSecretService()) {
        // This program has not talked to a bus yet, so it can be pointed at
        // one that is not there.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tidewell-bus");
    }
    const QString automatic = onSecretService() ? QStringLiteral("secret-service") : QStringLiteral("file");
    const struct {
        QByteArray choice;
        QString expected;
        bool logsUnknown;
    } cases[] = {
        {"file", QStringLiteral("file"), false},
        {"secret-service", QStringLiteral("secret-service"), false},
        {"", automatic, false},
        {"kwallet", automatic, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.choice.constData());
        tdwtest::LogCapture log;
        EXPECT_EQ(TDWKeyring::makeBackend(c.choice)->name(), c.expected);
        EXPECT_EQ(log.contains(QStringLiteral("ERROR: Unknown keyring \"kwallet\" in TDW_KEYRING")), c.logsUnknown);
    }
    if (!onSecretService())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

// ---------------------------------------------------------------------------
// An unavailable store never passes for an empty one

TEST_F(KeyringTest, SecretServiceWithoutABusIsUnavailable)
{
    if (onSecretService())
        GTEST_SKIP() << "this program is connected to a Secret Service already";
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tidewell-bus");
    TDWSecretServiceKeyring secretService;
    TDWError error;
    QByteArray secret;
    EXPECT_EQ(secretService.find(QStringLiteral("s"), QStringLiteral("a"), &secret, &error), TDWKeyringStatus::Unavailable);
    EXPECT_EQ(error.code(), TDWKeyringError::ServiceUnavailable);
    error = {};
    EXPECT_FALSE(secretService.store(QStringLiteral("s"), QStringLiteral("a"), "x", &error));
    EXPECT_EQ(error.code(), TDWKeyringError::ServiceUnavailable);
    EXPECT_EQ(secretService.remove(QStringLiteral("s"), QStringLiteral("a"), &error), TDWKeyringStatus::Unavailable);
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

// gnome-keyring unlocks a collection only through a prompt, or through this
// interface of its own that takes the password.
void unlockWithPassword(SecretCollection *collection, const char *password)
{
    GError *raw = nullptr;
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw);
    ASSERT_NE(bus, nullptr);
    GVariant *opened = g_dbus_connection_call_sync(bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
                                                   "OpenSession", g_variant_new("(sv)", "plain", g_variant_new_string("")),
                                                   G_VARIANT_TYPE("(vo)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &raw);
    ASSERT_NE(opened, nullptr) << raw->message;
    GVariant *output = nullptr;
    const char *session = nullptr;
    g_variant_get(opened, "(v&o)", &output, &session);
    GVariant *secret = g_variant_new("(o@ay@ays)", session, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
                                     g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, password, std::strlen(password), 1), "text/plain");
    GVariant *unlocked = g_dbus_connection_call_sync(
        bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
        "UnlockWithMasterPassword", g_variant_new("(o@(oayays))", g_dbus_proxy_get_object_path(G_DBUS_PROXY(collection)), secret), nullptr,
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &raw);
    EXPECT_NE(unlocked, nullptr) << (raw ? raw->message : "");
    if (unlocked)
        g_variant_unref(unlocked);
    g_variant_unref(output);
    g_variant_unref(opened);
    g_object_unref(bus);
}

TEST_F(KeyringTest, LockedCollectionIsUnavailableAndKeepsItsItems)
{
    if (!onSecretService())
        GTEST_SKIP() << "only a Secret Service has collections to lock";
    const QString service = serviceNamed(QStringLiteral("locked"));
    TDWError error;
    ASSERT_TRUE(keyring->store(service, QStringLiteral("a"), "kept", &error));

    GError *raw = nullptr;
    SecretService *secretService = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &raw);
    ASSERT_NE(secretService, nullptr);
    SecretCollection *collection = secret_collection_for_alias_sync(secretService, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &raw);
    ASSERT_NE(collection, nullptr);
    GList *objects = g_list_append(nullptr, collection);
    ASSERT_EQ(secret_service_lock_sync(secretService, objects, nullptr, nullptr, &raw), 1);
    g_list_free(objects);

    TDWKeyringStatus status;
    secretOf(*keyring, service, QStringLiteral("a"), &status);
    EXPECT_EQ(status, TDWKeyringStatus::Unavailable) << "a stored item";
    secretOf(*keyring, service, QStringLiteral("never stored"), &status);
    EXPECT_EQ(status, TDWKeyringStatus::Unavailable) << "an item the locked collection may hide";
    EXPECT_FALSE(keyring->store(service, QStringLiteral("a"), "overwritten", &error));
    EXPECT_EQ(error.code(), TDWKeyringError::Locked);
    EXPECT_EQ(keyring->remove(service, QStringLiteral("a"), &error), TDWKeyringStatus::Unavailable);

    unlockWithPassword(collection, "tidewell-test");
    EXPECT_EQ(secretOf(*keyring, service, QStringLiteral("a"), &status), "kept");
    EXPECT_EQ(status, TDWKeyringStatus::Found);
    g_object_unref(collection);
    g_object_unref(secretService);
}

} // namespace
