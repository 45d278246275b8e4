#include "platform/keychain/libsecret_item_store.hpp"

#include <libsecret/secret.h>

#include "platform/keychain/keychain_error.hpp"

namespace cadrio {

namespace {

const SecretSchema kSchema = {
    "zelvano.cadrio.Item",
    SECRET_SCHEMA_NONE,
    {
        {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"access_group", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
    0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

constexpr const char* kContentType = "application/octet-stream";

struct GErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};
struct HashTableUnref {
    void operator()(GHashTable* t) const { g_hash_table_unref(t); }
};
struct ValueUnref {
    void operator()(SecretValue* v) const { secret_value_unref(v); }
};
struct ObjectListFree {
    void operator()(GList* l) const { g_list_free_full(l, g_object_unref); }
};
struct ObjectUnref {
    void operator()(gpointer o) const { g_object_unref(o); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;
using Attributes = std::unique_ptr<GHashTable, HashTableUnref>;
using Value = std::unique_ptr<SecretValue, ValueUnref>;
using ItemList = std::unique_ptr<GList, ObjectListFree>;

std::int32_t statusOf(const GError& error) {
    if (error.domain == SECRET_ERROR) {
        switch (error.code) {
        case SECRET_ERROR_IS_LOCKED: return keychain_status::locked;
        case SECRET_ERROR_NO_SUCH_OBJECT: return keychain_status::itemNotFound;
        case SECRET_ERROR_ALREADY_EXISTS: return keychain_status::duplicateItem;
        default: return keychain_status::internalFailure;
        }
    }
    if (error.domain == G_DBUS_ERROR || error.domain == G_IO_ERROR) {
        return keychain_status::notAvailable;
    }
    return keychain_status::internalFailure;
}

// Takes ownership of `error`.
[[noreturn]] void throwError(GError* error) {
    ErrorPtr owned(error);
    throw KeychainError(statusOf(*owned), owned->message ? owned->message : "");
}

// Attribute values travel as D-Bus strings, which must be UTF-8.
Attributes attributesFor(const SecureItemKey& key) {
    requireValidKey(key);
    for (const std::string* text : {&key.service, &key.account, &key.accessGroup}) {
        if (!g_utf8_validate(text->data(), static_cast<gssize>(text->size()), nullptr)) {
            throw KeychainError(keychain_status::invalidParameter, "clé non UTF-8");
        }
    }
    return Attributes(secret_attributes_build(&kSchema, "service", key.service.c_str(), "account",
                                              key.account.c_str(), "access_group",
                                              key.accessGroup.c_str(), nullptr));
}

Value valueOf(std::string_view data) {
    return Value(secret_value_new(data.data(), static_cast<gssize>(data.size()), kContentType));
}

ItemList search(SecretService* service, GHashTable* attributes, int flags) {
    GError* error = nullptr;
    GList* items = secret_service_search_sync(service, &kSchema, attributes,
                                              static_cast<SecretSearchFlags>(flags), nullptr, &error);
    if (error) {
        g_list_free_full(items, g_object_unref);
        throwError(error);
    }
    return ItemList(items);
}

SecretService* asService(void* service) { return static_cast<SecretService*>(service); }

}  // namespace

std::unique_ptr<LibsecretItemStore> LibsecretItemStore::connect(std::string* whyNot) {
    auto refuse = [&](std::string reason, GError* error) -> std::unique_ptr<LibsecretItemStore> {
        if (error) {
            reason += std::string(" (") + error->message + ")";
            g_error_free(error);
        }
        if (whyNot) *whyNot = std::move(reason);
        return nullptr;
    };
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!service) {
        return refuse("aucun Secret Service sur le bus de session", error);
    }
    std::unique_ptr<LibsecretItemStore> store(new LibsecretItemStore(service));

    // A lookup proves that the service answers searches at all.
    Attributes probe(secret_attributes_build(&kSchema, "service", "zelvano.cadrio.probe", nullptr));
    g_list_free_full(secret_service_search_sync(service, &kSchema, probe.get(), SECRET_SEARCH_NONE,
                                                nullptr, &error),
                     g_object_unref);
    if (error) {
        return refuse("le Secret Service ne répond pas aux recherches", error);
    }
    SecretCollection* collection = secret_collection_for_alias_sync(
        service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
    if (error) {
        return refuse("trousseau par défaut inaccessible", error);
    }
    if (!collection) {
        return refuse("aucun trousseau par défaut", nullptr);
    }
    std::unique_ptr<SecretCollection, ObjectUnref> ownedCollection(collection);
    if (secret_collection_get_locked(collection)) {
        return refuse("trousseau par défaut verrouillé", nullptr);
    }
    return store;
}

LibsecretItemStore::LibsecretItemStore(void* service) : service_(service) {}

LibsecretItemStore::~LibsecretItemStore() { g_object_unref(service_); }

std::optional<SecureItemData> LibsecretItemStore::find(const SecureItemKey& key) {
    const Attributes attributes = attributesFor(key);
    const ItemList items = search(asService(service_), attributes.get(),
                                  SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS);
    if (!items) {
        return std::nullopt;
    }
    auto* item = static_cast<SecretItem*>(items->data);
    const Value value(secret_item_get_secret(item));
    if (!value) {
        // Found but its secret could not be loaded: the item stayed locked.
        throw KeychainError(keychain_status::locked);
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    return SecureItemData(bytes, length);
}

bool LibsecretItemStore::update(const SecureItemKey& key, std::string_view data) {
    const Attributes attributes = attributesFor(key);
    const Value value = valueOf(data);
    const ItemList items = search(asService(service_), attributes.get(),
                                  SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK);
    // Two processes racing through update-then-add can leave twins; all of
    // them get the data so that whichever a later search returns is current.
    for (GList* node = items.get(); node; node = node->next) {
        GError* error = nullptr;
        if (!secret_item_set_secret_sync(static_cast<SecretItem*>(node->data), value.get(), nullptr,
                                         &error)) {
            throwError(error);
        }
    }
    return items != nullptr;
}

void LibsecretItemStore::add(const SecureItemKey& key, std::string_view data) {
    const Attributes attributes = attributesFor(key);
    const Value value = valueOf(data);
    const std::string label = key.service + " (" + key.account + ")";
    if (search(asService(service_), attributes.get(), SECRET_SEARCH_NONE)) {
        throw KeychainError(keychain_status::duplicateItem);
    }
    GError* error = nullptr;
    if (!secret_service_store_sync(asService(service_), &kSchema, attributes.get(),
                                   SECRET_COLLECTION_DEFAULT, label.c_str(), value.get(), nullptr,
                                   &error)) {
        throwError(error);
    }
}

bool LibsecretItemStore::remove(const SecureItemKey& key) {
    const Attributes attributes = attributesFor(key);
    GError* error = nullptr;
    const gboolean removed =
        secret_service_clear_sync(asService(service_), &kSchema, attributes.get(), nullptr, &error);
    if (error) {
        throwError(error);
    }
    return removed;
}

}  // namespace cadrio
