#pragma once

#include <memory>
#include <string>

#include "platform/keychain/secure_item_store.hpp"

namespace cadrio {

// The secure item store on the desktop's Secret Service (GNOME Keyring,
// KWallet's bridge, KeePassXC, ...), through libsecret. Items carry the
// schema "zelvano.cadrio.Item" with the string attributes "service",
// "account" and "access_group"; new items go into the default collection.
// Data are binary ("application/octet-stream").
//
// Blocking: every call is a synchronous D-Bus exchange, bounded by D-Bus's
// own time-out. An item in a collection that was locked after connect()
// makes the service show its unlock prompt, and the call waits for the user.
//
// Thread-safety: no lock of ours is held, so that a call waiting for the
// unlock prompt holds up no other caller. Concurrent calls are libsecret's
// to keep apart: each synchronous call runs its own main context on the
// calling thread, and SecretService guards its session and caches itself.
// service_ is set once at construction.
class LibsecretItemStore final : public SecureItemStore {
public:
    // Connects to the Secret Service of the session bus and checks that it can
    // hold items: a default collection exists and is unlocked. Returns null
    // and sets `whyNot` (a short French reason, for the logs) when it cannot.
    static std::unique_ptr<LibsecretItemStore> connect(std::string* whyNot = nullptr);

    ~LibsecretItemStore() override;
    LibsecretItemStore(const LibsecretItemStore&) = delete;
    LibsecretItemStore& operator=(const LibsecretItemStore&) = delete;

    std::optional<SecureItemData> find(const SecureItemKey& key) override;
    bool update(const SecureItemKey& key, std::string_view data) override;
    void add(const SecureItemKey& key, std::string_view data) override;
    bool remove(const SecureItemKey& key) override;
    std::string_view backendName() const override { return "libsecret"; }

private:
    explicit LibsecretItemStore(void* service);

    void* const service_;  // SecretService*, one reference owned
};

}  // namespace cadrio
