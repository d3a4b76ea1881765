#include "platform/keychain/TDWSecretServiceKeyring.h"

// GLib's headers use "signals" as a member name, which Qt defines as a macro.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <cstring>
#include <memory>

namespace {

const SecretSchema *itemSchema()
{
    static const SecretSchema schema = [] {
        SecretSchema s;
        std::memset(&s, 0, sizeof s);
        s.name = TDWSecretServiceKeyring::SchemaName;
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

struct ErrorFree {
    void operator()(GError *e) const { g_error_free(e); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

struct HashUnref {
    void operator()(GHashTable *t) const { g_hash_table_unref(t); }
};
using AttributesPtr = std::unique_ptr<GHashTable, HashUnref>;

struct ValueUnref {
    void operator()(SecretValue *v) const { secret_value_unref(v); }
};
using ValuePtr = std::unique_ptr<SecretValue, ValueUnref>;

struct ObjectUnref {
    void operator()(gpointer o) const { g_object_unref(o); }
};
using CollectionPtr = std::unique_ptr<SecretCollection, ObjectUnref>;

struct ItemListFree {
    void operator()(GList *l) const { g_list_free_full(l, g_object_unref); }
};
using ItemListPtr = std::unique_ptr<GList, ItemListFree>;

bool fail(TDWError *error, TDWKeyringError::Code code, const QString &text)
{
    tdwSetError(error, TDWKeyringError::make(code, text));
    return false;
}

AttributesPtr attributesFor(const QByteArray &service, const QByteArray &account)
{
    return AttributesPtr(secret_attributes_build(itemSchema(), "service", service.constData(), "account", account.constData(), nullptr));
}

// Sets `error` from a failed call; a failure of the bus itself (the service
// went away, the bus closed) also asks for a new connection at the next call.
bool failedCall(GError *err, TDWKeyringError::Code code, const QString &what, TDWError *error, bool *connectionLost)
{
    *connectionLost = err && (err->domain == G_DBUS_ERROR || err->domain == G_IO_ERROR);
    return fail(error, code, QStringLiteral("%1: %2").arg(what, err ? QString::fromUtf8(err->message) : QStringLiteral("unknown error")));
}

bool anyLocked(GList *items)
{
    for (GList *at = items; at; at = at->next) {
        if (secret_item_get_locked(SECRET_ITEM(at->data)))
            return true;
    }
    return false;
}

// The items of one (service, account) pair; Found only when there are some
// and none of them is locked.
TDWKeyringStatus lookUp(SecretService *service, const QString &serviceName, const QString &account, bool loadSecrets,
                        ItemListPtr *items, TDWError *error, bool *connectionLost)
{
    const AttributesPtr attributes = attributesFor(serviceName.toUtf8(), account.toUtf8());
    const int flags = SECRET_SEARCH_ALL | (loadSecrets ? SECRET_SEARCH_LOAD_SECRETS : 0);
    GError *raw = nullptr;
    items->reset(secret_service_search_sync(service, itemSchema(), attributes.get(), SecretSearchFlags(flags), nullptr, &raw));
    const ErrorPtr searchError(raw);
    if (raw) {
        failedCall(raw, TDWKeyringError::Unreadable, QStringLiteral("The Secret Service search failed"), error, connectionLost);
        return TDWKeyringStatus::Unavailable;
    }
    if (anyLocked(items->get())) {
        fail(error, TDWKeyringError::Locked, QStringLiteral("The keyring item is locked"));
        return TDWKeyringStatus::Unavailable;
    }
    if (*items)
        return TDWKeyringStatus::Found;

    // A locked collection may hide its items from a search, so finding
    // nothing proves nothing until the collection new items go to is known
    // to be unlocked. A keyring without such a collection hides nothing.
    const CollectionPtr collection(secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &raw));
    const ErrorPtr aliasError(raw);
    if (raw) {
        failedCall(raw, TDWKeyringError::Unreadable, QStringLiteral("The Secret Service did not name its default collection"), error, connectionLost);
        return TDWKeyringStatus::Unavailable;
    }
    if (collection && secret_collection_get_locked(collection.get())) {
        fail(error, TDWKeyringError::Locked, QStringLiteral("The default keyring is locked"));
        return TDWKeyringStatus::Unavailable;
    }
    return TDWKeyringStatus::NotFound;
}

} // namespace

TDWSecretServiceKeyring::~TDWSecretServiceKeyring()
{
    if (m_service)
        g_object_unref(m_service);
}

QString TDWSecretServiceKeyring::name() const
{
    return QStringLiteral("secret-service");
}

bool TDWSecretServiceKeyring::isAvailable(TDWError *error)
{
    std::lock_guard lock(m_mutex);
    return connection(error) != nullptr;
}

SecretService *TDWSecretServiceKeyring::connection(TDWError *error)
{
    if (m_service)
        return m_service;
    GError *raw = nullptr;
    m_service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &raw);
    ErrorPtr err(raw);
    if (!m_service) {
        bool ignored = false;
        failedCall(raw, TDWKeyringError::ServiceUnavailable, QStringLiteral("No Secret Service answers"), error, &ignored);
    }
    return m_service;
}

void TDWSecretServiceKeyring::forgetConnection()
{
    if (!m_service)
        return;
    g_object_unref(m_service);
    m_service = nullptr;
    // The library keeps its own shared connection; drop it too.
    secret_service_disconnect();
}

TDWKeyringStatus TDWSecretServiceKeyring::find(const QString &service, const QString &account, QByteArray *secret, TDWError *error)
{
    std::lock_guard lock(m_mutex);
    SecretService *connected = connection(error);
    if (!connected)
        return TDWKeyringStatus::Unavailable;
    ItemListPtr items;
    bool lost = false;
    const TDWKeyringStatus status = lookUp(connected, service, account, true, &items, error, &lost);
    if (lost)
        forgetConnection();
    if (status != TDWKeyringStatus::Found)
        return status;
    const ValuePtr value(secret_item_get_secret(SECRET_ITEM(items->data)));
    if (!value) {
        fail(error, TDWKeyringError::Unreadable, QStringLiteral("The Secret Service gave no secret for the item"));
        return TDWKeyringStatus::Unavailable;
    }
    gsize length = 0;
    const gchar *bytes = secret_value_get(value.get(), &length);
    if (secret)
        *secret = QByteArray(bytes, qsizetype(length));
    return TDWKeyringStatus::Found;
}

bool TDWSecretServiceKeyring::store(const QString &service, const QString &account, const QByteArray &secret, TDWError *error)
{
    std::lock_guard lock(m_mutex);
    SecretService *connected = connection(error);
    if (!connected)
        return false;
    ItemListPtr items;
    bool lost = false;
    const TDWKeyringStatus status = lookUp(connected, service, account, false, &items, error, &lost);
    if (lost)
        forgetConnection();
    if (status == TDWKeyringStatus::Unavailable)
        return false;

    const ValuePtr value(secret_value_new(secret.constData(), gssize(secret.size()), "text/plain"));
    GError *raw = nullptr;
    bool stored = false;
    if (status == TDWKeyringStatus::Found) {
        // Setting the secret of the existing item swaps it in one step.
        stored = secret_item_set_secret_sync(SECRET_ITEM(items->data), value.get(), nullptr, &raw);
    } else {
        const AttributesPtr attributes = attributesFor(service.toUtf8(), account.toUtf8());
        stored = secret_service_store_sync(connected, itemSchema(), attributes.get(), SECRET_COLLECTION_DEFAULT,
                                           service.toUtf8().constData(), value.get(), nullptr, &raw);
    }
    const ErrorPtr err(raw);
    if (!stored) {
        failedCall(raw, TDWKeyringError::WriteFailed, QStringLiteral("The Secret Service did not store the item"), error, &lost);
        if (lost)
            forgetConnection();
    }
    return stored;
}

TDWKeyringStatus TDWSecretServiceKeyring::remove(const QString &service, const QString &account, TDWError *error)
{
    std::lock_guard lock(m_mutex);
    SecretService *connected = connection(error);
    if (!connected)
        return TDWKeyringStatus::Unavailable;
    ItemListPtr items;
    bool lost = false;
    const TDWKeyringStatus status = lookUp(connected, service, account, false, &items, error, &lost);
    if (lost)
        forgetConnection();
    if (status != TDWKeyringStatus::Found)
        return status;
    for (GList *at = items.get(); at; at = at->next) {
        GError *raw = nullptr;
        const bool deleted = secret_item_delete_sync(SECRET_ITEM(at->data), nullptr, &raw);
        const ErrorPtr err(raw);
        if (!deleted) {
            failedCall(raw, TDWKeyringError::WriteFailed, QStringLiteral("The Secret Service did not delete the item"), error, &lost);
            if (lost)
                forgetConnection();
            return TDWKeyringStatus::Unavailable;
        }
    }
    return TDWKeyringStatus::Found;
}
